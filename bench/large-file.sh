#!/usr/bin/env bash
# Rebuilds a file of more than 2 GiB whose last bytes change: a sparse old
# file, a patch made by bench/large_patch.cpp, applied by the real patch
# executable under Wine. Prints the time and whether the new file is right.
#   bench/large-file.sh [SIZE_BYTES]      (default 2.5 GiB)
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-2684354560}
export BUILD_DIR=${BUILD_DIR:-$(pwd)/build}
source tools/wine-env.sh
applier_preset=windows
[ "$WINE_BITS" = 64 ] && applier_preset=windows64
cmake --build --preset native -j2 --target large_patch >/dev/null
cmake --build --preset "$applier_preset" -j2 --target applier >/dev/null
cmake --build --preset "$WINDOWS_TEST_PRESET" -j2 --target patch_session >/dev/null
work=$(mktemp -d "$BUILD_DIR/large-file.XXXXXX")
trap 'wine_stop; rm -rf "$work"' EXIT

mkdir "$work/target"
truncate -s "$size" "$work/target/big.bin"
build/native/large_patch "$size" "build/$applier_preset/app/applier.exe" "$work/patch.exe"
wine_start
start=$(date +%s.%N)
"$WINELOADER" "build/$WINDOWS_TEST_PRESET/tools/driver/patch_session.exe" \
  "$("$WINELOADER" winepath -w "$work/patch.exe" 2>/dev/null)" \
  "$("$WINELOADER" winepath -w "$work/target" 2>/dev/null)" | tail -n 2
end=$(date +%s.%N)
got=$(stat -c %s "$work/target/big.bin")
tail_bytes=$(tail -c 22 "$work/target/big.bin")
backup=$(stat -c %s "$work/target/BACKUP/big.bin" 2>/dev/null || echo missing)
printf 'size %d: rebuilt in %.1f s; new file %d bytes, ends "%s"; backup %s bytes\n' \
  "$size" "$(echo "$end - $start" | bc)" "$got" "$tail_bytes" "$backup"
[ "$got" = "$size" ] && [ "$tail_bytes" = "the last bytes changed" ] && [ "$backup" = "$size" ]
