#!/bin/bash
# Runs a script client while the picker driver works the file picker that the
# client opens, as a user would; fails when either of them fails.
#   with-picker-driver.sh <picker_driver.exe> [driver steps...] -- command [args...]
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
RUN="$HERE/../../tools/wine-run.sh"

driver=$1
shift
steps=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  steps+=("$1")
  shift
done
[ "${1:-}" = -- ] && shift
[ $# -gt 0 ] || { echo "with-picker-driver.sh: no command" >&2; exit 2; }

log=$(mktemp)
trap 'rm -f "$log"' EXIT
TAVRINE_WINE_TIMEOUT=150 "$RUN" "$driver" "${steps[@]}" >"$log" 2>&1 &
pid=$!
"$@"
rc=$?
if ! wait "$pid"; then
  # Whatever went wrong, the client must not be left inside the picker.
  TAVRINE_WINE_TIMEOUT=60 "$RUN" "$driver" --wait 3000 --close >>"$log" 2>&1
  echo "with-picker-driver.sh: the picker driver failed"
  rc=1
fi
sed 's/^/driver: /' "$log"
exit $rc
