#!/bin/bash
# Photographs the install dialog while it downloads a setup program, and saves
# two pictures: docs/install-dialog.png (the progress line) and
# docs/install-dialog-installing.png (the setup program running).
#   tools/screenshot-install.sh
# (the 64-bit build: the dialog is the same in both builds, and it starts faster)
# Builds the preset as tools/run-tests.sh does, starts the local update server
# with a package whose setup program is served slowly, runs the install check
# (tests/install/InstallShow.cpp) in a fresh Wine prefix on a private Xvfb
# display, and takes the picture with ImageMagick's `import` once the progress
# line shows.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

preset=mingw-x64
arch=x86_64
build="$ROOT/build/$preset"
port=$(tavrine_test_port "$build")
www="$build/screenshot-www"
pidfile="$build/screenshot-server.pid"
out="$ROOT/docs/install-dialog.png"
out2="$ROOT/docs/install-dialog-installing.png"

tavrine_log "$preset: configuring and building (log in build/$preset/screenshot-build.log)"
mkdir -p "$build" "$ROOT/docs"
if ! { (cd "$ROOT" && cmake --preset "$preset" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port") &&
       cmake --build "$build" -j"${TAVRINE_BUILD_JOBS:-2}" \
             --target PrefixSetup TavrineControl install_show install_setup_fixture
     } >"$build/screenshot-build.log" 2>&1; then
  grep -E -A5 'error|Error [0-9]' "$build/screenshot-build.log" | head -60
  tavrine_log "$preset: build FAILED"
  exit 1
fi

server() { python3 "$ROOT/tests/install/update_server.py" "$@"; }
rm -rf "$www"
server stage --root "$www" --fixture "$build/tests/install/install_setup_fixture.exe" \
       --version $'[Version]\r\nver=5.1.0.7\r\n' --mode "slow 8192 250" --delay 8000 || exit 1
server start --port "$port" --root "$www" --pidfile "$pidfile" --lifetime 300 || exit 1

tavrine_ensure_template "$build" || { server stop --pidfile "$pidfile"; exit 1; }
(
  trap 'tavrine_cleanup; python3 "$ROOT/tests/install/update_server.py" stop --pidfile "$pidfile"' EXIT
  trap 'exit 130' INT TERM
  tavrine_fresh_prefix "$build" || exit 1
  tavrine_start_xvfb || exit 1
  tavrine_export_env "$arch" "$build"
  # Without a window manager on the display, Wine draws the caption itself only
  # for undecorated windows.
  timeout 60 "$ROOT/tools/wine-run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f \
    >/dev/null 2>&1
  dll="Z:${build//\//\\}\\TavrineControl.DLL"
  runner=("$ROOT/tools/wine-run.sh" "$build/programs/installshow/install_show.exe" "$dll" main)
  tavrine_log "$preset: running the install check on display $DISPLAY"
  TAVRINE_WINE_TIMEOUT=240 "${runner[@]}" &
  check=$!

  # The first picture once a few pieces of the setup program have arrived, the
  # second while the setup program runs (it waits before it writes its result).
  shot=$(mktemp --suffix=.png)
  taken=0
  snap() { import -display "$DISPLAY" -window root "$shot" && convert "$shot" -trim +repage "$1" &&
           tavrine_log "picture saved as ${1#"$ROOT"/}"; }
  for ((i = 0; i < 120; i++)); do
    sleep 1
    kill -0 "$check" 2>/dev/null || break
    if [ $taken -eq 0 ] && grep -q '^/vude/setup.exe 200' "$www/_requests.log" 2>/dev/null; then
      sleep 6
      snap "$out" && taken=1
    fi
    if [ $taken -eq 1 ] && [ -f "$build/wineprefix/drive_c/Program Files/Tavrine/ver.ini" ]; then
      sleep 2
      snap "$out2" && taken=2
    fi
  done
  wait "$check"
  rc=$?
  rm -f "$shot"
  [ $taken -eq 2 ] || { tavrine_log "pictures missing"; exit 1; }
  exit $rc
)
