# Wine test environment, sourced by tools/run-tests.sh and tools/demo.sh (bash).
#
#   tavrine_test_port BUILD        port for the test update server of a build tree
#   tavrine_ensure_template BUILD  makes the shared template prefix if it is missing or stale
#   tavrine_fresh_prefix BUILD [PREFIX]
#                                  copies the template to PREFIX (default BUILD/wineprefix)
#   tavrine_start_xvfb             starts Xvfb on a free display, sets DISPLAY
#   tavrine_export_env ARCH BUILD [PREFIX]
#                                  exports the Wine environment of a test run
#   tavrine_warm_wineserver        starts the prefix's wineserver and system processes once,
#                                  kept until tavrine_stop_wineserver persistent; windows
#                                  unmanaged (test runs)
#   tavrine_stop_wineserver        ends every Wine process of the current prefix
#   tavrine_stop_xvfb              stops the Xvfb started above
#   tavrine_cleanup                both of the above, for an EXIT trap
#   tavrine_tool_prepare PRESET TARGET...
#                                  for a tool script: builds the targets, prepares a fresh
#                                  prefix, a display and the environment; sets arch and build
#   tavrine_tool_run FUNCTION      runs a shell function of the script as Wine needs it
#                                  (in the qemu namespace for the 32-bit build)
#
# The template (wineboot, crash dialog off, Hangul non-client fonts) takes minutes to make,
# so it lives in a cache outside the work tree, shared by every work tree and both builds,
# and each run gets a fresh copy of it: registrations never leak from one run to the next.

TAVRINE_TOOLS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TAVRINE_SOURCE=$(cd "$TAVRINE_TOOLS/.." && pwd)
TAVRINE_WINE=/usr/lib/wine/wine64
TAVRINE_WINESERVER=/usr/lib/wine/wineserver
# Bump when the way the template is made changes; older templates are then remade.
TAVRINE_TEMPLATE_RECIPE=1

tavrine_log() {
  printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*"
}

# Root keeps the cache named in the docs; other users get their own, since Wine insists that
# a prefix belongs to the user who runs it.
tavrine_wine_cache() {
  if [ -n "${TAVRINE_WINE_CACHE:-}" ]; then
    echo "$TAVRINE_WINE_CACHE"
  elif [ "$(id -u)" = 0 ]; then
    echo /var/tmp/tavrine-wine
  else
    echo "/var/tmp/tavrine-wine-$(id -u)"
  fi
}

# A port in 20000-29999 taken from the build tree's path, so that test runs of different
# work trees and of the two builds can serve update files at the same time.
tavrine_test_port() {
  local sum
  sum=$(printf '%s' "$1" | cksum)
  echo $((20000 + ${sum%% *} % 10000))
}

# Identifies how a template was made: the recipe, the Wine version and the setup program.
tavrine_template_stamp() {
  {
    echo "recipe $TAVRINE_TEMPLATE_RECIPE"
    "$TAVRINE_WINE" --version
    cat "$TAVRINE_SOURCE/tests/tools/PrefixSetup.cpp"
  } | cksum | cut -d' ' -f1
}

