#!/bin/bash
# Builds the control and runs its tests under Wine.
#   tools/run-tests.sh [mingw-x64|mingw-i686|all] [-- extra ctest arguments]
# For each build: configure (preset, plus the address of the local test update server),
# build, and run ctest in fresh Wine prefixes. The 64-bit build runs under wine64 directly;
# the 32-bit build (the product) runs in qemu namespaces (tools/win32-env). After each
# preset's own build, a second build of it with the lock options set (build/<preset>-locked,
# LOCKED_ARGS below) runs the tests labelled "locked" in a prefix of its own;
# TAVRINE_SKIP_LOCKED=1 leaves it out.
#
# The tests spend most of their time waiting (for windows, timers, the update server, the
# bounds of the install dialog), so the runs overlap: each build's tests start as soon as it
# is built, while the next one builds, and each build's tests run as two suites side by side,
# the install tests (tests/install, which share the update server) and all the others, each
# suite with its own prefix, wineserver, X display and ctest. Nothing is shared between
# suites but the build tree; every test runs exactly once. Builds run at a lower priority
# than the tests, whose time bounds matter more.
#
# Prints the time of each phase and each build's ten slowest tests, and ends with ctest's own
# summary of each suite. Exits non-zero when any build or test fails.
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/wine-env.sh
source "$ROOT/tools/wine-env.sh"

usage() {
  echo "usage: tools/run-tests.sh [mingw-x64|mingw-i686|all] [-- extra ctest arguments]" >&2
  exit 2
}

which=all
if [ $# -gt 0 ] && [ "$1" != -- ]; then
  which=$1
  shift
fi
if [ $# -gt 0 ]; then
  [ "$1" = -- ] || usage
  shift
fi
CTEST_EXTRA=("$@")
case $which in
  # The product's build first: its tests take longest.
  all) PRESETS=(mingw-i686 mingw-x64) ;;
  mingw-x64 | mingw-i686) PRESETS=("$which") ;;
  *) usage ;;
esac

# Configure arguments of the locked build: every option that locks the control goes here
# (the setup publisher's pin is added by build_locked, from a key made for the run).
LOCKED_ARGS=(
  -DTAVRINE_ALLOWED_SITES=https://www.tavrine.example,https://*.tavrine.example
)

JOBS=${TAVRINE_BUILD_JOBS:-2}
# Whole-suite bound, on top of each test's own TIMEOUT.
SUITE_LIMIT=${TAVRINE_SUITE_TIMEOUT:-2700}
START=$SECONDS
# Status of the suites running in the background: <suite>.rc, <suite>.time.
STATE="$ROOT/build/.run-tests"
rm -rf "$STATE"
mkdir -p "$STATE"
declare -A RESULT BUILD_TIME
SUITES=()      # every suite started, in order: "name|log"
SUITE_ROWS=""  # where the next suite started writes its fault rows ("": the build's file)
PRINTED=()     # suites whose log was printed

arch_of() { [ "${1%-locked}" = mingw-i686 ] && echo i686 || echo x86_64; }

