#!/bin/bash
# Builds the control and runs its tests under Wine.
#   tools/run-tests.sh [mingw-x64|mingw-i686|all] [-- extra ctest arguments]
# For each build: configure (preset, plus the address of the local test update server),
# build, copy a fresh Wine prefix from the shared template, start Xvfb, run ctest. The
# 64-bit build runs under wine64 directly; the 32-bit build (the product) runs entirely in
# one qemu namespace (tools/win32-env). After each preset's own run, a second build of it
# with the lock options set (build/<preset>-locked, LOCKED_ARGS below) runs the tests
# labelled "locked" in a prefix of its own; TAVRINE_SKIP_LOCKED=1 leaves it out. Exits
# non-zero when any build or test fails, and ends with ctest's own summary of each build.
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
  all) PRESETS=(mingw-x64 mingw-i686) ;;
  mingw-x64 | mingw-i686) PRESETS=("$which") ;;
  *) usage ;;
esac

# Configure arguments of the locked build: every option that locks the control goes here
# (the setup publisher's pin is added by build_locked, from a key made for the run).
LOCKED_ARGS=(
  -DTAVRINE_ALLOWED_SITES=https://www.tavrine.example,https://*.tavrine.example
)

JOBS=${TAVRINE_BUILD_JOBS:-2}
# Whole-suite bound per build, on top of each test's own TIMEOUT.
SUITE_LIMIT=${TAVRINE_SUITE_TIMEOUT:-2700}
START=$SECONDS
declare -A RESULT TIMING

arch_of() { [ "$1" = mingw-i686 ] && echo i686 || echo x86_64; }

# Configure and build one preset; the PrefixSetup tool first, so that a broken DLL build
# still leaves what the template needs.
build_preset() {
  local preset=$1 build="$ROOT/build/$1" port
  port=$(tavrine_test_port "$build")
  mkdir -p "$build"
  tavrine_log "$preset: configuring (test update server http://127.0.0.1:$port)"
  if ! (cd "$ROOT" && cmake --preset "$preset" -DTAVRINE_UPDATE_URL="http://127.0.0.1:$port") \
       >"$build/configure.log" 2>&1; then
    cat "$build/configure.log"
    tavrine_log "$preset: configure FAILED"
    return 1
  fi
  tavrine_log "$preset: building (-j$JOBS; log in build/$preset/build.log)"
  cmake --build "$build" -j"$JOBS" --target PrefixSetup >"$build/build.log" 2>&1
  if ! cmake --build "$build" -j"$JOBS" >>"$build/build.log" 2>&1; then
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
  if ! cmake --build "$build" -j"$JOBS" --target locked_tests >"$build/build.log" 2>&1; then
    grep -E -A5 'error|Error [0-9]' "$build/build.log" | head -150
    tavrine_log "$preset-locked: build FAILED"
    return 1
  fi
  grep -E ': warning:' "$build/build.log" | sort -u | head -50
  return 0
}

