#!/bin/bash
# Benchmark of the file picker's add action and folder listing under Wine, at
# several lengths of the listed items' paths, in one run.
#   tools/bench-picker.sh [mingw-x64|mingw-i686|all] [--rounds N] [--setting quiet|one-core|busy|all]
# "all" runs the 64-bit build, then the 32-bit one, and prints their ratios side by side.
# Settings: quiet (as the machine is), one-core (the whole run bound to CPU 0 with
# taskset, Wine's server included), busy (two busy loops beside it, unbound); "all"
# runs the three in turn. Builds the preset when needed, makes the folder sets once
# on the Unix side in build/<preset>/picker-bench/sets (tools/make-bench-sets.py:
# items' paths of 40, 64, 100 and 200 bytes, and 120 bytes of Korean names), maps
# them as drive P:, then works in a fresh copy of the template Wine prefix on its
# own Xvfb display: registers the control and runs programs/bench/picker_bench.exe.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-mingw-x64}
[ $# -gt 0 ] && shift
rounds=5
setting=quiet
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift 2 ;;
    --setting) setting=$2; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
case $setting in quiet|one-core|busy|all) ;; *) echo "unknown setting $setting" >&2; exit 2 ;; esac

host_line() {
  local model cores
  model=$(grep -m1 '^model name' /proc/cpuinfo | sed 's/^[^:]*: *//')
  cores=$(nproc --all)
  echo "host: ${model:-unknown CPU}, $cores cores online ($(nproc) usable), load $(cut -d' ' -f1-3 /proc/loadavg)"
}

if [ "$setting" = all ]; then
  out=$(mktemp)
  trap 'rm -f "$out"' EXIT
  rc=0
  for s in quiet one-core busy; do
    echo "=== setting $s"
    "$0" "$preset" --rounds "$rounds" --setting "$s" | tee -a "$out" | sed "s/^RATIO/RATIO $s/" || rc=1
  done
  exit $rc
fi
if [ "$preset" = all ]; then
  out=$(mktemp)
  trap 'rm -f "$out"' EXIT
  rc=0
  for p in mingw-x64 mingw-i686; do
    echo "== $p"
    "$0" "$p" --rounds "$rounds" --setting "$setting" | tee -a "$out" | sed "s/^RATIO/RATIO $p/" || rc=1
  done
  echo "== ratios by length of the items' paths (64-bit | 32-bit), setting $setting"
  for what in scan/walk list/enumeration; do
    for len in $(grep "^RATIO [0-9]* $what" "$out" | awk '{print $2}' | sort -un); do
      printf '%s at %s bytes: %s | %s\n' "$what" "$len" \
        $(grep "^RATIO $len $what" "$out" | sed 's/^[^:]*: \([0-9.]*\).*/\1/')
    done
  done
  exit $rc
fi
case $preset in mingw-x64) arch=x86_64 ;; mingw-i686) arch=i686 ;; *) echo "unknown preset $preset" >&2; exit 2 ;; esac
build=$ROOT/build/$preset

if [ "$setting" = one-core ] && [ -z "${TAVRINE_BENCH_BOUND:-}" ]; then
  # Bound before anything starts, so that Wine's server and qemu are bound too.
  TAVRINE_BENCH_BOUND=1 exec taskset -c 0 "$0" "$preset" --rounds "$rounds" --setting one-core
fi
if [ "$arch" = i686 ] && [ -z "${W32_IN_NS:-}" ]; then
  exec "$ROOT/tools/win32-env" "$0" "$preset" --rounds "$rounds" --setting "$setting"
fi

# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"
if [ ! -f "$build/programs/bench/picker_bench.exe" ]; then
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build "$build" -j2 >/dev/null)
fi
sets=$build/picker-bench/sets
echo "$(host_line); setting: $setting$( [ "$setting" = one-core ] && echo " (taskset -c 0)")"
echo "making the folder sets under $sets (once)..."
mapfile -t lines < <(python3 "$ROOT/tools/make-bench-sets.py" "$sets" P)
tavrine_ensure_template "$build"
tavrine_fresh_prefix "$build"
tavrine_export_env "$arch" "$build"
ln -sfn "$sets" "$WINEPREFIX/dosdevices/p:"
tavrine_start_xvfb
busy=()
cleanup() {
  for pid in "${busy[@]}"; do kill "$pid" 2>/dev/null || true; done
  tavrine_cleanup
}
trap cleanup EXIT
export TAVRINE_WINE_TIMEOUT=${TAVRINE_WINE_TIMEOUT:-1800}
"$ROOT/tools/wine-run.sh" --regsvr32 "$build/TavrineControl.DLL"
args=()
for line in "${lines[@]}"; do
  echo "set of ${line%%$'\t'*} bytes: ${line#*$'\t'} (on the Unix side under $sets)"
  args+=("${line#*$'\t'}")
done
if [ "$setting" = busy ]; then
  for _ in 1 2; do
    (while :; do :; done) &
    busy+=($!)
  done
fi
"$ROOT/tools/wine-run.sh" "$build/programs/bench/picker_bench.exe" --rounds "$rounds" "${args[@]}" 2>&1 |
  grep -v 'FS volume label'
echo "The figures depend on the machine and its load (see the host line), the setting, the build"
echo "and the length of the listed paths; each ratio is the picker's median over the plain"
echo "enumeration's median, both measured in the same rounds of this run."
