#!/bin/bash
# Benchmark of the file picker's add action and folder listing under Wine.
#   tools/bench-picker.sh [mingw-x64|mingw-i686|all] [--rounds N]
# "all" runs the 64-bit build, then the 32-bit one, and prints their ratios side by side.
# Builds the preset when needed, then works in a fresh copy of the template
# Wine prefix on its own Xvfb display: registers the control and runs
# programs/bench/picker_bench.exe, which generates its trees once in
# build/<preset>/picker-bench (10,000 files in 1,010 folders, and one folder
# of 5,000 files) and prints the medians and their ratios.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-mingw-x64}
[ $# -gt 0 ] && shift
if [ "$preset" = all ]; then
  out=$(mktemp)
  trap 'rm -f "$out"' EXIT
  rc=0
  for p in mingw-x64 mingw-i686; do
    echo "== $p"
    "$0" "$p" "$@" | tee -a "$out" | sed "s/^RATIO/RATIO $p/" || rc=1
  done
  echo "== ratios (64-bit | 32-bit)"
  for what in scan/walk list/enumeration; do
    printf '%s: %s | %s\n' "$what" $(grep "^RATIO $what" "$out" | sed 's/^[^:]*: \([0-9.]*\).*/\1/')
  done
  exit $rc
fi
case $preset in mingw-x64) arch=x86_64 ;; mingw-i686) arch=i686 ;; *) echo "unknown preset $preset" >&2; exit 2 ;; esac
build=$ROOT/build/$preset

if [ "$arch" = i686 ] && [ -z "${W32_IN_NS:-}" ]; then
  exec "$ROOT/tools/win32-env" "$0" "$preset" "$@"
fi

# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"
if [ ! -f "$build/programs/bench/picker_bench.exe" ]; then
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build "$build" -j2 >/dev/null)
fi
tavrine_ensure_template "$build"
tavrine_fresh_prefix "$build"
tavrine_export_env "$arch" "$build"
tavrine_start_xvfb
trap tavrine_cleanup EXIT
export TAVRINE_WINE_TIMEOUT=${TAVRINE_WINE_TIMEOUT:-1800}
"$ROOT/tools/wine-run.sh" --regsvr32 "$build/TavrineControl.DLL"
work="Z:${build//\//\\}\\picker-bench"
"$ROOT/tools/wine-run.sh" "$build/programs/bench/picker_bench.exe" "$work" "$@" 2>&1 | grep -v 'FS volume label'
