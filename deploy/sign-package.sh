#!/bin/bash
# Signs a release of the control with the deployer's own code-signing certificate:
# the DLL first, then a cabinet packed from the signed DLL, then the cabinet itself.
# A browser refuses an unsigned code download, and the DLL keeps its own signature
# once it is unpacked and registered.
#
#   deploy/sign-package.sh --build <dir> --out <dir> <key options> [options]
#     --build DIR        a configured and built mingw-i686 tree (build/mingw-i686)
#     --out DIR          where the signed TavrineControl.DLL and TavrineControl.cab go
#   key, one of:
#     --certs FILE --key FILE   certificate chain (PEM or SPC/DER) and private key (PEM or DER)
#     --pkcs12 FILE             certificate and key in one PKCS#12 (.pfx) file
#     --pass-file FILE          the key's password, first line of FILE (never on the command line)
#   options:
#     --timestamp URL    RFC 3161 time-stamping server: the signature stays valid after the
#                        certificate expires. Every release should use one.
#     --cafile FILE      verify both signatures against these trusted certificates afterwards
#     --allow-http       sign a build whose update server address is not https (test runs only)
#     --unlocked         sign a DLL built without a site list (TAVRINE_ALLOWED_SITES) or without
#                        a setup publisher (TAVRINE_SETUP_PUBLISHER): any page could then drive
#                        the control, or it would run any setup program its update server sends
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
OSSLSIGNCODE=${OSSLSIGNCODE:-osslsigncode}
DESCRIPTION="Tavrine File Share Control 5"

die() { echo "sign-package: $*" >&2; exit 1; }
usage() { sed -n '7,21p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }

build= out= certs= key= pkcs12= passfile= timestamp= cafile= allow_http=0 unlocked=0
while [ $# -gt 0 ]; do
  case $1 in
    --build) build=${2:?}; shift 2 ;;
    --out) out=${2:?}; shift 2 ;;
    --certs) certs=${2:?}; shift 2 ;;
    --key) key=${2:?}; shift 2 ;;
    --pkcs12) pkcs12=${2:?}; shift 2 ;;
    --pass-file) passfile=${2:?}; shift 2 ;;
    --timestamp) timestamp=${2:?}; shift 2 ;;
    --cafile) cafile=${2:?}; shift 2 ;;
    --allow-http) allow_http=1; shift ;;
    --unlocked) unlocked=1; shift ;;
    -h | --help) usage ;;
    *) echo "sign-package: unknown argument $1" >&2; usage ;;
  esac
done
[ -n "$build" ] && [ -n "$out" ] || usage
if [ -n "$pkcs12" ]; then
  [ -z "$certs$key" ] || die "give either --pkcs12 or --certs and --key, not both"
  keyargs=(-pkcs12 "$pkcs12")
else
  [ -n "$certs" ] && [ -n "$key" ] || die "a certificate and key are needed (--certs and --key, or --pkcs12)"
  keyargs=(-certs "$certs" -key "$key")
fi
[ -z "$passfile" ] || keyargs+=(-readpass "$passfile")

# What the build was configured with, from its cache.
cache_value() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt" | head -1; }
[ -f "$build/CMakeCache.txt" ] || die "$build is not a configured build tree"
url=$(cache_value TAVRINE_UPDATE_URL)
# The control runs the setup program it fetches from this address: over plain http anyone
# on the path could hand it a program of their own.
case $url in
  https://?*) ;;
  *) [ "$allow_http" = 1 ] ||
       die "the build's TAVRINE_UPDATE_URL is '$url'; a release needs an https address (reconfigure with -DTAVRINE_UPDATE_URL=https://...)" ;;
esac
dll=$build/TavrineControl.DLL
inf=$build/TavrineControl.inf
[ -f "$dll" ] || die "$dll is missing: build first"
[ -f "$inf" ] || die "$inf is missing: configure the build again"
machine=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); from pecheck import PEFile
print(PEFile(sys.argv[2]).machine)' "$HERE/../tools" "$dll") || die "cannot read $dll"
[ "$machine" = i386 ] || die "$dll is built for $machine; the download package holds the 32-bit control"

# What the DLL itself says it locks (its BUILDLOCKS resource, from the build's configuration):
# the file being signed is the one that counts, whatever the cache says now.
locks=$(python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); from pecheck import PEFile
raw = PEFile(sys.argv[2]).resource_bytes("BUILDLOCKS", 1)
sys.stdout.write(raw.decode("ascii", "replace") if raw is not None else "")' "$HERE/../tools" "$dll") ||
  die "cannot read $dll"
lock_value() { printf '%s' "$locks" | sed -n "s/^$1=//p" | head -1; }
sites=$(lock_value sites)
publisher=$(lock_value publisher)
if [ "$unlocked" != 1 ]; then
  [ -n "$locks" ] ||
    die "$dll does not say what it locks (no BUILDLOCKS resource); rebuild it, or pass --unlocked to release it unlocked"
  [ -n "$sites" ] ||
    die "$dll was built without a site list: any page could drive it. Reconfigure with -DTAVRINE_ALLOWED_SITES=..., or pass --unlocked to release it unlocked"
  [ -n "$publisher" ] ||
    die "$dll was built without a setup publisher: it would run any setup program its update server sends. Reconfigure with -DTAVRINE_SETUP_PUBLISHER=<pin>, or pass --unlocked to release it unlocked"
fi

sign() {
  local in=$1 result=$2
  local args=(sign "${keyargs[@]}" -h sha256 -n "$DESCRIPTION")
  [ -z "$timestamp" ] || args+=(-ts "$timestamp")
  rm -f "$result"
  "$OSSLSIGNCODE" "${args[@]}" -in "$in" -out "$result" >/dev/null ||
    die "signing $in failed"
}

mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrine-sign.XXXXXX")
trap 'rm -rf "$work"' EXIT

sign "$dll" "$work/TavrineControl.DLL"
"$HERE/make-cab.sh" "$work/unsigned.cab" "$work/TavrineControl.DLL" "$inf"
sign "$work/unsigned.cab" "$work/TavrineControl.cab"

if [ -n "$cafile" ]; then
  for f in TavrineControl.DLL TavrineControl.cab; do
    "$OSSLSIGNCODE" verify -CAfile "$cafile" -in "$work/$f" >"$work/verify.log" 2>&1 || {
      cat "$work/verify.log" >&2
      die "the signature of $f does not verify against $cafile"
    }
  done
fi
mv -f "$work/TavrineControl.DLL" "$work/TavrineControl.cab" "$out/"
echo "sign-package: signed $out/TavrineControl.DLL and $out/TavrineControl.cab (update server $url)"
if [ -n "$sites" ] && [ -n "$publisher" ]; then
  echo "sign-package: locked to sites $sites; setup publisher $publisher"
else
  echo "sign-package: released UNLOCKED (sites: ${sites:-none}; setup publisher: ${publisher:-none})"
fi