# Runs ctest for one built preset in a fresh prefix on its own X display.
#   test_preset PRESET [BUILD-NAME [ctest arguments...]]
test_preset() {
  local preset=$1 name=${2:-$1} build arch log
  shift $(($# < 2 ? $# : 2))
  local selection=("$@")
  build="$ROOT/build/$name"
  arch=$(arch_of "$preset")
  log="$build/Testing/run-tests.log"
  mkdir -p "$build/Testing"
  : >"$log"
  # The template is made with the normal build's PrefixSetup (the locked build has none).
  tavrine_ensure_template "$ROOT/build/$preset" || return 1
  (
    trap tavrine_cleanup EXIT
    trap 'exit 130' INT TERM
    tavrine_fresh_prefix "$build" || exit 1
    tavrine_start_xvfb || exit 1
    tavrine_export_env "$arch" "$build"
    # One test at a time: registration tests change what every other test relies on, the
    # machine's two cores are shared, and under qemu parallel runs only add contention.
    local jobs=1
    [ "$arch" = x86_64 ] && jobs=${TAVRINE_CTEST_JOBS:-1}
    local args=(--test-dir "$build" --output-on-failure -j"$jobs" "${selection[@]}" "${CTEST_EXTRA[@]}")
    # A selection of the caller's may match nothing in the locked build.
    if [ ${#selection[@]} -eq 0 ] || [ ${#CTEST_EXTRA[@]} -eq 0 ]; then
      args+=(--no-tests=error)
    else
      args+=(--no-tests=ignore)
    fi
    tavrine_log "$name: running the tests (prefix $WINEPREFIX, display $DISPLAY, port $TAVRINE_TEST_PORT)"
    if [ "$arch" = i686 ]; then
      # Everything of the 32-bit run, the wineserver included, lives in one namespace.
      timeout --foreground "$SUITE_LIMIT" "$ROOT/tools/win32-env" bash -c '
        ctest "$@"; rc=$?
        timeout 30 /usr/lib/wine/wineserver -w </dev/null ||
          timeout 10 /usr/lib/wine/wineserver -k </dev/null
        exit $rc' ctest "${args[@]}" 2>&1 | tee "$log"
      exit "${PIPESTATUS[0]}"
    fi
    timeout --foreground "$SUITE_LIMIT" ctest "${args[@]}" 2>&1 | tee "$log"
    exit "${PIPESTATUS[0]}"
  )
}

# The summary block that ctest printed last ("NN% tests passed" to the end).
ctest_summary() {
  local log="$ROOT/build/$1/Testing/run-tests.log"
  [ -f "$log" ] || return 0
  awk '/% tests passed/ { keep = 1; block = "" } keep { block = block $0 "\n" }
       END { printf "%s", block }' "$log"
}

trap 'exit 130' INT TERM

failed=0
RUNS=()
for preset in "${PRESETS[@]}"; do
  RUNS+=("$preset")
  t0=$SECONDS
  if build_preset "$preset"; then
    TIMING[$preset.build]=$((SECONDS - t0))
    t1=$SECONDS
    if test_preset "$preset"; then
      RESULT[$preset]="passed"
    else
      rc=$?
      RESULT[$preset]="FAILED (ctest exit $rc$([ $rc -eq 124 ] && echo ', suite timed out'))"
      failed=1
    fi
    TIMING[$preset.test]=$((SECONDS - t1))
  else
    TIMING[$preset.build]=$((SECONDS - t0))
    TIMING[$preset.test]=0
    RESULT[$preset]="BUILD FAILED (tests not run)"
    failed=1
  fi

  [ "${TAVRINE_SKIP_LOCKED:-0}" = 1 ] && continue
  locked=$preset-locked
  RUNS+=("$locked")
  t0=$SECONDS
  if [ "${RESULT[$preset]}" = "BUILD FAILED (tests not run)" ]; then
    TIMING[$locked.build]=0
    TIMING[$locked.test]=0
    RESULT[$locked]="not built (the preset's own build failed)"
  elif build_locked "$preset"; then
    TIMING[$locked.build]=$((SECONDS - t0))
    t1=$SECONDS
    if test_preset "$preset" "$locked" -L locked; then
      RESULT[$locked]="passed"
    else
      rc=$?
      RESULT[$locked]="FAILED (ctest exit $rc$([ $rc -eq 124 ] && echo ', suite timed out'))"
      failed=1
    fi
    TIMING[$locked.test]=$((SECONDS - t1))
  else
    TIMING[$locked.build]=$((SECONDS - t0))
    TIMING[$locked.test]=0
    RESULT[$locked]="BUILD FAILED (tests not run)"
    failed=1
  fi
done

echo
echo "=== run-tests summary ($((SECONDS - START)) s) ==="
for preset in "${RUNS[@]}"; do
  printf '%-18s %s  (build %s s, tests %s s)\n' "$preset:" "${RESULT[$preset]}" \
    "${TIMING[$preset.build]}" "${TIMING[$preset.test]}"
done
for preset in "${RUNS[@]}"; do
  summary=$(ctest_summary "$preset")
  if [ -n "$summary" ]; then
    echo
    echo "--- ctest, $preset ---"
    printf '%s\n' "$summary"
  fi
done
exit $failed
