#!/usr/bin/env bash
# Lays out what e2e.package_test runs: the sample product packed by `ksdist pack` with the
# SETUP.EXE under test, and the package that `ksdist package` makes of it with the package stub
# of the same tree.
# Usage: package_prepare.sh KSDIST WINDOWS_TREE OUT
set -euo pipefail
ksdist=$1 tree=$2 out=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"
python3 "$root/tests/fixtures/sample/make_product.py" "$out/product" \
  --kestra32 "$tree/tests/fixtures/KESTRA32.EXE" --worker "$tree/tests/fixtures/ksshlex1.dll"
"$ksdist" pack --product "$out/product" --side-files "$root/tests/fixtures/sample/side-files" \
  --setup "$tree/src/setup/SETUP.EXE" --out "$out/dist"
"$ksdist" package "$out/dist" --stub "$tree/src/package/KSPACKAGE.EXE" --out "$out/package.exe"
