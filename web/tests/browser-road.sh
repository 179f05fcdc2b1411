#!/bin/bash
# The sample page's road in a real browser through the extension and the native host
# (x64, under Wine), for the ctest tests browser_road (Chromium) and
# browser_road_firefox, and for tools/demo.sh --browser.
#   web/tests/browser-road.sh BUILD check|demo [chromium|firefox]
# BUILD is a built x64 tree (TavrineBridge, the companion, the setup fixture, the
# picker driver and the extension). Prepares what tools/demo.sh prepares for the
# page host: a fresh Wine prefix of its own (BUILD/browser-road[-firefox]/wineprefix),
# the update server with the setup program, the folder picked from as drive T:, and
# the picker driver; then web/tests/browser-road.js drives the browser. demo prints
# the same sections as the page host's demonstration.
#
# Firefox's check also force-installs the extension's .xpi by policy, from
# /etc/firefox/policies/policies.json: it runs in a private user and mount namespace
# whose /etc is an overlay kept in the run's folder, so nothing changes outside it.
# TAVRINE_XPI names an .xpi to use instead of the one zipped here from the build.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

usage="usage: browser-road.sh BUILD check|demo [chromium|firefox]"
build=${1:?$usage}
mode=${2:?$usage}
browser=${3:-chromium}
case $mode/$browser in
  check/chromium | demo/chromium | check/firefox | demo/firefox) ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
# The policy install needs a private /etc: the whole run goes into a namespace of its
# own (as tools/win32-env does for the 32-bit suites), Wine and the browser included.
if [ "$browser/$mode" = firefox/check ] && [ -z "${TAVRINE_ROAD_NS:-}" ]; then
  export TAVRINE_ROAD_NS=1
  exec unshare --user --map-root-user --mount "$0" "$@"
fi
build=$(cd "$build" && pwd)
road="$build/browser-road"
[ "$browser" = firefox ] && road="$build/browser-road-firefox"
winpath() { local p="Z:$1"; printf '%s' "${p//\//\\}"; }

bridge="$build/bridge/TavrineBridge.exe"
companion="$build/companion/TavrineCompanion.exe"
fixture="$build/tests/install/install_setup_fixture.exe"
driver="$build/programs/pickerdriver/picker_driver.exe"
if [ "$browser" = firefox ]; then
  extension="$build/extension/firefox"
  binary=$(readlink -f "$(command -v firefox-esr)")
  driver_module=puppeteer-core
else
  extension="$build/extension/chrome"
  binary=$(dpkg -L chromium 2>/dev/null | grep -m1 '/usr/lib/chromium/chromium$')
  driver_module=playwright-core
fi
for f in "$bridge" "$companion" "$fixture" "$driver" "$extension/manifest.json" "$binary" \
         "$ROOT/web/node_modules/$driver_module/package.json"; do
  if [ ! -e "$f" ]; then
    echo "browser-road: $f is missing (build the x64 tree; tools/install-deps.sh installs the browsers and web/node_modules)" >&2
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

xpi_env=()
if [ "$browser/$mode" = firefox/check ]; then
  # The .xpi the policy installs: a zip of the Firefox build, manifest at its root
  # (the release's .xpi, when given, takes its place).
  xpi=${TAVRINE_XPI:-$road/tavrine.xpi}
  if [ -z "${TAVRINE_XPI:-}" ]; then
    (cd "$extension" && python3 -m zipfile -c "$xpi" ./*) || exit 1
  fi
  xpi_id=$(python3 -c 'import json, sys, zipfile
print(json.load(zipfile.ZipFile(sys.argv[1]).open("manifest.json"))["browser_specific_settings"]["gecko"]["id"])' "$xpi") ||
    exit 1
  # The private /etc: an overlay whose changes land in the run's folder, in this
  # namespace only.
  mkdir -p "$road/etc/upper" "$road/etc/work"
  if ! mount -t overlay overlay -o "lowerdir=/etc,upperdir=$road/etc/upper,workdir=$road/etc/work" /etc; then
    echo "browser-road: cannot put a private overlay over /etc (needs a private mount namespace)" >&2
    exit 1
  fi
  xpi_env=(TAVRINE_XPI="$xpi" TAVRINE_XPI_ID="$xpi_id" TAVRINE_PRIVATE_ETC=1)
fi

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

# What the browser starts for com.tavrine.bridge: the host under Wine, in this prefix,
# on this display. The browser's pipes are the host's standard input and output.
# Each start is counted in host-starts.log.
cat >"$road/bridge-host.sh" <<EOF
#!/bin/sh
echo "\$*" >>'$road/host-starts.log'
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

env "${xpi_env[@]}" TAVRINE_ROAD_DIR="$road" TAVRINE_PREFIX="$TAVRINE_PREFIX" TAVRINE_EXTENSION_DIR="$extension" \
  TAVRINE_HOST_SCRIPT="$road/bridge-host.sh" TAVRINE_SOURCE_DIR="$ROOT" BROWSER_BINARY="$binary" \
  timeout 300 node "$ROOT/web/tests/browser-road.js" "$mode" "$browser"
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