# Configure and build one preset; the PrefixSetup tool first, so that a broken DLL build
# still leaves what the template needs.
build_preset() {
  local preset=$1 build="$ROOT/build/$1" port
  port=$(tavrine_test_port "$build")
  mkdir -p "$build"
  # The extension key of the test builds: made once per build tree (never in the sources),
  # so that the release of the bridge can be signed and installed as a deployer's would be.
  local extkey="$build/test-extension-key.pem"
  if [ ! -s "$extkey" ] &&
     ! openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$extkey" 2>"$build/configure.log"; then
    cat "$build/configure.log"
    tavrine_log "$preset: making the test extension key FAILED"
    return 1
  fi
  tavrine_log "$preset: configuring (test update server http://127.0.0.1:$port)"
  if ! (cd "$ROOT" && cmake --preset "$preset" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port" \
          -DTAVRINE_CHROME_EXTENSION_KEY="$extkey") \
       >"$build/configure.log" 2>&1; then
    cat "$build/configure.log"
    tavrine_log "$preset: configure FAILED"
    return 1
  fi
  tavrine_log "$preset: building (-j$JOBS; log in build/$preset/build.log)"
  nice -n 10 cmake --build "$build" -j"$JOBS" --target PrefixSetup >"$build/build.log" 2>&1
  if ! nice -n 10 cmake --build "$build" -j"$JOBS" >>"$build/build.log" 2>&1; then
    grep -E -A5 'error|Error [0-9]' "$build/build.log" | head -150
    tavrine_log "$preset: build FAILED"
    return 1
  fi
  grep -E ': warning:' "$build/build.log" | sort -u | head -50
  return 0
}

# The locked build of a preset: its own tree, configured with LOCKED_ARGS, and only what
# the locked tests need built.
build_locked() {
  local preset=$1 build="$ROOT/build/$1-locked" port pin
  port=$(tavrine_test_port "$build")
  mkdir -p "$build"
  # The setup publisher is a throw-away key made for the test run (kept in the build tree,
  # never in the sources); the tests sign their setup programs with it and with another.
  pin=$("$ROOT/tools/make-test-publisher.sh" "$build/test-publisher") || {
    tavrine_log "$preset-locked: making the test publisher key FAILED"
    return 1
  }
  local args=("${LOCKED_ARGS[@]}" -DTAVRINE_SETUP_PUBLISHER="$pin")
  tavrine_log "$preset-locked: configuring (${args[*]})"
  if ! (cd "$ROOT" && cmake --preset "$preset" -B "$build" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port" \
          "${args[@]}") >"$build/configure.log" 2>&1; then
    cat "$build/configure.log"
    tavrine_log "$preset-locked: configure FAILED"
    return 1
  fi
  tavrine_log "$preset-locked: building locked_tests (log in build/$preset-locked/build.log)"
  if ! nice -n 10 cmake --build "$build" -j"$JOBS" --target locked_tests >"$build/build.log" 2>&1; then
    grep -E -A5 'error|Error [0-9]' "$build/build.log" | head -150
    tavrine_log "$preset-locked: build FAILED"
    return 1
  fi
  grep -E ': warning:' "$build/build.log" | sort -u | head -50
  return 0
}

# Starts one suite in the background: a fresh prefix, its own X display, a warm persistent
# wineserver, optionally the control registered first (a suite whose tests need it but
# whose directory holds no register_control), then ctest.
#   start_suite NAME PRESET BUILD TEST-DIR PREFIX LOG REGISTER-DLL|- [ctest arguments...]
start_suite() {
  local name=$1 preset=$2 build=$3 testdir=$4 prefix=$5 log=$6 register=$7
  shift 7
  local args=(--test-dir "$testdir" --output-on-failure "$@")
  local arch
  arch=$(arch_of "$preset")
  mkdir -p "$(dirname "$log")"
  SUITES+=("$name|$log")
  tavrine_log "$name: tests started (log in ${log#"$ROOT/"})"
  (
    t0=$SECONDS
    rc=0
    (
      trap tavrine_cleanup EXIT
      trap 'exit 130' INT TERM
      tavrine_fresh_prefix "$build" "$prefix" || exit 1
      tavrine_start_xvfb || exit 1
      tavrine_export_env "$arch" "$build" "$prefix"
      # TAVRINE_WARM_SERVER: a test that must restart the wineserver starts it warm again.
      export TAVRINE_REGISTER=$register TAVRINE_SUITE=$name TAVRINE_WARM_SERVER=1
      if [ -n "$SUITE_ROWS" ]; then export TAVRINE_FAULT_ROWS=$SUITE_ROWS; else unset TAVRINE_FAULT_ROWS; fi
      tavrine_log "$name: running the tests (prefix $WINEPREFIX, display $DISPLAY, port $TAVRINE_TEST_PORT)"
      # Everything of a 32-bit suite, the wineserver included, lives in one namespace.
      wrap=()
      [ "$arch" = i686 ] && wrap=("$ROOT/tools/win32-env")
      timeout --foreground "$SUITE_LIMIT" "${wrap[@]}" bash -c '
        source "$1/tools/wine-env.sh"
        shift
        tavrine_warm_wineserver || echo "run-tests: the wineserver did not start"
        if [ "$TAVRINE_REGISTER" != - ]; then
          echo "$TAVRINE_SUITE: registering $TAVRINE_REGISTER in the prefix of this suite"
          "$TAVRINE_TOOLS/wine-run.sh" --regsvr32 "$TAVRINE_REGISTER" || exit 1
        fi
        ctest "$@"; rc=$?
        tavrine_stop_wineserver persistent
        exit $rc' run-suite "$ROOT" "${args[@]}"
    ) >"$log" 2>&1 </dev/null || rc=$?
    echo $((SECONDS - t0)) >"$STATE/$name.time"
    echo "$rc" >"$STATE/$name.rc"
  ) &
}

# The tests of one built preset: the install tests in one suite, the rest in another.
start_preset_suites() {
  local preset=$1 build="$ROOT/build/$1"
  local installdir="$build/tests/install" names exclude=""
  tavrine_ensure_template "$build" || return 1
  local selection=() noerror=(--no-tests=error)
  [ ${#CTEST_EXTRA[@]} -eq 0 ] || noerror=(--no-tests=ignore)
  # Exactly the tests the install suite runs stay out of the other; should a test outside
  # tests/install need the update server (whose fixture lives there), one suite runs all.
  if [ -f "$installdir/CTestTestfile.cmake" ]; then
    names=$(ctest -N --test-dir "$installdir" 2>/dev/null | sed -n 's/^ *Test *#[0-9]*: //p' | paste -sd'|')
    [ -n "$names" ] && exclude="^($names)\$"
  fi
  if [ -n "$exclude" ] &&
     ! ctest -N --test-dir "$build" -E "$exclude" 2>/dev/null | grep -q ': install_server_start$'; then
    start_suite "$preset" "$preset" "$build" "$build" "$build/wineprefix" "$build/Testing/run-tests.log" - \
      -E "$exclude" "${noerror[@]}" "${CTEST_EXTRA[@]}"
    # Its fault rows are joined to the build's when both suites are done.
    SUITE_ROWS="$build/Testing/fault-rows.install.tsv"
    rm -f "$SUITE_ROWS"
    start_suite "$preset:install" "$preset" "$build" "$installdir" \
      "$build/wineprefix-install" "$build/Testing/run-tests.install.log" "$build/TavrineControl.DLL" \
      --no-tests=ignore "${CTEST_EXTRA[@]}"
    SUITE_ROWS=""
  else
    start_suite "$preset" "$preset" "$build" "$build" "$build/wineprefix" "$build/Testing/run-tests.log" - \
      "${noerror[@]}" "${CTEST_EXTRA[@]}"
  fi
}

start_locked_suite() {
  local preset=$1 build="$ROOT/build/$1-locked"
  tavrine_ensure_template "$ROOT/build/$preset" || return 1
  # A selection of the caller's may match nothing in the locked build.
  local noerror=(--no-tests=error)
  [ ${#CTEST_EXTRA[@]} -eq 0 ] || noerror=(--no-tests=ignore)
  start_suite "$preset-locked" "$preset" "$build" "$build" "$build/wineprefix" "$build/Testing/run-tests.log" - \
    -L locked "${noerror[@]}" "${CTEST_EXTRA[@]}"
}

# Prints the log of every suite that has ended and was not printed yet.
print_finished() {
  local entry name log done
  for entry in "${SUITES[@]}"; do
    name=${entry%%|*} log=${entry#*|}
    [ -f "$STATE/$name.rc" ] || continue
    for done in "${PRINTED[@]}"; do [ "$done" = "$name" ] && continue 2; done
    PRINTED+=("$name")
    echo
    echo "=== $name: $(suite_result "$name") after $(cat "$STATE/$name.time") s ==="
    cat "$log"
  done
}

suite_result() {
  local rc
  rc=$(cat "$STATE/$1.rc" 2>/dev/null) || { echo "not run"; return; }
  case $rc in
    0) echo passed ;;
    124) echo "FAILED (suite timed out after $SUITE_LIMIT s)" ;;
    *) echo "FAILED (exit $rc)" ;;
  esac
}

# The summary block that ctest printed last ("NN% tests passed" to the end).
ctest_summary() {
  [ -f "$1" ] || return 0
  awk '/% tests passed/ { keep = 1; block = "" } keep { block = block $0 "\n" }
       END { printf "%s", block }' "$1"
}

# The ten slowest tests of the given logs, as ctest timed them.
slowest_tests() {
  cat "$@" 2>/dev/null |
    sed -n 's/^ *[0-9]*\/[0-9]* Test *#[0-9]*: \([^ ]*\) \.*[ *]*\([A-Za-z*][^0-9]*\) *\([0-9.]*\) sec$/\3 \1 \2/p' |
    sort -rn | head -10 | awk '{ t = $1; n = $2; $1 = ""; $2 = ""; sub(/^ +/, ""); printf "  %8.2f s  %-36s %s\n", t, n, $0 }'
}

trap 'exit 130' INT TERM

failed=0
RUNS=()
for preset in "${PRESETS[@]}"; do
  RUNS+=("$preset")
  t0=$SECONDS
  if build_preset "$preset"; then
    BUILD_TIME[$preset]=$((SECONDS - t0))
    start_preset_suites "$preset" || { RESULT[$preset]="the template prefix could not be made"; failed=1; }
  else
    BUILD_TIME[$preset]=$((SECONDS - t0))
    RESULT[$preset]="BUILD FAILED (tests not run)"
    failed=1
  fi
  print_finished
done

if [ "${TAVRINE_SKIP_LOCKED:-0}" != 1 ]; then
  for preset in "${PRESETS[@]}"; do
    locked=$preset-locked
    RUNS+=("$locked")
    if [ "${RESULT[$preset]:-}" = "BUILD FAILED (tests not run)" ]; then
      BUILD_TIME[$locked]=0
      RESULT[$locked]="not built (the preset's own build failed)"
      continue
    fi
    t0=$SECONDS
    if build_locked "$preset"; then
      BUILD_TIME[$locked]=$((SECONDS - t0))
      start_locked_suite "$preset" || { RESULT[$locked]="the template prefix could not be made"; failed=1; }
    else
      BUILD_TIME[$locked]=$((SECONDS - t0))
      RESULT[$locked]="BUILD FAILED (tests not run)"
      failed=1
    fi
    print_finished
  done
fi

# The suites end in their own time; each log is printed once its suite is done.
for entry in "${SUITES[@]}"; do
  name=${entry%%|*}
  while [ ! -f "$STATE/$name.rc" ]; do
    sleep 1
    print_finished
  done
done
wait
print_finished

# A build split in two suites: the install suite's fault rows join the build's, and the
# report is made again from all of them.
for preset in "${PRESETS[@]}"; do
  rows="$ROOT/build/$preset/Testing/fault-rows.install.tsv"
  [ -f "$rows" ] || continue
  cat "$rows" >>"$ROOT/build/$preset/fault-matrix.tsv"
  python3 "$ROOT/tools/fault-report.py" "$ROOT/build/$preset/fault-matrix.tsv" "$ROOT/build/$preset/fault-matrix.md"
done

echo
echo "=== run-tests summary ($((SECONDS - START)) s) ==="
echo "Phases (the suites overlap each other and the later builds):"
for preset in "${RUNS[@]}"; do
  [ -n "${BUILD_TIME[$preset]:-}" ] && printf '  %-24s %5s s\n' "$preset build" "${BUILD_TIME[$preset]}"
done
for entry in "${SUITES[@]}"; do
  name=${entry%%|*}
  printf '  %-24s %5s s  %s\n' "$name tests" "$(cat "$STATE/$name.time" 2>/dev/null || echo -)" "$(suite_result "$name")"
  [ "$(cat "$STATE/$name.rc" 2>/dev/null)" = 0 ] || failed=1
done
for preset in "${RUNS[@]}"; do
  [ -n "${RESULT[$preset]:-}" ] && printf '  %-24s %s\n' "$preset:" "${RESULT[$preset]}"
done
for preset in "${RUNS[@]}"; do
  logs=()
  for entry in "${SUITES[@]}"; do
    name=${entry%%|*}
    [ "${name%%:*}" = "$preset" ] && logs+=("${entry#*|}")
  done
  [ ${#logs[@]} -gt 0 ] || continue
  echo
  echo "Slowest tests, $preset:"
  slowest_tests "${logs[@]}"
done
for entry in "${SUITES[@]}"; do
  name=${entry%%|*}
  summary=$(ctest_summary "${entry#*|}")
  if [ -n "$summary" ]; then
    echo
    echo "--- ctest, $name ---"
    printf '%s\n' "$summary"
  fi
done
rm -rf "$STATE"
exit $failed
