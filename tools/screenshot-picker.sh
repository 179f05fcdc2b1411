#!/bin/bash
# Takes docs/picker.png: the file picker listing the folder T:\Data of the
# picker tests' tree, with a folder and a file selected.
#   tools/screenshot-picker.sh [mingw-x64|mingw-i686] [output.png]
# Builds the preset when needed, then works in a fresh copy of the template
# Wine prefix on its own Xvfb display: registers the control, maps the tree
# as T:, starts a minimal page host that opens the picker, drives the picker
# with tests/picker's driver, grabs the screen and closes the picker.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
preset=${1:-mingw-x64}
out=${2:-$ROOT/docs/picker.png}
case $preset in mingw-x64) arch=x86_64 ;; mingw-i686) arch=i686 ;; *) echo "unknown preset $preset" >&2; exit 2 ;; esac
build=$ROOT/build/$preset

# The 32-bit build runs, wineserver and all, inside one qemu namespace.
if [ "$arch" = i686 ] && [ -z "${W32_IN_NS:-}" ]; then
  exec "$ROOT/tools/win32-env" "$0" "$@"
fi

# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"
if [ ! -f "$build/programs/pickerdriver/picker_host.exe" ]; then
  (cd "$ROOT" && cmake --preset "$preset" >/dev/null && cmake --build "$build" -j2 >/dev/null)
fi
tavrine_ensure_template "$build"
tavrine_fresh_prefix "$build"
tavrine_export_env "$arch" "$build"
tavrine_start_xvfb
host_pid=""
finish() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  tavrine_cleanup
}
trap finish EXIT

run() { "$ROOT/tools/wine-run.sh" "$@"; }
bash "$ROOT/tests/picker/make-tree.sh" "$build/tests/picker/tree" >/dev/null
# Without a window manager nobody draws captions: let Wine draw its own frames.
run reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null
run reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
run --regsvr32 "$build/TavrineControl.DLL"

run "$build/programs/pickerdriver/picker_host.exe" --root 'T:\' --folder 'T:\Data' &
host_pid=$!
run "$build/programs/pickerdriver/picker_driver.exe" --wait 60000 --list --select 'Photos|notes.txt' --pause 1500
shot=$(mktemp --suffix=.png)
import -display "$DISPLAY" -window root "$shot"
mkdir -p "$(dirname "$out")"
convert "$shot" -trim +repage "$out"
rm -f "$shot"
run "$build/programs/pickerdriver/picker_driver.exe" --close
wait "$host_pid" || true
host_pid=""
echo "screenshot: $out ($(identify -format '%wx%h' "$out"))"
