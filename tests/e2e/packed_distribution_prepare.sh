#!/usr/bin/env bash
# Lays out what e2e.packed_distribution_test installs: a product folder of 200 files (20 MB)
# and the distribution that `ksdist pack` makes of it with the SETUP.EXE under test, proven by
# `ksdist verify`. Usage: packed_distribution_prepare.sh KSDIST WINDOWS_TREE OUT
set -euo pipefail
ksdist=$1 tree=$2 out=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$out"
mkdir -p "$out"
python3 "$root/tests/fixtures/sample/make_product.py" "$out/product" \
  --kestra32 "$tree/tests/fixtures/KESTRA32.EXE" --worker "$tree/tests/fixtures/ksshlex1.dll" \
  --files 200 --megabytes 20
"$ksdist" pack --product "$out/product" --side-files "$root/tests/fixtures/sample/side-files" \
  --setup "$tree/src/setup/SETUP.EXE" --out "$out/dist"
"$ksdist" verify "$out/dist"
