#!/bin/bash
# The sample page's road in Chromium through the extension and the native host
# (x64, under Wine), for the ctest test browser_road and tools/demo.sh --browser.
#   web/tests/browser-road.sh BUILD check|demo
# BUILD is a built x64 tree (TavrineBridge, the companion, the setup fixture, the
# picker driver and the extension). Prepares what tools/demo.sh prepares for the
# page host: a fresh Wine prefix of its own (BUILD/browser-road/wineprefix), the
# update server with the setup program, the folder picked from as drive T:, and
# the picker driver; then web/tests/browser-road.js drives Chromium. demo prints
# the same sections as the page host's demonstration.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

build=${1:?usage: browser-road.sh BUILD check|demo}
mode=${2:?usage: browser-road.sh BUILD check|demo}
build=$(cd "$build" && pwd)
road="$build/browser-road"
winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }

bridge="$build/bridge/TavrineBridge.exe"
companion="$build/companion/TavrineCompanion.exe"
fixture="$build/tests/install/install_setup_fixture.exe"
driver="$build/programs/pickerdriver/picker_driver.exe"
extension="$build/extension/chrome"
chromium=$(dpkg -L chromium 2>/dev/null | grep -m1 '/usr/lib/chromium/chromium$')
for f in "$bridge" "$companion" "$fixture" "$driver" "$extension/manifest.json" "$chromium" \
         "$ROOT/web/node_modules/playwright-core/package.json"; do
  if [ ! -e "$f" ]; then
    echo "browser-road: $f is missing (build the x64 tree; tools/install-deps.sh installs chromium and playwright-core)" >&2
    exit 1
  fi
done

# The same machine as the page host's demonstration: the update server's package
# (the setup program installs the reference companion under its four names and the
# host, which it registers with the browsers) and
# the folder the user picks from.
rm -rf "$road"
mkdir -p "$road/www" "$road/files/자료/사진/여행"
python3 "$ROOT/tests/install/update_server.py" stage --root "$road/www" --fixture "$fixture" \
    --version "Tavrine 1.15.3.9" --result 1 --delay 500 --install "$companion=TavrineUp.exe" \
    "$companion=TavrineDown.exe" "$companion=TavrineSpeed.exe" "$companion=Explorer.exe" \
    "$bridge=TavrineBridge.exe" >/dev/null || exit 1
head -c 1000 /dev/zero | tr '\0' a >"$road/files/자료/사진/여행/a.jpg"
head -c 2048 /dev/zero | tr '\0' b >"$road/files/자료/사진/b.jpg"
printf '회의 메모' | iconv -f UTF-8 -t CP949 >"$road/files/자료/메모.txt"

# The update server answers on the build's test port (the build's update address).
port=$(tavrine_test_port "$build")
own_xvfb=0
stop_all() {
  python3 "$ROOT/tests/install/update_server.py" stop --pidfile "$road/update_server.pid" >/dev/null 2>&1
  WINEPREFIX="$road/wineprefix" timeout 10 "$TAVRINE_WINESERVER" -k </dev/null >/dev/null 2>&1
  [ $own_xvfb = 1 ] && tavrine_stop_xvfb
  # A passed check leaves no 700 MB prefix behind; a failed one keeps it to look into.
  [ "$mode" = check ] && [ "${rc:-1}" = 0 ] && rm -rf "$road/wineprefix"
  return 0
}
trap stop_all EXIT
trap 'exit 130' INT TERM

tavrine_ensure_template "$build" || exit 1
tavrine_fresh_prefix "$road" || exit 1
ln -sfn "$road/files" "$TAVRINE_PREFIX/dosdevices/t:"
if [ -z "${DISPLAY:-}" ]; then
  tavrine_start_xvfb || exit 1
  own_xvfb=1
fi
tavrine_export_env x86_64 "$road"
python3 "$ROOT/tests/install/update_server.py" start --port "$port" --root "$road/www" \
    --pidfile "$road/update_server.pid" --lifetime 600 >/dev/null || exit 1

# What Chromium starts for com.tavrine.bridge: the host under Wine, in this prefix,
# on this display. The browser's pipes are the host's standard input and output.
cat >"$road/bridge-host.sh" <<EOF
#!/bin/sh
export WINEPREFIX='$WINEPREFIX' WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \\
       DISPLAY='$DISPLAY' LANG=ko_KR.UTF-8 TAVRINE_COMPANION_LOG='$(winpath "$road/companion.log")'
unset LC_ALL LC_CTYPE LANGUAGE
exec /usr/lib/wine/wine64 '$bridge' "\$@" 2>>'$road/bridge-host.err'
EOF
chmod +x "$road/bridge-host.sh"

# The user's part in the picker, as in the page host's demonstration.
(
  TAVRINE_WINE_TIMEOUT=200 "$ROOT/tools/wine-run.sh" "$driver" --wait 150000 --location "(T:)" --open "자료" \
      --select "사진|메모.txt" --pause 300 --add --pause 300 --close >>"$road/picker.log" 2>&1 && exit 0
  TAVRINE_WINE_TIMEOUT=60 "$ROOT/tools/wine-run.sh" "$driver" --wait 5000 --close >>"$road/picker.log" 2>&1
  exit 1
) &
picker=$!

TAVRINE_ROAD_DIR=$road TAVRINE_PREFIX=$TAVRINE_PREFIX TAVRINE_EXTENSION_DIR=$extension TAVRINE_HOST_SCRIPT="$road/bridge-host.sh" \
  TAVRINE_SOURCE_DIR=$ROOT CHROMIUM=$chromium timeout 300 node "$ROOT/web/tests/browser-road.js" "$mode"
rc=$?
if ! wait "$picker"; then
  echo "The picker driver failed:"
  cat "$road/picker.log"
  rc=1
fi

if [ "$mode" = demo ]; then
  # The companions read their list files every 100 ms: let the log settle (bounded).
  size=-1
  for ((i = 0; i < 30; i++)); do
    now=$(stat -c %s "$road/companion.log" 2>/dev/null || echo 0)
    [ "$now" = "$size" ] && break
    size=$now
    sleep 0.5
  done
  echo "== What the setup program installed"
  dir="$TAVRINE_PREFIX/drive_c/Program Files/Tavrine"
  for f in "$dir"/*; do
    [ -e "$f" ] || continue
    win="C:${dir#"$TAVRINE_PREFIX/drive_c"}"
    printf '  %s\\%s (%s bytes)\n' "${win//\//\\}" "${f##*/}" "$(stat -c %s "$f")"
  done
  echo "== What the update server served"
  sed 's/^/  /' "$road/www/_requests.log" 2>/dev/null
  echo "== What the companion programs received (their log)"
  iconv -f CP949 -t UTF-8 "$road/companion.log" 2>/dev/null | tr -d '\r' | sed 's/^/  /'
elif [ $rc -ne 0 ]; then
  echo "--- the host's standard error"
  cat "$road/bridge-host.err" 2>/dev/null
  echo "--- the companions' log"
  iconv -f CP949 -t UTF-8 "$road/companion.log" 2>/dev/null | tr -d '\r'
fi
exit $rc
