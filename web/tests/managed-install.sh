#!/bin/bash
# The managed install of the released extension in Chromium, for the ctest test
# browser_managed_install (x64 build):
#   web/tests/managed-install.sh BUILD
# BUILD is a built x64 tree configured with an extension key file (tools/run-tests.sh makes
# one in the tree). The host runs under Wine in the prefix of the test run (WINEPREFIX,
# DISPLAY and the warm wineserver of the suite). Chromium and its policy files live in a
# private mount namespace whose /etc is an overlay on a folder of the run: nothing is
# written to the machine's /etc, and no other program sees the policies.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: managed-install.sh BUILD}" && pwd)
dir="$build/managed-install"
bridge="$build/bridge/TavrineBridge.exe"
chromium=$(dpkg -L chromium 2>/dev/null | grep -m1 '/usr/lib/chromium/chromium$')
for f in "$bridge" "$build/extension/chrome/manifest.json" "$chromium" \
         "$ROOT/web/node_modules/playwright-core/package.json"; do
  if [ ! -e "$f" ]; then
    echo "managed-install: $f is missing (build the x64 tree; tools/install-deps.sh installs chromium and playwright-core)" >&2
    exit 1
  fi
done
if [ -z "${WINEPREFIX:-}" ] || [ ! -d "$WINEPREFIX" ]; then
  echo "managed-install: no Wine prefix (run it through tools/run-tests.sh, or export the test environment)" >&2
  exit 1
fi
if [ "$(id -u)" != 0 ]; then
  # ctest reports this code as skipped (SKIP_RETURN_CODE), not as passed.
  echo "managed-install: skipped: the private mount namespace (unshare -m) needs root" >&2
  exit 77
fi

rm -rf "$dir"
mkdir -p "$dir/etc-upper" "$dir/etc-work" "$dir/release"

# What Chromium starts for com.tavrine.bridge: the host under Wine in the run's prefix. The
# first argument names the manifest's level, for the log of starts.
cat >"$dir/bridge-host.sh" <<EOF
#!/bin/sh
level=\$1
shift
echo "\$level \$*" >>'$dir/host-starts.log'
export WINEPREFIX='$WINEPREFIX' WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \\
       DISPLAY='${DISPLAY:-}' LANG=ko_KR.UTF-8
unset LC_ALL LC_CTYPE LANGUAGE
exec /usr/lib/wine/wine64 '$bridge' "\$@" 2>>'$dir/bridge-host.err'
EOF
chmod +x "$dir/bridge-host.sh"

export TAVRINE_MANAGED_DIR=$dir TAVRINE_BUILD_DIR=$build TAVRINE_SOURCE_DIR=$ROOT \
       TAVRINE_HOST_SCRIPT="$dir/bridge-host.sh" CHROMIUM=$chromium TAVRINE_ROAD_DIR=$dir
timeout 240 unshare -m --propagation private bash -c '
  mount -t overlay overlay -o lowerdir=/etc,upperdir="$1/etc-upper",workdir="$1/etc-work" /etc || exit 1
  exec node "$2/web/tests/managed-install.js"' managed "$dir" "$ROOT"
rc=$?
if [ $rc -ne 0 ]; then
  echo "--- the host's standard error"
  cat "$dir/bridge-host.err" 2>/dev/null
fi
# The policies never left the namespace.
if [ -e /etc/chromium/policies/managed/tavrine.json ] || [ -e /etc/chromium/native-messaging-hosts/com.tavrine.bridge.json ]; then
  echo "FAIL: the test's policy files are in the machine's /etc"
  rc=1
fi
[ $rc = 0 ] && rm -rf "$dir/profile" "$dir/etc-upper" "$dir/etc-work"
exit $rc
