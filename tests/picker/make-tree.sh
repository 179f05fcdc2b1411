#!/bin/bash
# Builds the picker tests' folder tree on the Unix side and maps it as drive
# T: of the Wine prefix, so the tests see short, fixed paths (T:\Data...).
# What only Unix can make is made here: a symbolic link back up the tree and
# a sparse file of 5 GiB. Hidden and system attributes are set by the tests
# themselves through SetFileAttributesA (Wine keeps them in the user.DOSATTRIB
# extended attribute); names starting with a dot are hidden by Wine's rule.
#   make-tree.sh <tree-dir>          (WINEPREFIX must be set)
set -euo pipefail
tree=${1:?usage: make-tree.sh <tree-dir>}
: "${WINEPREFIX:?WINEPREFIX must be set}"

rm -rf "$tree"
mkdir -p "$tree"
cd "$tree"

bytes() { head -c "$2" /dev/zero | tr '\0' x > "$1"; }

# The folder of the worked example and the navigation walk.
mkdir -p Data/Photos/Trip Data/Music
bytes Data/Photos/Trip/a.jpg 1000
bytes Data/Photos/b.jpg 2048
bytes Data/notes.txt 5

# Filters: hidden and system entries (attributes set by the tests).
mkdir -p Filters/HidDir Filters/SysDir
bytes Filters/visible.txt 3
bytes Filters/.dotfile 4
bytes Filters/hidden.txt 6
bytes Filters/system.txt 7
bytes Filters/HidDir/inside.txt 8
bytes Filters/SysDir/inner.txt 9

# Sizes: an empty file, a sparse file over 4 GiB, an empty folder and one
# that holds only hidden entries.
mkdir -p Sizes/Empty Sizes/OnlyHidden/.hiddendir
: > Sizes/zero.bin
truncate -s 5368709120 Sizes/big.bin
bytes Sizes/OnlyHidden/.hidden 1

# Depth.
mkdir -p Deep/L1/L2/L3
bytes Deep/L1/L2/L3/f.txt 10
bytes Deep/L1/g.txt 11
bytes Deep/top.txt 12

# A cycle: Cycle/inner/back is Cycle itself.
mkdir -p Cycle/inner
bytes Cycle/c.txt 13
bytes Cycle/inner/i.txt 14
ln -s .. Cycle/inner/back
# A link from a chosen folder to its own parent, which is not on the walk.
mkdir -p Outer/Inner
bytes Outer/o.txt 19
bytes Outer/Inner/i.txt 20
ln -s .. Outer/Inner/toOuter

# Long names: the file's full path is longer than a path field may hold, and
# below it a folder whose very search pattern does not fit one.
long_folder=$(printf 'A%.0s' $(seq 200))
mkdir -p "Long/$long_folder/$(printf 'C%.0s' $(seq 100))"
bytes "Long/$long_folder/$(printf 'B%.0s' $(seq 100)).txt" 17
bytes "Long/$long_folder/$(printf 'C%.0s' $(seq 100))/deep.txt" 21
bytes Long/short.txt 18

# Folders among files, more entries than one hand-over of the listing holds:
# folder rows must still come first, each kind in enumeration order.
mkdir -p Mixed
(cd Mixed && for i in $(seq -w 0 39); do mkdir "d$i"; touch "f${i}a.txt" "f${i}b.txt" "f${i}c.txt" "f${i}d.txt" \
  "f${i}e.txt" "f${i}f.txt" "f${i}g.txt"; done)

# The same folder of 130 files and 8 empty folders at three path lengths:
# its items' paths up to 24, 74 and 184 bytes long (the last in Korean).
for folder in Lengths/a "Lengths/$(printf 'b%.0s' $(seq 50))" \
              "Lengths/$(printf '가%.0s' $(seq 40))/$(printf '나%.0s' $(seq 40))"; do
  mkdir -p "$folder"
  (cd "$folder" && for i in $(seq -w 0 7); do mkdir -p "dir$i"; done &&
   for i in $(seq -w 0 129); do printf '%*s' "$((10#$i))" '' > "item$i.txt"; done)
done

# Korean names (the prefix's ANSI code page is 949).
mkdir -p '한글/사진'
bytes '한글/문서.txt' 15
bytes '한글/사진/풍경.jpg' 16

ln -sfn "$tree" "$WINEPREFIX/dosdevices/t:"
# shellcheck source=tools/wine-env.sh
source "$(dirname "$0")/../../tools/wine-env.sh"
tavrine_drive_added
echo "picker tree ready at $tree (T:)"
