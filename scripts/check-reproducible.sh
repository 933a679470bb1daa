#!/usr/bin/env bash
# Proves that the shipped binaries hold nothing of the moment or the place of their build: two
# copies of one commit, in two folders of different depth, each built on its own (the product
# alone: a Windows tree without the tests), must give byte-identical SETUP.EXE and KSSHLSTB.DLL.
# Not part of `make test`, since it builds twice. Exit status 0 when the builds are identical.
# Usage: scripts/check-reproducible.sh [COMMIT]   (HEAD by default)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=${1:-HEAD}
work=$(mktemp -d "${TMPDIR:-/tmp}/ks-reproducible.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "== Two builds of $(git -C "$root" rev-parse --short "$commit")"
folders=("$work/one" "$work/second/build-place")
for folder in "${folders[@]}"; do
  mkdir -p "$folder/source"
  git -C "$root" archive "$commit" | tar -x -C "$folder/source"
  cmake -S "$folder/source" -B "$folder/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$folder/source/cmake/mingw-i686.cmake" -DKS_WIN_TESTS=OFF >/dev/null
  cmake --build "$folder/build" --target setup_exe >/dev/null
  echo "   built in $folder"
done

status=0
for file in src/setup/SETUP.EXE src/stublib/KSSHLSTB.DLL; do
  one=$(sha256sum <"${folders[0]}/build/$file" | cut -d' ' -f1)
  two=$(sha256sum <"${folders[1]}/build/$file" | cut -d' ' -f1)
  verdict=identical
  [ "$one" = "$two" ] || { verdict=DIFFERENT; status=1; }
  printf '%-13s %s\n%-13s %s  %s\n' "${file##*/}" "$one" "" "$two" "$verdict"
done
if [ $status -eq 0 ]; then
  echo "== Reproducible: both builds are byte-identical"
else
  echo "== NOT reproducible: the builds differ"
fi
exit $status
