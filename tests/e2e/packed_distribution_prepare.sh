#!/usr/bin/env bash
# Lays out what e2e.packed_distribution_test and e2e.package_test install: a product folder of
# 200 files (20 MB) and the distribution that `ksdist pack` makes of it with the SETUP.EXE under
# test, proven by `ksdist verify`, with the package that `ksdist package` makes of it; and beside
# it the same distribution whose setup.ks a release engineer packed with bsdtar instead (every
# entry streamed, deflated, not encrypted), proven the same way.
# Usage: packed_distribution_prepare.sh KSDIST WINDOWS_TREE OUT
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
# The package that customers would download of it, for e2e.package_test, plain and signed with
# a certificate of a test authority made here.
"$ksdist" package "$out/dist" --stub "$tree/src/package/KSPACKAGE.EXE" --out "$out/package.exe"
mapfile -t signing < <(python3 -c "import sys, types; sys.path.insert(0, sys.argv[1]); import pack_test
print('\n'.join(pack_test.PackTest.make_signing_certificate(types.SimpleNamespace(dir=sys.argv[2]))))" \
  "$root/tools/ksdist" "$out")
"$ksdist" package "$out/dist" --stub "$tree/src/package/KSPACKAGE.EXE" --out "$out/signed.exe" \
  --sign-cert "${signing[0]}" --sign-password-file "${signing[1]}"
# The archive's files as setup.ks holds them (flat, KESTRA32.EX_), packed again by bsdtar.
mkdir "$out/flat"
"$ksdist" unpack "$out/dist/setup.ks" "$out/flat"
cp -a "$out/dist" "$out/dist-bsdtar"
rm "$out/dist-bsdtar/setup.ks"
bsdtar --format zip -cf "$out/dist-bsdtar/setup.ks" -C "$out/flat" .
"$ksdist" verify "$out/dist-bsdtar"
