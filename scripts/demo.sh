#!/usr/bin/env bash
# `make demo`: lays out a distribution folder from the build (SETUP.EXE, the seven side files
# with SETUP.EXE's exact time, setup.ks holding the stand-in product) and runs SETUP.EXE from it
# under Wine up to the launch of the product. With DISPLAY set the windows appear there and you
# click through them; without it the run happens on Xvfb and the UI robot answers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
arch=$(sed -n 's/^KS_WINE_ARCH:[A-Z]*=//p' "$build/CMakeCache.txt")
tree=$build/win32
[ "$arch" = x86_64 ] && tree=$build/win64
dist=$build/demo/dist

echo "== Laying out a distribution in $dist"
rm -rf "$build/demo"
mkdir -p "$dist"
cp "$tree/src/setup/SETUP.EXE" "$dist/SETUP.EXE"
for name in README.TXT KESTRA.TXT LICENSE.TXT VENDOR.TXT WHATSNEW.TXT FILE_ID.DIZ ORDER.TXT; do
  printf 'Kestra 8.0 - %s\r\n' "$name" > "$dist/$name"
  touch -r "$dist/SETUP.EXE" "$dist/$name"
done
python3 - "$tree/tests/fixtures/KESTRA32.EXE" "$dist/setup.ks" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_STORED) as archive:
    archive.write(sys.argv[1], "KESTRA32.EX_")
    archive.writestr("KESTRA.HLP", "Kestra help\r\n" * 200)
PY
ls -l "$dist"

mode=""
if [ -n "${DISPLAY:-}" ]; then
  export KS_USE_DISPLAY=1
  mode="--interactive"
  echo "== Running SETUP.EXE on $DISPLAY: click through the dialogs"
else
  echo "== Running SETUP.EXE on a private Xvfb display; the UI robot answers"
fi
export KS_BUILD=$build KS_WINE_ARCH=$arch KS_WIN_TREE=$tree KS_PRODUCT_TREE=$build/win32
rm -rf "$build/wineprefix-$arch/drive_c/Kestra"
setup_w="Z:${dist//\//\\}\\SETUP.EXE"
"$root/tests/support/wine-run" "$tree/tests/demo/demo_run.exe" "$setup_w" $mode -argv0 'C:\download\package.exe'
echo "== Screenshots are in $build/artifacts (demo-*.png)"
