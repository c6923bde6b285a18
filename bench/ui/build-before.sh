#!/bin/sh
# Builds page-bench against an older commit (default: the one before this branch's first change
# to the pages) in a folder of its own, for compare-pages.sh:
#   bench/ui/build-before.sh <commit> <folder>
# The older tree gets this tree's bench/ui files; page-bench uses only what the pages always had.
set -eu
commit=${1:?commit}
folder=${2:?folder}
here=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$folder/src"
git -C "$here" archive "$commit" | tar -x -C "$folder/src"
cp "$here/bench/ui/PageBench.cpp" "$here/bench/ui/CMakeLists.txt" "$folder/src/bench/ui/"
cmake -S "$folder/src" -B "$folder/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice cmake --build "$folder/build" -j3 --target page-bench
