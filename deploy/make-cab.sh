#!/bin/bash
# Packs the control and its .inf into the code-download cabinet.
#   deploy/make-cab.sh <out.cab> <TavrineControl.DLL> <TavrineControl.inf>
# The members get the names the .inf uses whatever the input files are called, so the
# build (unsigned DLL) and deploy/sign-package.sh (signed DLL) make the same layout.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: make-cab.sh <out.cab> <TavrineControl.DLL> <TavrineControl.inf>" >&2
  exit 2
fi
out=$1 dll=$2 inf=$3
GCAB=${GCAB:-gcab}

tmp=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-cab.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
cp "$dll" "$tmp/TavrineControl.DLL"
cp "$inf" "$tmp/TavrineControl.inf"
# -z: MSZIP, as browsers expect; -n is implied by packing from the folder itself.
(cd "$tmp" && "$GCAB" -c -z package.cab TavrineControl.inf TavrineControl.DLL)
# Replace the old cabinet only once the new one is whole.
mv -f "$tmp/package.cab" "$out.tmp"
mv -f "$out.tmp" "$out"
