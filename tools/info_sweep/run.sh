#!/usr/bin/env bash
# Compares what V5Files_ReadQVImageInformation answers in two builds of the library over the
# older files of make_files.py (sound, unknown compressions, damaged strips, cut, bad sizes).
#
#   tools/info_sweep/run.sh TREE_A TREE_B [WORK]
#
# TREE_A and TREE_B are source trees of any revision (a git worktree of an older commit will do)
# whose build/release holds libquorin.a. answers.cpp is built against each; the files, both
# answer lists (A.txt, B.txt; with the pixel road's results in A-image.txt, B-image.txt) and the
# comparison (compare.txt) are left in WORK (default: a new temporary folder).
set -eu
[ $# -ge 2 ] || { sed -n 2,10p "$0"; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
work=${3:-$(mktemp -d)}
mkdir -p "$work"
/usr/bin/python3 "$here/make_files.py" "$work/files"
awk '{print "'"$work"'/files/" $1}' "$work/files/classes.txt" >"$work/list.txt"
for side in A B; do
  tree=$([ $side = A ] && echo "$1" || echo "$2")
  g++ -std=c++20 -O1 -I"$tree/include" -I"$tree/src" "$here/answers.cpp" \
    "$tree/build/release/libquorin.a" $(pkg-config --libs libxml-2.0) -lpthread \
    -o "$work/answers_$side"
  "$work/answers_$side" <"$work/list.txt" >"$work/$side.txt"
  "$work/answers_$side" --image <"$work/list.txt" >"$work/$side-image.txt"
done
/usr/bin/python3 "$here/compare.py" "$work/files/classes.txt" "$work/A.txt" "$work/B.txt" \
  | tee "$work/compare.txt"
echo "in $work"
