#!/bin/bash
# Benchmark of the browser bridge against the in-process control under Wine.
#   tools/bench-bridge.sh [mingw-x64|mingw-i686] [--rounds N] [--calls N]
# Builds what it needs, makes (once per build tree, on the Unix side) a folder of
# 10,000 files in build/<preset>/bridge-bench, registers the control in a fresh copy
# of the template prefix on its own Xvfb display and runs
# programs/bench/bridge_bench.exe, which prints both pick times, their ratio, the
# events per second and the round trip of one call.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-mingw-x64}
[ $# -gt 0 ] && shift
case $preset in mingw-x64) arch=x86_64 ;; mingw-i686) arch=i686 ;; *) echo "unknown preset $preset" >&2; exit 2 ;; esac
build=$ROOT/build/$preset

if [ "$arch" = i686 ] && [ -z "${W32_IN_NS:-}" ]; then
  exec "$ROOT/tools/win32-env" "$0" "$preset" "$@"
fi

# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"
if [ ! -f "$build/programs/bench/bridge_bench.exe" ] || [ ! -f "$build/bridge/TavrineBridge.exe" ]; then
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null &&
     cmake --build "$build" -j2 --target PrefixSetup bridge_bench >/dev/null)
fi
work=$build/bridge-bench
tavrine_ensure_template "$build"
tavrine_fresh_prefix "$build"
tavrine_export_env "$arch" "$build"
# The bridge tests' folder of 10,000 files (made once; also mapped as drive U:).
"$ROOT/tests/bridge/make-tree.sh" "$work" >/dev/null
tavrine_start_xvfb
trap tavrine_cleanup EXIT
export TAVRINE_WINE_TIMEOUT=${TAVRINE_WINE_TIMEOUT:-1800}
"$ROOT/tools/wine-run.sh" --regsvr32 "$build/TavrineControl.DLL"
winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }
"$ROOT/tools/wine-run.sh" "$build/programs/bench/bridge_bench.exe" "$(winpath "$build/bridge/TavrineBridge.exe")" \
    "$(winpath "$work")" "$@" 2>&1 | grep -v 'FS volume label'
