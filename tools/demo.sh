#!/usr/bin/env bash
# Builds a patch from the sample trees in demo/ and applies it with the real
# applier under Wine to a scratch copy of the old tree, then checks the result.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export BUILD_DIR="$root/build"
bash tools/setup.sh

# The 64-bit applier build runs under 64-bit Wine where 32-bit Wine cannot.
source tools/wine-env.sh
preset=$WINDOWS_TEST_PRESET
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target mkpatch >/dev/null
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 --target applier patch_session >/dev/null
applier="build/$preset/app/applier.exe"
echo "demo: applier $applier, $APPLIER_UNDER_TEST"

work=build/demo
rm -rf "$work" && mkdir -p "$work"
cp -r demo/old "$work/old" && cp -r demo/new "$work/new"
cc=x86_64-w64-mingw32-gcc-posix
$cc -O2 -DVERSION=1 -o "$work/old/hello.exe" demo/src/hello.c
$cc -O2 -DVERSION=2 -DGREETING='"Hello again"' -o "$work/new/hello.exe" demo/src/hello.c

applier_stub_args "$applier"
build/native/builder/cli/mkpatch build --old "$work/old" --new "$work/new" -o "$work/demo-patch.exe" \
  "${STUB_ARGS[@]}" --description demo/description.txt
build/native/builder/cli/mkpatch inspect "$work/demo-patch.exe"

cp -r "$work/old" "$work/target"
wine_start
trap wine_stop EXIT
target_win=$("$WINELOADER" winepath -w "$work/target" 2>/dev/null)
# Run the patch as a user would: it applies itself at start; the driver prints
# the log pane, saves a picture of the window and closes it.
echo "demo: applying the patch to $target_win"
"$WINELOADER" "build/$preset/tools/driver/patch_session.exe" "$("$WINELOADER" winepath -w "$work/demo-patch.exe" 2>/dev/null)" \
  "$target_win" "$("$WINELOADER" winepath -w "$work/demo-window.bmp" 2>/dev/null)"
convert "$work/demo-window.bmp" "$work/demo-window.png" 2>/dev/null && rm -f "$work/demo-window.bmp"
wine_stop
trap - EXIT

if diff -rq -x BACKUP "$work/new" "$work/target"; then
  echo "demo: the patched tree equals the new tree"
  echo "demo: the window as the user saw it: $work/demo-window.png"
else
  echo "demo: the patched tree differs from the new tree" >&2
  exit 1
fi
