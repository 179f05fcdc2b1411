#!/bin/bash
# Demonstration session: builds the control, registers it in a fresh private Wine
# prefix and runs the sample page's script (examples/page.js, driven by
# examples/demo.js) in the page host, which prints what the page receives.
#   tools/demo.sh [mingw-i686|mingw-x64]
# The default is the product, the 32-bit build (its Wine processes run under qemu).
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

# --inside: the Wine part, run in the environment the outer part prepared
# (for the 32-bit build inside the qemu namespace, wineserver included).
if [ "${1:-}" = --inside ]; then
  build=$2
  run() { "$ROOT/tools/wine-run.sh" "$@"; }
  winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }
  tavrine_log "Registering $build/TavrineControl.DLL"
  run --regsvr32 "$build/TavrineControl.DLL" || exit 1
  tavrine_log "Running examples/page.js in the page host"
  echo
  # The page host writes UTF-8; a failing page exits non-zero.
  run "$build/tests/tools/PageHost.exe" "$(winpath "$ROOT/examples/page.js")" \
      "$(winpath "$ROOT/examples/demo.js")"
  rc=$?
  echo
  timeout 30 "$TAVRINE_WINESERVER" -w </dev/null || timeout 10 "$TAVRINE_WINESERVER" -k </dev/null
  exit $rc
fi

preset=${1:-mingw-i686}
case $preset in
  mingw-i686) arch=i686 ;;
  mingw-x64) arch=x86_64 ;;
  *) echo "usage: tools/demo.sh [mingw-i686|mingw-x64]" >&2; exit 2 ;;
esac
build="$ROOT/build/$preset"

tavrine_log "$preset: configuring and building (log in build/$preset/demo-build.log)"
mkdir -p "$build"
# Configured as tools/run-tests.sh does (the local test update server's address), so
# that the two never make each other rebuild.
port=$(tavrine_test_port "$build")
if ! { (cd "$ROOT" && cmake --preset "$preset" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port") &&
       cmake --build "$build" -j"${TAVRINE_BUILD_JOBS:-2}" --target PrefixSetup TavrineControl PageHost
     } >"$build/demo-build.log" 2>&1; then
  grep -E -A5 'error|Error [0-9]' "$build/demo-build.log" | head -100
  tavrine_log "$preset: build FAILED"
  exit 1
fi

tavrine_ensure_template "$build" || exit 1
(
  trap tavrine_cleanup EXIT
  trap 'exit 130' INT TERM
  tavrine_fresh_prefix "$build" || exit 1
  tavrine_start_xvfb || exit 1
  tavrine_export_env "$arch" "$build"
  tavrine_log "$preset: fresh prefix $WINEPREFIX, display $DISPLAY"
  if [ "$arch" = i686 ]; then
    timeout 900 "$ROOT/tools/win32-env" "$0" --inside "$build"
  else
    timeout 900 "$0" --inside "$build"
  fi
)
rc=$?
if [ $rc -eq 0 ]; then
  tavrine_log "$preset: demonstration finished"
else
  tavrine_log "$preset: demonstration FAILED (exit code $rc)"
fi
exit $rc
