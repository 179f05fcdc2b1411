#!/bin/bash
# Runs the dispatch fuzzer for a long budget under Wine and prints its figures.
#   tools/fuzz-long.sh [mingw-x64|mingw-i686] [calls (default 1000000)] [seed]
# TAVRINE_FUZZ_EXTRA passes more fuzzer options (e.g. "--without 3").
# Builds the fuzzer, takes a fresh copy of the template prefix, registers the control and runs
# the fuzzer on a private Xvfb display (the picker opens now and then and is closed again).
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

preset=${1:-mingw-x64}
calls=${2:-1000000}
seed=${3:-}
case $preset in
  mingw-x64) arch=x86_64 ;;
  mingw-i686) arch=i686 ;;
  *) echo "usage: tools/fuzz-long.sh [mingw-x64|mingw-i686] [calls] [seed]" >&2; exit 2 ;;
esac
build="$ROOT/build/$preset"

(cd "$ROOT" && cmake --preset "$preset" >/dev/null) || exit 1
cmake --build "$build" -j2 --target PrefixSetup TavrineControl robustness_fuzz >/dev/null || exit 1
tavrine_ensure_template "$build" || exit 1
trap tavrine_cleanup EXIT
trap 'exit 130' INT TERM
tavrine_fresh_prefix "$build" || exit 1
tavrine_start_xvfb || exit 1
tavrine_export_env "$arch" "$build"
export TAVRINE_DLL="$build/TavrineControl.DLL" TAVRINE_BUILD_DIR="$build" TAVRINE_SOURCE_DIR="$ROOT"
# A long run takes its time: the per-call watchdog inside the fuzzer bounds each call.
export TAVRINE_WINE_TIMEOUT=${TAVRINE_WINE_TIMEOUT:-36000}
export FUZZ_ARGS="--calls $calls${seed:+ --seed $seed} ${TAVRINE_FUZZ_EXTRA:-}"

run() {
  "$ROOT/tools/wine-run.sh" --regsvr32 "$TAVRINE_DLL" || return 1
  # shellcheck disable=SC2086
  "$ROOT/tools/wine-run.sh" "$build/tests/robustness/robustness_fuzz.exe" $FUZZ_ARGS
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