# Kills what was started under a prefix; used for leftovers of an interrupted run.
tavrine_kill_prefix() {
  [ -d "$1" ] || return 0
  WINEPREFIX=$1 timeout 10 "$TAVRINE_WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}

# Makes the template at $2 with the setup program $1 of whichever build is at hand. All of it
# runs in the qemu namespace, so that wineboot also populates syswow64 and the one template
# serves the 32-bit build as well as the 64-bit one.
tavrine_make_template() {
  local setup=$1 dir=$2 xpid="" disp rc=0
  local fdfile
  fdfile=$(mktemp)
  # PrefixSetup changes window metrics; give it a display as the tests have.
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  xpid=$!
  disp=$(tavrine_wait_display "$fdfile" "$xpid") || { rm -f "$fdfile"; return 1; }
  rm -f "$fdfile"
  TPL=$dir SETUP=$setup DISPLAY=:$disp WINE=$TAVRINE_WINE WINESERVER=$TAVRINE_WINESERVER \
    timeout 1200 "$TAVRINE_TOOLS/win32-env" bash -c '
      set -u
      unset $(env | sed -n "s/^\(LC_[A-Z_]*\)=.*/\1/p") LANGUAGE
      export WINEPREFIX=$TPL WINEARCH=win64 WINEDEBUG=-all LANG=ko_KR.UTF-8
      export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
      step() { echo "  template: $1"; }
      step "wineboot (the first time takes a few minutes)"
      timeout 900 "$WINE" wineboot -i </dev/null || { echo "wineboot failed"; exit 1; }
      step "crash dialog off"
      timeout 120 "$WINE" reg add "HKCU\\Software\\Wine\\WineDbg" /v ShowCrashDialog \
        /t REG_DWORD /d 0 /f </dev/null >/dev/null || { echo "reg add failed"; exit 1; }
      step "Hangul non-client fonts"
      timeout 120 "$WINE" "$SETUP" </dev/null || { echo "PrefixSetup failed"; exit 1; }
      step "waiting for the prefix to settle"
      timeout 120 "$WINESERVER" -w </dev/null || { "$WINESERVER" -k </dev/null; exit 1; }
    ' || rc=1
  kill "$xpid" 2>/dev/null
  wait "$xpid" 2>/dev/null
  if [ $rc -eq 0 ]; then
    local f
    for f in system32/regsvr32.exe syswow64/regsvr32.exe system32/cscript.exe syswow64/cscript.exe; do
      if [ ! -f "$dir/drive_c/windows/$f" ]; then
        echo "  template: $f is missing (is qemu 10 in place? run tools/install-deps.sh)"
        rc=1
      fi
    done
    grep -q '"ShowCrashDialog"=dword:00000000' "$dir/user.reg" ||
      { echo "  template: the crash dialog setting is missing"; rc=1; }
  fi
  return $rc
}

# Waits (bounded) for Xvfb to report its display number through -displayfd.
tavrine_wait_display() {
  local fdfile=$1 pid=$2 i
  for ((i = 0; i < 150; i++)); do
    if grep -q '^[0-9]' "$fdfile" 2>/dev/null; then
      head -1 "$fdfile"
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  kill "$pid" 2>/dev/null
  return 1
}

# Under an exclusive lock on the cache: makes the template unless a current one exists.
# Concurrent runs from other work trees wait here instead of making it twice.
tavrine_ensure_template() {
  local build=$1 cache stamp setup
  cache=$(tavrine_wine_cache)
  mkdir -p "$cache" || return 1
  setup="$build/tests/tools/PrefixSetup.exe"
  stamp=$(tavrine_template_stamp)
  (
    if ! flock -w 1800 9; then
      echo "run-tests: timed out waiting for the template lock $cache/lock" >&2
      exit 1
    fi
    if [ -f "$cache/template/.tavrine-stamp" ] &&
       [ "$(cat "$cache/template/.tavrine-stamp")" = "$stamp" ]; then
      exit 0
    fi
    if [ ! -f "$setup" ]; then
      echo "run-tests: $setup is missing; build the PrefixSetup target first" >&2
      exit 1
    fi
    tavrine_log "Making the Wine template prefix in $cache/template (once per machine)"
    local started=$SECONDS tmp="$cache/template.new"
    tavrine_kill_prefix "$tmp"
    rm -rf "$tmp"
    if ! tavrine_make_template "$setup" "$tmp"; then
      tavrine_kill_prefix "$tmp"
      rm -rf "$tmp"
      echo "run-tests: making the template prefix failed" >&2
      exit 1
    fi
    echo "$stamp" >"$tmp/.tavrine-stamp"
    tavrine_kill_prefix "$cache/template"
    rm -rf "$cache/template"
    mv "$tmp" "$cache/template"
    tavrine_log "Template ready ($((SECONDS - started)) s)"
  ) 9>"$cache/lock"
}

# Replaces BUILD/wineprefix (or PREFIX) with a copy of the template (under the lock, so that
# the template is never copied while it is being remade).
tavrine_fresh_prefix() {
  local build=$1 cache pfx
  cache=$(tavrine_wine_cache)
  pfx=${2:-"$build/wineprefix"}
  tavrine_kill_prefix "$pfx"
  rm -rf "$pfx"
  mkdir -p "$build" || return 1
  # A shared lock: copies (of other suites and work trees) go side by side; only the
  # template's remaking excludes them.
  (
    flock -s -w 1800 9 || exit 1
    [ -f "$cache/template/.tavrine-stamp" ] || exit 1
    cp -a --reflink=auto "$cache/template" "$pfx"
  ) 9>"$cache/lock" || { echo "run-tests: copying the template prefix failed" >&2; return 1; }
  TAVRINE_PREFIX=$pfx
}

tavrine_start_xvfb() {
  local fdfile disp
  fdfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
  TAVRINE_XVFB_PID=$!
  if ! disp=$(tavrine_wait_display "$fdfile" "$TAVRINE_XVFB_PID"); then
    rm -f "$fdfile"
    TAVRINE_XVFB_PID=""
    return 1
  fi
  rm -f "$fdfile"
  export DISPLAY=:$disp
}

tavrine_stop_xvfb() {
  [ -n "${TAVRINE_XVFB_PID:-}" ] || return 0
  # The server may be gone already: none of these failing is an error of the caller's.
  kill "$TAVRINE_XVFB_PID" 2>/dev/null || true
  local i
  for ((i = 0; i < 50; i++)); do
    kill -0 "$TAVRINE_XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$TAVRINE_XVFB_PID" 2>/dev/null || true
  wait "$TAVRINE_XVFB_PID" 2>/dev/null || true
  TAVRINE_XVFB_PID=""
}

# The environment every Wine program of a test run sees. ARCH is i686 or x86_64.
tavrine_export_env() {
  local arch=$1 build=$2
  # LC_ALL or LC_CTYPE from the caller would override LANG and give Wine another code page.
  unset $(env | sed -n 's/^\(LC_[A-Z_]*\)=.*/\1/p') LANGUAGE
  # TAVRINE_WINEDEBUG (e.g. "+timestamp,+listview") turns Wine's channels on for a look inside.
  export WINEPREFIX=${3:-"$build/wineprefix"} WINEARCH=win64 WINEDEBUG=${TAVRINE_WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ko_KR.UTF-8
  export TAVRINE_ARCH=$arch
  export TAVRINE_TEST_PORT
  TAVRINE_TEST_PORT=$(tavrine_test_port "$build")
}

# A wineserver ends a few seconds after its last program, taking the system processes
# (services, the desktop's explorer, rpcss) with it; the next program starts them all again.
# Under ctest that cost each test seconds more: the system processes started from inside a
# test hold its output pipes, and ctest waits for those until the server has shut down. So
# a test run starts the server once, persistent, and its system processes outside ctest.
# Run it where the programs will run (inside the qemu namespace for the 32-bit build).
# The first program it runs also makes the test display's windows unmanaged: no window
# manager runs there, and Wine waits up to 2 s for one at every show and hide of a managed
# window (each dialog and message box of a test paid that twice).
tavrine_warm_wineserver() {
  "$TAVRINE_WINESERVER" -p </dev/null >/dev/null 2>&1 || return 1
  timeout 300 "$TAVRINE_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
    </dev/null >/dev/null 2>&1
}

tavrine_stop_wineserver() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  # A persistent server (tavrine_warm_wineserver) never ends by itself.
  if [ "${1:-}" = persistent ]; then
    timeout 30 "$TAVRINE_WINESERVER" -k </dev/null || true
    return 0
  fi
  timeout 30 "$TAVRINE_WINESERVER" -w </dev/null ||
    timeout 10 "$TAVRINE_WINESERVER" -k </dev/null || true
}

# After a drive was mapped in dosdevices: a running wineserver keeps the drive list it has
# seen. A test run's server is persistent and warm: end it and start it again; otherwise
# let it end, so that the next Wine program starts one that knows the drive.
tavrine_drive_added() {
  if [ -n "${TAVRINE_WARM_SERVER:-}" ]; then
    timeout 30 "$TAVRINE_WINESERVER" -k </dev/null || true
    tavrine_warm_wineserver </dev/null >/dev/null 2>&1 || echo "the wineserver of the test run did not start again"
  else
    timeout 60 "$TAVRINE_WINESERVER" -w </dev/null || true
  fi
}

tavrine_cleanup() {
  tavrine_stop_wineserver
  tavrine_stop_xvfb
}

# For the scripts that run one program against the registered control (benchmarks, the
# long fuzz run). Returns 2 for an unknown preset, so that the script can print its usage.
# Installs the cleanup trap of the calling script.
tavrine_tool_prepare() {
  local preset=$1
  shift
  case $preset in
    mingw-x64) arch=x86_64 ;;
    mingw-i686) arch=i686 ;;
    *) return 2 ;;
  esac
  build="$TAVRINE_SOURCE/build/$preset"
  (cd "$TAVRINE_SOURCE" && cmake --preset "$preset" >/dev/null) || return 1
  cmake --build "$build" -j2 --target PrefixSetup "$@" >/dev/null || return 1
  tavrine_ensure_template "$build" || return 1
  trap tavrine_cleanup EXIT
  trap 'exit 130' INT TERM
  tavrine_fresh_prefix "$build" || return 1
  tavrine_start_xvfb || return 1
  tavrine_export_env "$arch" "$build"
  export TAVRINE_DLL="$build/TavrineControl.DLL" TAVRINE_BUILD_DIR="$build" TAVRINE_SOURCE_DIR="$TAVRINE_SOURCE"
}

# The 32-bit build's programs only run inside the qemu namespace, whose Wine processes
# must be ended there too.
tavrine_tool_run() {
  local fn=$1
  if [ "$arch" != i686 ]; then
    "$fn"
    return
  fi
  export -f "$fn"
  export ROOT build
  "$TAVRINE_TOOLS/win32-env" bash -c "$fn"'; rc=$?
    timeout 30 /usr/lib/wine/wineserver -w </dev/null || timeout 10 /usr/lib/wine/wineserver -k </dev/null
    exit $rc'
}
