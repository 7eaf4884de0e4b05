#!/usr/bin/env bash
# Rebuilds a large file (>= 64 MiB of real executable code, changed in many
# scattered places) with the applier's engine under Wine, and the same change
# natively with bspatch and xdelta3 -d. Prints output MB/s and peak memory.
#   bench/apply-bench.sh [SIZE_MIB]      (default 64)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
size_mib=${1:-64}
export BUILD_DIR=${BENCH_BUILD_DIR:-$root/build/windows64}
work=$(mktemp -d /tmp/apply-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

for tool in bsdiff xdelta3; do
  command -v "$tool" >/dev/null || apt-get install -y -qq "$tool" >/dev/null
done
if [ ! -f "$BUILD_DIR/tests/engine/apply_bench.exe" ]; then
  cmake --preset windows64 >/dev/null
  cmake --build --preset windows64 -j2 --target apply_bench >/dev/null
fi

python3 - "$work" "$size_mib" <<'PY'
import glob, os, random, sys
work, size = sys.argv[1], int(sys.argv[2]) << 20
data = bytearray()
for path in sorted(glob.glob('/usr/lib/x86_64-linux-gnu/*.so*')):
    if os.path.isfile(path) and not os.path.islink(path):
        data += open(path, 'rb').read()
    if len(data) >= size:
        break
old = bytes(data[:size])
rng = random.Random(1)
new = bytearray(old)
# A change every 64 KiB on average: some bytes replaced, some inserted.
for at in sorted((rng.randrange(len(new)) for _ in range(size >> 16)), reverse=True):
    new[at:at + 16] = bytes(rng.randrange(256) for _ in range(16))
    if rng.random() < 0.5:
        new[at:at] = b'inserted'
open(os.path.join(work, 'old.bin'), 'wb').write(old)
open(os.path.join(work, 'new.bin'), 'wb').write(bytes(new))
PY
echo "old $(stat -c %s "$work/old.bin") bytes, new $(stat -c %s "$work/new.bin") bytes"

source tools/wine-env.sh
# The x86_64 build runs under 64-bit Wine even where 32-bit Wine works: the
# encode step needs more memory than a 32-bit process can address.
export WINE_BITS=64 WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
export WINESERVER=/usr/lib/wine/wineserver64 WINEPREFIX="$BUILD_DIR/wineprefix-64"
[ -x "$WINESERVER" ] || export WINESERVER=/usr/lib/wine/wineserver
wine_start >/dev/null 2>&1
bench="$BUILD_DIR/tests/engine/apply_bench.exe"
winpath() { echo "Z:${1//\//\\}"; }
"$WINELOADER" "$bench" make "$(winpath "$work/old.bin")" "$(winpath "$work/new.bin")" \
  "$(winpath "$work/stream.bin")" </dev/null
mkdir -p "$work/target" && cp "$work/old.bin" "$work/target/big.bin"
echo -n "applier (Wine):  "
"$WINELOADER" "$bench" apply "$(winpath "$work/stream.bin")" "$(winpath "$work/target")" </dev/null
cmp -s "$work/target/big.bin" "$work/new.bin" && echo "  output verified" || echo "  OUTPUT DIFFERS"
wine_stop

native() {  # label, output file, command...
  local label=$1 out=$2; shift 2
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null
  read -r seconds kib <"$work/time"
  python3 -c "import sys; s=float(sys.argv[1]) or 0.01; print(f'$label %.2f s, %.1f MB/s output, peak RSS %.1f MB' % (s, int(sys.argv[2])/1e6/s, int(sys.argv[3])/1e3))" \
    "$seconds" "$(stat -c %s "$out")" "$kib"
}
bsdiff "$work/old.bin" "$work/new.bin" "$work/patch.bsdiff"
xdelta3 -e -f -s "$work/old.bin" "$work/new.bin" "$work/patch.xd3"
native "bspatch:         " "$work/out.bs" bspatch "$work/old.bin" "$work/out.bs" "$work/patch.bsdiff"
native "xdelta3 -d:      " "$work/out.xd" xdelta3 -d -f -s "$work/old.bin" "$work/patch.xd3" "$work/out.xd"
