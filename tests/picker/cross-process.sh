#!/bin/bash
# The picker driven from another process, as the screenshot and the
# demonstration drive it: picker_host.exe opens the picker and prints the
# events it receives, picker_driver.exe chooses T:, opens Data, selects a
# folder and a file, adds them and closes the picker.
#   cross-process.sh <tools dir> <picker test programs dir>
set -uo pipefail
tools=$1 bin=$2
out=$(mktemp)
trap 'rm -f "$out"' EXIT

"$tools/wine-run.sh" "$bin/picker_driver.exe" --wait 60000 --location '(T:)' --open Data \
  --select 'Photos|notes.txt' --add --close >"$out.driver" 2>&1 &
driver=$!
TAVRINE_WINE_TIMEOUT=150 "$tools/wine-run.sh" "$bin/picker_host.exe" >"$out" 2>/dev/null
host_rc=$?
wait "$driver"
driver_rc=$?
cat "$out.driver"; rm -f "$out.driver"
cat "$out"

expected=$(printf '%s\n' \
  $'UpSelectComplete\tT:\\Data\\Photos\t-1\t-1' \
  $'UpSelectComplete\tT:\\Data\\Photos\\Trip\t-1\tT:\\Data\\Photos' \
  $'UpSelectComplete\tT:\\Data\\Photos\\Trip\\a.jpg\t1000\tT:\\Data\\Photos' \
  $'UpSelectComplete\tT:\\Data\\Photos\\b.jpg\t2048\tT:\\Data\\Photos' \
  $'UpSelectComplete\tT:\\Data\\notes.txt\t5\t-1')
got=$(grep '^UpSelectComplete' "$out" | tr -d '\r')
if [ $host_rc -ne 0 ] || [ $driver_rc -ne 0 ] || [ "$got" != "$expected" ]; then
  echo "cross-process: host exit $host_rc, driver exit $driver_rc; events differ from:"
  printf '%s\n' "$expected"
  exit 1
fi
echo "cross-process: the five events arrived in order"
