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
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 --target applier >/dev/null
applier="build/$preset/app/applier.exe"
echo "demo: applier $applier (preset $preset)"

work=build/demo
rm -rf "$work" && mkdir -p "$work"
cp -r demo/old "$work/old" && cp -r demo/new "$work/new"
cc=x86_64-w64-mingw32-gcc-posix
$cc -O2 -DVERSION=1 -o "$work/old/hello.exe" demo/src/hello.c
$cc -O2 -DVERSION=2 -DGREETING='"Hello again"' -o "$work/new/hello.exe" demo/src/hello.c

build/native/builder/cli/mkpatch build --old "$work/old" --new "$work/new" -o "$work/demo-patch.exe" \
  --stub "$applier" --description demo/description.txt
build/native/builder/cli/mkpatch inspect "$work/demo-patch.exe"

cp -r "$work/old" "$work/target"
before=$(cd "$work/target" && find . -type f -not -path './BACKUP/*' | sort | xargs md5sum)
wine_start
trap wine_stop EXIT
target_win=$("$WINELOADER" winepath -w "$work/target" 2>/dev/null)
"$WINELOADER" "$work/demo-patch.exe" "$target_win" &
patch_pid=$!

# The applier stays open with its window: wait until the tree is the new one.
for _ in $(seq 1 120); do
  now=$(cd "$work/target" && find . -type f -not -path './BACKUP/*' -not -path './PATCH*' | sort | xargs md5sum)
  [ "$now" != "$before" ] && diff -rq -x BACKUP "$work/new" "$work/target" >/dev/null 2>&1 && break
  sleep 0.5
done
sleep 1
DISPLAY=$DISPLAY import -window root "$work/demo-screenshot.png" 2>/dev/null || true
"$WINESERVER" -k || true
wait $patch_pid 2>/dev/null || true

if diff -rq -x BACKUP "$work/new" "$work/target"; then
  echo "demo: the patched tree equals the new tree"
  echo "demo: screenshot $work/demo-screenshot.png"
else
  echo "demo: the patched tree differs from the new tree" >&2
  exit 1
fi
