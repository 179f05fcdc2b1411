#!/bin/bash
# Demonstration session: builds the control, registers it in a fresh private Wine
# prefix and runs the sample page's script (examples/page.js through the page
# script web/tavrine.js, driven by examples/demo.js) in the page host, which
# prints what the page receives.
# The page goes the main road: it checks the control, allows pop-ups, picks a
# folder and a file in the file picker (worked by the picker driver, as a user
# would), uploads them, which first installs the companion programs from a local
# update server with the progress dialog, downloads a batch and passes a web
# link. Afterwards the session prints what the companion programs received.
#   tools/demo.sh [mingw-i686|mingw-x64]
#   tools/demo.sh --browser [chromium|firefox]
# The default is the product, the 32-bit build (its Wine processes run under qemu).
# --browser goes the same road in Chromium (or Firefox ESR) instead of the page host:
# the page script reaches the browser extension, which hands each call to the native
# host TavrineBridge.exe (the 64-bit build, under Wine); web/tests/browser-road.sh.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }

# --inside: the Wine part, run in the environment the outer part prepared
# (for the 32-bit build inside the qemu namespace, wineserver included).
if [ "${1:-}" = --inside ]; then
  build=$2 demo=$3
  run() { "$ROOT/tools/wine-run.sh" "$@"; }
  tavrine_log "Registering $build/TavrineControl.DLL"
  run --regsvr32 "$build/TavrineControl.DLL" || exit 1
  # The user's part in the picker: choose drive T:, open 자료, add the folder 사진
  # and the file 메모.txt, close. If a step fails the picker is closed all the
  # same, so that the page's call returns.
  work_picker() {
    local driver="$build/programs/pickerdriver/picker_driver.exe"
    TAVRINE_WINE_TIMEOUT=300 run "$driver" --wait 240000 --location "(T:)" --open "자료" \
        --select "사진|메모.txt" --pause 500 --add --pause 500 --close >>"$demo/picker.log" 2>&1 && return 0
    TAVRINE_WINE_TIMEOUT=60 run "$driver" --wait 5000 --close >>"$demo/picker.log" 2>&1
    return 1
  }
  work_picker &
  driver=$!
  tavrine_log "Running examples/page.js in the page host"
  echo
  # The page host writes UTF-8; a failing page exits non-zero. Wine's own note
  # about the Z: drive's volume label (the picker lists every drive) is noise here.
  run "$build/programs/pagehost/PageHost.exe" "$(winpath "$ROOT/web/tavrine.js")" "$(winpath "$ROOT/examples/page.js")" \
      "$(winpath "$ROOT/examples/demo.js")" 2> >(grep -v 'FS volume label and serial are not available' >&2)
  rc=$?
  echo
  wait "$driver" || { echo "The picker driver failed:"; cat "$demo/picker.log"; rc=1; }
  # The companions read their list files every 100 ms: let the log settle (bounded).
  size=-1
  for ((i = 0; i < 30; i++)); do
    now=$(stat -c %s "$demo/companion.log" 2>/dev/null || echo 0)
    [ "$now" = "$size" ] && break
    size=$now
    sleep 0.5
  done
  echo "== The browser's pop-up allow list"
  timeout 60 "$TAVRINE_WINE" reg query 'HKCU\Software\Microsoft\Internet Explorer\New Windows\Allow' \
      </dev/null 2>/dev/null | iconv -f CP949 -t UTF-8 | tr -d '\r' | grep -v '^$' | sed 's/^/  /'
  # The companions keep running, as they would for the user; the demonstration ends them.
  timeout 30 "$TAVRINE_WINESERVER" -k </dev/null
  exit $rc
fi

if [ "${1:-}" = --browser ]; then
  browser=${2:-chromium}
  case $browser in
    chromium | firefox) ;;
    *) echo "usage: tools/demo.sh --browser [chromium|firefox]" >&2; exit 2 ;;
  esac
  preset=mingw-x64
  build="$ROOT/build/$preset"
  tavrine_log "$preset: configuring and building the host, the extension and the companions (log in build/$preset/demo-build.log)"
  mkdir -p "$build"
  port=$(tavrine_test_port "$build")
  if ! { (cd "$ROOT" && cmake --preset "$preset" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port") &&
         cmake --build "$build" -j"${TAVRINE_BUILD_JOBS:-2}" --target PrefixSetup TavrineBridge TavrineExtension \
               picker_driver TavrineCompanion install_setup_fixture
       } >"$build/demo-build.log" 2>&1; then
    grep -E -A5 'error|Error [0-9]' "$build/demo-build.log" | head -100
    tavrine_log "$preset: build FAILED"
    exit 1
  fi
  tavrine_log "Running examples/page.js in $browser, through the extension and TavrineBridge.exe"
  echo
  "$ROOT/web/tests/browser-road.sh" "$build" demo "$browser"
  rc=$?
  if [ $rc -eq 0 ]; then
    tavrine_log "browser demonstration finished"
  else
    tavrine_log "browser demonstration FAILED (exit code $rc)"
  fi
  exit $rc
fi

preset=${1:-mingw-i686}
case $preset in
  mingw-i686) arch=i686 ;;
  mingw-x64) arch=x86_64 ;;
  *) echo "usage: tools/demo.sh [mingw-i686|mingw-x64] | --browser [chromium|firefox]" >&2; exit 2 ;;
