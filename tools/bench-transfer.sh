#!/bin/bash
# Runs the transfer benchmark (programs/bench/TransferBench.cpp) under Wine and prints its figures.
#   tools/bench-transfer.sh [mingw-x64|mingw-i686]
# Builds the preset's transfer_bench target, takes a fresh copy of the template prefix,
# registers the control and runs the benchmark on a private Xvfb display. The 32-bit build
# runs in the qemu namespace, so its figures include the emulation.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

tavrine_tool_prepare "${1:-mingw-x64}" transfer_bench
case $? in
  0) ;;
  2) echo "usage: tools/bench-transfer.sh [mingw-x64|mingw-i686]" >&2; exit 2 ;;
  *) exit 1 ;;
esac

run() {
  "$ROOT/tools/wine-run.sh" --regsvr32 "$TAVRINE_DLL" || return 1
  "$ROOT/tools/wine-run.sh" "$build/programs/bench/transfer_bench.exe"
}
tavrine_tool_run run
