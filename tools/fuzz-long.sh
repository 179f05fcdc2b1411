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

calls=${2:-1000000}
seed=${3:-}
tavrine_tool_prepare "${1:-mingw-x64}" TavrineControl robustness_fuzz
case $? in
  0) ;;
  2) echo "usage: tools/fuzz-long.sh [mingw-x64|mingw-i686] [calls] [seed]" >&2; exit 2 ;;
  *) exit 1 ;;
esac
# A long run takes its time: the per-call watchdog inside the fuzzer bounds each call.
export TAVRINE_WINE_TIMEOUT=${TAVRINE_WINE_TIMEOUT:-36000}
export FUZZ_ARGS="--calls $calls${seed:+ --seed $seed} ${TAVRINE_FUZZ_EXTRA:-}"

run() {
  "$ROOT/tools/wine-run.sh" --regsvr32 "$TAVRINE_DLL" || return 1
  # shellcheck disable=SC2086
  "$ROOT/tools/wine-run.sh" "$build/tests/robustness/robustness_fuzz.exe" $FUZZ_ARGS
}
tavrine_tool_run run
