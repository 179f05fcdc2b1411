#!/bin/bash
# The bridge tests' folder of 10,000 files, made on the Unix side (far faster
# than through Wine) and mapped as drive U: of the Wine prefix.
#   make-tree.sh <tree-dir>          (WINEPREFIX must be set)
set -euo pipefail
tree=${1:?usage: make-tree.sh <tree-dir>}
: "${WINEPREFIX:?WINEPREFIX must be set}"
if [ "$(find "$tree/Many" -type f 2>/dev/null | wc -l)" != 10000 ]; then
  rm -rf "$tree"
  mkdir -p "$tree/Many"
  (cd "$tree/Many" && python3 -c '
for i in range(10000):
    open("file%05d.txt" % i, "w").write("x" * (i % 7))')
fi
ln -sfn "$tree" "$WINEPREFIX/dosdevices/u:"
# shellcheck source=tools/wine-env.sh
source "$(dirname "$0")/../../tools/wine-env.sh"
tavrine_drive_added
