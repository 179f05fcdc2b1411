#!/bin/bash
# Runs a script client under Wine and judges it by its exit code and its output,
# because Wine's cscript exits with 0 after an uncaught script error.
#   check-output.sh [--rc N] [--expect FILE] [--match REGEX]... -- command [args...]
#     --rc N         the exit code required (default 0)
#     --expect FILE  stdout must equal FILE (line ends normalised)
#     --match REGEX  stdout or stderr must have a line matching REGEX (grep -E)
set -uo pipefail

rc_wanted=0 expect="" matches=()
while [ $# -gt 0 ]; do
  case $1 in
    --rc) rc_wanted=$2; shift 2 ;;
    --expect) expect=$2; shift 2 ;;
    --match) matches+=("$2"); shift 2 ;;
    --) shift; break ;;
    *) echo "check-output.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ $# -gt 0 ] || { echo "check-output.sh: no command" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"$@" </dev/null >"$tmp/out" 2>"$tmp/err"
rc=$?
tr -d '\r' <"$tmp/out" >"$tmp/stdout"
tr -d '\r' <"$tmp/err" >"$tmp/stderr"
echo "--- stdout"; cat "$tmp/stdout"
echo "--- stderr"; cat "$tmp/stderr"
echo "--- exit code $rc"

bad=0
if [ "$rc" != "$rc_wanted" ]; then
  echo "check-output.sh: exit code $rc, expected $rc_wanted"
  bad=1
fi
if [ -n "$expect" ] && ! diff -u "$expect" "$tmp/stdout" >"$tmp/diff"; then
  echo "check-output.sh: stdout differs from $expect:"
  cat "$tmp/diff"
  bad=1
fi
for re in "${matches[@]}"; do
  if ! grep -Eq -- "$re" "$tmp/stdout" "$tmp/stderr"; then
    echo "check-output.sh: no line matches /$re/"
    bad=1
  fi
done
exit $bad