esac
build="$ROOT/build/$preset"
demo="$build/demo"

tavrine_log "$preset: configuring and building (log in build/$preset/demo-build.log)"
mkdir -p "$build"
# Configured as tools/run-tests.sh does: the update server's address is the local
# test server's, and the two never make each other rebuild.
port=$(tavrine_test_port "$build")
if ! { (cd "$ROOT" && cmake --preset "$preset" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port") &&
       cmake --build "$build" -j"${TAVRINE_BUILD_JOBS:-2}" --target PrefixSetup TavrineControl PageHost \
             picker_driver TavrineCompanion install_setup_fixture TavrineBridge
     } >"$build/demo-build.log" 2>&1; then
  grep -E -A5 'error|Error [0-9]' "$build/demo-build.log" | head -100
  tavrine_log "$preset: build FAILED"
  exit 1
fi

# What the machine holds for the page: the update server's files (a version
# file, and a setup program that installs the reference companion under its four
# names) and the folder the user picks from, which the prefix sees as drive T:.
rm -rf "$demo"
mkdir -p "$demo/www" "$demo/files/자료/사진/여행"
companion="$build/companion/TavrineCompanion.exe"
# The result file's first character is all the control reads; a short delay keeps
# the progress dialog's "installing" state on screen for a moment.
python3 "$ROOT/tests/install/update_server.py" stage --root "$demo/www" \
    --fixture "$build/tests/install/install_setup_fixture.exe" --version "Tavrine 1.15.3.9" \
    --result 1 --delay 1500 --install "$companion=TavrineUp.exe" "$companion=TavrineDown.exe" \
    "$companion=TavrineSpeed.exe" "$companion=Explorer.exe" \
    "$build/bridge/TavrineBridge.exe=TavrineBridge.exe" >/dev/null || exit 1
head -c 1000 /dev/zero | tr '\0' a >"$demo/files/자료/사진/여행/a.jpg"
head -c 2048 /dev/zero | tr '\0' b >"$demo/files/자료/사진/b.jpg"
printf '회의 메모' | iconv -f UTF-8 -t CP949 >"$demo/files/자료/메모.txt"

tavrine_ensure_template "$build" || exit 1
(
  server_pid="$demo/update_server.pid"
  stop_all() {
    python3 "$ROOT/tests/install/update_server.py" stop --pidfile "$server_pid" >/dev/null 2>&1
    tavrine_cleanup
  }
  trap stop_all EXIT
  trap 'exit 130' INT TERM
  tavrine_fresh_prefix "$build" || exit 1
  ln -sfn "$demo/files" "$TAVRINE_PREFIX/dosdevices/t:"
  tavrine_start_xvfb || exit 1
  tavrine_export_env "$arch" "$build"
  # The companions log what they receive; they inherit this from the page host.
  export TAVRINE_COMPANION_LOG
  TAVRINE_COMPANION_LOG=$(winpath "$demo/companion.log")
  python3 "$ROOT/tests/install/update_server.py" start --port "$port" --root "$demo/www" \
      --pidfile "$server_pid" --lifetime 1200 >/dev/null || exit 1
  tavrine_log "$preset: fresh prefix $WINEPREFIX, display $DISPLAY, update server http://127.0.0.1:$port"
  if [ "$arch" = i686 ]; then
    timeout 900 "$ROOT/tools/win32-env" "$0" --inside "$build" "$demo"
  else
    timeout 900 "$0" --inside "$build" "$demo"
  fi
  rc=$?
  echo "== What the setup program installed"
  for dir in "$TAVRINE_PREFIX/drive_c/Program Files (x86)/Tavrine" "$TAVRINE_PREFIX/drive_c/Program Files/Tavrine"; do
    [ -d "$dir" ] || continue
    win="C:${dir#"$TAVRINE_PREFIX/drive_c"}"
    for f in "$dir"/*; do
      printf '  %s\\%s (%s bytes)\n' "${win//\//\\}" "${f##*/}" "$(stat -c %s "$f")"
    done
  done
  echo "== What the update server served"
  sed 's/^/  /' "$demo/www/_requests.log" 2>/dev/null
  echo "== What the companion programs received (their log)"
  # They write the control's narrow text as it came, in the prefix's code page.
  iconv -f CP949 -t UTF-8 "$demo/companion.log" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
  exit $rc
)
rc=$?
if [ $rc -eq 0 ]; then
  tavrine_log "$preset: demonstration finished"
else
  tavrine_log "$preset: demonstration FAILED (exit code $rc)"
fi
exit $rc
