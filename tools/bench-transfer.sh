#!/bin/bash
# Runs the transfer benchmark (tests/transfer/TransferBench.cpp) under Wine and prints its figures.
#   tools/bench-transfer.sh [mingw-x64|mingw-i686]
# Builds the preset's transfer_bench target, takes a fresh copy of the template prefix,
# registers the control and runs the benchmark on a private Xvfb display. The 32-bit build
# runs in the qemu namespace, so its figures include the emulation.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

preset=${1:-mingw-x64}
case $preset in
  mingw-x64) arch=x86_64 ;;
  mingw-i686) arch=i686 ;;
  *) echo "usage: tools/bench-transfer.sh [mingw-x64|mingw-i686]" >&2; exit 2 ;;
esac
build="$ROOT/build/$preset"

(cd "$ROOT" && cmake --preset "$preset" >/dev/null) || exit 1
cmake --build "$build" -j2 --target PrefixSetup transfer_bench >/dev/null || exit 1
tavrine_ensure_template "$build" || exit 1
trap tavrine_cleanup EXIT
trap 'exit 130' INT TERM
tavrine_fresh_prefix "$build" || exit 1
tavrine_start_xvfb || exit 1
tavrine_export_env "$arch" "$build"
export TAVRINE_DLL="$build/TavrineControl.DLL" TAVRINE_BUILD_DIR="$build" TAVRINE_SOURCE_DIR="$ROOT"

run() {
  "$ROOT/tools/wine-run.sh" --regsvr32 "$TAVRINE_DLL" || return 1
  "$ROOT/tools/wine-run.sh" "$build/tests/transfer/transfer_bench.exe"
}
if [ "$arch" = i686 ]; then
  export -f run
  export ROOT build
  "$ROOT/tools/win32-env" bash -c 'run; rc=$?
    timeout 30 /usr/lib/wine/wineserver -w </dev/null || timeout 10 /usr/lib/wine/wineserver -k </dev/null
    exit $rc'
else
  run
fi
