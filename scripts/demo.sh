#!/usr/bin/env bash
# `make demo`: what a release engineer does, then what a customer sees. Packs the sample product
# (tests/fixtures/sample: the stand-in KESTRA32.EXE, the worker library ksshlex1.dll and a few
# megabytes of generated documents) into a distribution folder with `ksdist pack`, proves it
# with `ksdist verify`, makes the package that customers download with `ksdist package`, and
# runs that package under Wine: it unpacks itself and starts SETUP.EXE, up to the launch of the
# product.
# With DISPLAY set the windows appear there and you click through them; without it the run
# happens on Xvfb and the UI robot accepts the suggested folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
arch=$(sed -n 's/^KS_WINE_ARCH:[A-Z]*=//p' "$build/CMakeCache.txt")
tree=$build/win32
[ "$arch" = x86_64 ] && tree=$build/win64
ksdist=$build/tools/ksdist/ksdist
demo=$build/demo

echo "== Generating the sample product in $demo/product"
rm -rf "$demo"
mkdir -p "$demo"
python3 "$root/tests/fixtures/sample/make_product.py" "$demo/product" \
  --kestra32 "$tree/tests/fixtures/KESTRA32.EXE" --worker "$tree/tests/fixtures/ksshlex1.dll"
(cd "$demo/product" && find . -type f | sort | sed 's|^\./|  |')

echo "== ksdist pack"
"$ksdist" pack --product "$demo/product" --side-files "$root/tests/fixtures/sample/side-files" \
  --setup "$tree/src/setup/SETUP.EXE" --out "$demo/dist"

echo "== ksdist verify"
"$ksdist" verify "$demo/dist"

echo "== ksdist package: the one file that customers download"
mkdir -p "$demo/download"
"$ksdist" package "$demo/dist" --stub "$tree/src/package/KSPACKAGE.EXE" \
  --out "$demo/download/package.exe"

mode=""
if [ -n "${DISPLAY:-}" ]; then
  export KS_USE_DISPLAY=1
  mode="--interactive"
  echo "== Running the $arch package on $DISPLAY as a customer would: click through setup's dialogs"
else
  echo "== Running the $arch package on a private Xvfb display; the UI robot accepts the suggested folder"
fi
export KS_BUILD=$build KS_WINE_ARCH=$arch KS_WIN_TREE=$tree KS_PRODUCT_TREE=$build/win32
# Setup proposes Program Files\Kestra; start from a prefix without an earlier demo install.
rm -rf "$build/wineprefix-$arch/drive_c/Kestra" "$build/wineprefix-$arch/drive_c/Program Files/Kestra"
package_w="Z:${demo//\//\\}\\download\\package.exe"
"$root/tests/support/wine-run" "$tree/tests/demo/demo_run.exe" "$package_w" --package $mode
echo "== Screenshots are in $build/artifacts (demo-*.png)"
