#!/usr/bin/env bash
# The Windows builder (under Wine) writes the same patch as the Linux builder,
# with the default compression and with --zopfli, whose cost model is
# floating point.
#   builders_agree.sh MKPATCH.EXE NATIVE_MKPATCH APPLIER.EXE
set -euo pipefail
windows=$1 native=$2 applier=$3
[ -x "$native" ] || { echo "no native builder at $native: build the native preset first"; exit 1; }
work=$(mktemp -d /tmp/builders-agree.XXXXXX)
trap 'rm -rf "$work"' EXIT
win() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
source "$(dirname "$0")/../../tools/wine-env.sh"
applier_stub_args "$(win "$applier")"
windows_stub=("${STUB_ARGS[@]}")
applier_stub_args "$applier"

# An executable-like file with moved code and rewritten addresses, and text.
python3 - "$work" <<'PY'
import os, random, sys
random.seed(12)
work = sys.argv[1]
for d in ('old', 'new'):
    os.makedirs(os.path.join(work, d))
words = [bytes(random.randrange(256) for _ in range(random.randrange(2, 9))) for _ in range(400)]
old = b''.join(random.choice(words) for _ in range(40000))
new = bytearray(old[:50000] + bytes(random.randrange(256) for _ in range(3000)) + old[50000:])
for at in range(60000, len(new) - 4, 97):
    new[at] = (new[at] + 16) & 0xFF
text = ''.join(f'line {i}: {random.choice(["alpha", "beta", "gamma"])}\n' for i in range(3000))
for d, program, notes in (('old', old, text), ('new', bytes(new), text.replace('beta', 'delta'))):
    open(os.path.join(work, d, 'program.bin'), 'wb').write(program)
    open(os.path.join(work, d, 'notes.txt'), 'w').write(notes)
PY

for extra in "" --zopfli; do
  "$WINELOADER" "$windows" build --old "$(win "$work/old")" --new "$(win "$work/new")" \
    -o "$(win "$work/windows.exe")" -f "${windows_stub[@]}" --quiet $extra </dev/null
  "$native" build --old "$work/old" --new "$work/new" -o "$work/linux.exe" -f \
    "${STUB_ARGS[@]}" --quiet $extra
  cmp "$work/windows.exe" "$work/linux.exe" ||
    { echo "the builders differ${extra:+ with $extra}"; exit 1; }
done
echo "both builders wrote $(stat -c %s "$work/linux.exe") identical bytes"
