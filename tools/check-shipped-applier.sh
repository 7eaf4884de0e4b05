#!/usr/bin/env bash
# The applier as shipped: a 32-bit (i386) Windows GUI program within its size
# budget, with no link time in its header (a release is rebuilt byte for
# byte). Runs on every `make test`, whichever build the Windows tests ran.
#   check-shipped-applier.sh APPLIER.EXE
set -euo pipefail
applier=$1
limit=73728  # 72 KB
[ -f "$applier" ] || { echo "no shipped applier at $applier"; exit 1; }
read -r machine subsystem stamp < <(python3 - "$applier" <<'PY'
import struct, sys
data = open(sys.argv[1], 'rb').read(4096)
pe = struct.unpack_from('<I', data, 0x3C)[0]
machine = struct.unpack_from('<H', data, pe + 4)[0]
subsystem = struct.unpack_from('<H', data, pe + 24 + 68)[0]
stamp = struct.unpack_from('<I', data, pe + 8)[0]
print(hex(machine), subsystem, stamp)
PY
)
size=$(stat -c %s "$applier")
[ "$machine" = 0x14c ] || { echo "$applier is not an i386 program (machine $machine)"; exit 1; }
[ "$subsystem" = 2 ] || { echo "$applier is not a GUI program (subsystem $subsystem)"; exit 1; }
[ "$stamp" = 0 ] || { echo "$applier carries a link time ($stamp): not reproducible"; exit 1; }
[ "$size" -le "$limit" ] || { echo "$applier is $size bytes, over the $limit-byte budget"; exit 1; }
echo "shipped applier: i386 GUI program, $size bytes (budget $limit)"
