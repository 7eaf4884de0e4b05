#!/usr/bin/env bash
# The release archives, from the native and windows builds (make dist builds
# both first):
#   selfpatch_VERSION_ARCH.deb   the Linux builder, from the native install
#   selfpatch-VERSION-win32.zip  the windows install: mkpatch.exe, applier.exe
# The same tree gives the same bytes: every time stamp is SOURCE_DATE_EPOCH,
# by default the time of the last commit, and files go in a fixed order.
#   dist.sh [OUT_DIR]            (default build/dist)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build/dist}")
native=$root/build/native
windows=$root/build/windows

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
    { echo "dist: no commit to take the time from; set SOURCE_DATE_EPOCH" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
for f in "$native/CPackConfig.cmake" "$windows/cmake_install.cmake"; do
  [ -f "$f" ] || { echo "dist: no $f; build the native and windows presets first (make dist)" >&2; exit 1; }
done
bash "$root/tools/check-shipped-applier.sh" "$windows/app/applier.exe" >/dev/null
version=$(sed -n 's/^#define SELFPATCH_VERSION "\(.*\)"$/\1/p' "$native/generated/selfpatch_version.h")
[ -n "$version" ] || { echo "dist: no version in $native/generated" >&2; exit 1; }

work=$(mktemp -d /tmp/selfpatch-dist.XXXXXX)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"
rm -f "$out"/selfpatch_*.deb "$out"/selfpatch-*.zip

cpack --config "$native/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
mv "$work"/deb/selfpatch_*.deb "$out/"

folder=selfpatch-$version-win32
cmake --install "$windows" --prefix "$work/$folder" >/dev/null
python3 "$root/tools/make-zip.py" "$out/$folder.zip" "$work" "$folder"

for f in "$out"/selfpatch_*.deb "$out"/selfpatch-*.zip; do
  echo "$f: $(stat -c %s "$f") bytes"
done
