#!/bin/bash
# Runs a Windows program under Wine for ctest (the toolchains' cross-compiling emulator).
#   wine-run.sh <program> [args...]         the program, under wine64
#   wine-run.sh --regsvr32 <unix path>      registers a DLL with the regsvr32 of its bitness
#   wine-run.sh --cscript <script> [args]   runs a script with the cscript of the build's bitness
# The prefix and the rest of the environment come from tools/wine-env.sh (run-tests.sh).
# Every run is bounded by TAVRINE_WINE_TIMEOUT seconds and reads no terminal. A program that
# fails within a few seconds without printing anything is named, and started once more.
set -uo pipefail

WINE=/usr/lib/wine/wine64
LIMIT=${TAVRINE_WINE_TIMEOUT:-300}
HERE=$(cd "$(dirname "$0")" && pwd)

if [ -z "${WINEPREFIX:-}" ]; then
  echo "wine-run.sh: WINEPREFIX is not set. Run the tests through tools/run-tests.sh," >&2
  echo "or source tools/wine-env.sh and prepare a test prefix first." >&2
  exit 2
fi
if [ $# -eq 0 ]; then
  echo "usage: wine-run.sh <program> [args...] | --regsvr32 <dll> | --cscript <script> [args...]" >&2
  exit 2
fi

# Windows path of a Unix path (Z: is the Unix root in every prefix).
winpath() {
  case $1 in
    /*) local p="Z:$1"; printf '%s' "${p//\//\\}" ;;
    *) printf '%s' "$1" ;;
  esac
}

# Prints i686 or x86_64 from the PE header's machine field, or nothing.
pe_arch() {
  local off machine
  off=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ') || return 0
  [ -n "$off" ] || return 0
  machine=$(od -An -tx2 -j$((off + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case $machine in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
  esac
}

# System folder of the tools that match the build: 32-bit ones live in syswow64.
sysdir() {
  if [ "$1" = i686 ]; then echo 'C:\windows\syswow64'; else echo 'C:\windows\system32'; fi
}

# Runs the program once, its output passed through as it comes and also kept, so that a run
# that printed nothing at all can be told apart; sets elapsed_ms. Returns when the program
# ends: programs it started (companions) may hold its output open far longer, and the copies
# go on passing that output through without this script waiting for them.
START_WINDOW_MS=${TAVRINE_START_WINDOW_MS:-10000}
run_once() {
  local t0 rc
  t0=$(date +%s%N)
  : >"$tmp/out"
  timeout "$LIMIT" "$WINE" "$@" </dev/null > >(tee -a "$tmp/out") 2> >(tee -a "$tmp/out" >&2)
  rc=$?
  elapsed_ms=$((($(date +%s%N) - t0) / 1000000))
  # The copies may lag a moment behind the program's end.
  [ -s "$tmp/out" ] || sleep 0.5
  return "$rc"
}

# Runs the program. Failed before a single byte of output, it most likely never ran (a start
# that Wine or qemu did not carry through): says so by name and starts it once more; a
# program that fails that way twice fails the test. Exits with the program's code.
run_checked() {
  local rc
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  run_once "$@"
  rc=$?
  if [ $rc -ne 0 ] && [ $rc -ne 124 ] && [ ! -s "$tmp/out" ] && [ "$elapsed_ms" -lt "$START_WINDOW_MS" ]; then
    echo "wine-run.sh: $1 ended with exit code $rc after $elapsed_ms ms without printing anything" \
      "(it did not start); starting it once more" >&2
    run_once "$@"
    rc=$?
    [ $rc -eq 0 ] || [ -s "$tmp/out" ] ||
      echo "wine-run.sh: $1 again ended with exit code $rc after $elapsed_ms ms without printing anything" >&2
  elif [ $rc -ne 0 ] && [ ! -s "$tmp/out" ]; then
    echo "wine-run.sh: $1 ended with exit code $rc after $elapsed_ms ms without printing anything" >&2
  fi
  exit $rc
}

# A 32-bit run needs the qemu namespace; enter it when a test is started by hand.
need32=${TAVRINE_ARCH:-}
if [ "$1" = --regsvr32 ] && [ $# -eq 2 ] && [ -f "$2" ]; then
  need32=$(pe_arch "$2")
fi
if [ "$need32" = i686 ] && [ -z "${W32_IN_NS:-}" ]; then
  exec "$HERE/win32-env" "$0" "$@"
fi

case $1 in
  --regsvr32)
    if [ $# -ne 2 ] || [ ! -f "$2" ]; then
      echo "wine-run.sh: --regsvr32 needs the path of an existing DLL" >&2
      exit 2
    fi
    arch=$(pe_arch "$2")
    arch=${arch:-${TAVRINE_ARCH:-x86_64}}
    timeout "$LIMIT" "$WINE" "$(sysdir "$arch")\\regsvr32.exe" /s "$(winpath "$2")" </dev/null
    rc=$?
    [ $rc -eq 0 ] || echo "wine-run.sh: regsvr32 ($arch) of $2 failed with exit code $rc" >&2
    exit $rc
    ;;
  --cscript)
    if [ $# -lt 2 ]; then
      echo "wine-run.sh: --cscript needs a script" >&2
      exit 2
    fi
    script=$(winpath "$2")
    shift 2
    run_checked "$(sysdir "${TAVRINE_ARCH:-x86_64}")\\cscript.exe" //nologo "$script" "$@"
    ;;
  *)
    run_checked "$@"
    ;;
esac
