#!/usr/bin/env bash
# Applies a patch of some 3,000 records (small changed files, some new, some
# retired, in nested directories) with the real patch executable under Wine,
# unattended, and prints the seconds it took, the milliseconds per record and
# where the time of a run goes, pass by pass.
#   bench/many-files.sh [CHANGED NEW RETIRED]      (defaults 2400 360 240)
#   APPLIER=FILE bench/many-files.sh ...           another applier build, for comparison
#   RUNS=N bench/many-files.sh ...                 the best of N runs (default 1; 0: the
#                                                  breakdown only)
#   BASELINE=FILE bench/many-files.sh ...          also an older applier build, run in turns
#                                                  with this one on the same trees
# The breakdown comes from a build of the applier that writes the duration of
# each step of a run to standard error (SELFPATCH_PASS_TIMES, in build/pass-times-PRESET).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
changed=${1:-2400}
added=${2:-360}
retired=${3:-240}
runs=${RUNS:-1}
export BUILD_DIR="$root/build"
source tools/wine-env.sh
# A prefix of its own, so tests run meanwhile never stop this benchmark's server.
export WINEPREFIX="$BUILD_DIR/wineprefix-bench-$WINE_BITS"
preset=windows
[ "$WINE_BITS" = 64 ] && preset=windows64
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target mkpatch >/dev/null
cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j2 --target applier >/dev/null
timed_dir=build/pass-times-$preset
cmake --preset "$preset" -B "$timed_dir" -DSELFPATCH_PASS_TIMES=ON >/dev/null
cmake --build "$timed_dir" -j2 --target applier >/dev/null

work=$(mktemp -d /tmp/many-files.XXXXXX)
trap 'wine_stop; rm -rf "$work"' EXIT

python3 - "$work" "$changed" "$added" "$retired" <<'PY'
import os, random, sys
work, changed, added, retired = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
rng = random.Random(22)
words = [bytes(rng.choice(b'abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randrange(2, 9)))
         for _ in range(400)]
def text(size):
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) + (b'\n' if rng.random() < 0.1 else b' ')
    return bytes(out[:size])
def put(tree, name, data):
    path = os.path.join(work, tree, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data)
dirs = [''] + [f'd{a}/' for a in range(8)] + [f'd{a}/s{b}/' for a in range(8) for b in range(5)]
for i in range(changed):
    name = f'{dirs[i % len(dirs)]}c{i:04}.txt'
    old = text(rng.randrange(500, 6000))
    new = bytearray(old)
    for _ in range(rng.randrange(1, 4)):
        at = rng.randrange(len(new))
        new[at:at + 6] = text(rng.randrange(1, 12))
    put('old', name, old)
    put('new', name, bytes(new))
for i in range(added):
    put('new', f'{dirs[i % len(dirs)]}n{i:04}.txt', text(rng.randrange(200, 3000)))
for i in range(retired):
    put('old', f'{dirs[i % len(dirs)]}r{i:04}.txt', text(rng.randrange(200, 3000)))
for i in range(40):  # unchanged: no records
    data = text(1000)
    put('old', f'{dirs[i % len(dirs)]}u{i:04}.txt', data)
    put('new', f'{dirs[i % len(dirs)]}u{i:04}.txt', data)
PY

make_patch() {  # applier, output
  applier_stub_args "$1"
  build/native/builder/cli/mkpatch build --old "$work/old" --new "$work/new" -o "$2" \
    "${STUB_ARGS[@]}" --quiet
}
applier=${APPLIER:-build/$preset/app/applier.exe}
make_patch "$applier" "$work/patch.exe"
make_patch "$timed_dir/app/applier.exe" "$work/timed.exe"
[ -n "${BASELINE:-}" ] && make_patch "$BASELINE" "$work/baseline.exe"
records=$(build/native/builder/cli/mkpatch inspect "$work/patch.exe" |
  awk '$1 == "changed" || $1 == "new" || $1 == "obsolete" || $1 == "retired" {n++} END {print n+0}')
[ "$records" -gt 0 ] || records=$((changed + added + retired))

wine_start
winpath() { "$WINELOADER" winepath -w "$1" 2>/dev/null; }
target_win=$(winpath "$work/target")
reset_target() {
  rm -rf "$work/target"
  cp -r "$work/old" "$work/target"
  sync
}
now_ns() { date +%s%N; }
# One run: the patch given, unattended; prints its milliseconds. The target
# must end as the new tree, with nothing left behind.
apply_once() {  # patch, stderr file
  reset_target
  local start end code=0
  start=$(now_ns)
  "$WINELOADER" "$1" /quiet "$target_win" </dev/null >/dev/null 2>"$2" || code=$?
  end=$(now_ns)
  if [ "$code" != 0 ]; then echo "run failed with exit code $code" >&2; exit 1; fi
  if ! diff -rq -x BACKUP "$work/new" "$work/target" >/dev/null; then
    echo "the target is not the new tree after the run" >&2
    exit 1
  fi
  echo $(((end - start) / 1000000))
}

# Wine's own start and the applier's start-up, with a patch of one record.
mkdir -p "$work/one/old" "$work/one/new" "$work/one/target"
echo old >"$work/one/old/a.txt"
echo new >"$work/one/new/a.txt"
applier_stub_args "$applier"
build/native/builder/cli/mkpatch build --old "$work/one/old" --new "$work/one/new" \
  -o "$work/one.exe" "${STUB_ARGS[@]}" --quiet
cp "$work/one/old/a.txt" "$work/one/target/"
start=$(now_ns)
"$WINELOADER" "$work/one.exe" /quiet "$(winpath "$work/one/target")" </dev/null >/dev/null 2>&1
base_ms=$((($(now_ns) - start) / 1000000))

# The timed build first: it also warms the caches for the runs measured.
apply_once "$work/timed.exe" "$work/times" >/dev/null
best= base_best=
for _ in $(seq 1 "$runs"); do
  if [ -n "${BASELINE:-}" ]; then
    ms=$(apply_once "$work/baseline.exe" /dev/null)
    if [ -z "$base_best" ] || [ "$ms" -lt "$base_best" ]; then base_best=$ms; fi
  fi
  ms=$(apply_once "$work/patch.exe" /dev/null)
  if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
done

echo "records: $records ($changed changed, $added new, $retired retired); applier: $applier"
echo "patch size: $(stat -c %s "$work/patch.exe") bytes"
[ -n "$best" ] && python3 - "$best" "$base_ms" "$records" "$runs" <<'PY'
import sys
best, base, records, runs = (int(v) for v in sys.argv[1:])
print(f'apply, best of {runs}:  {best / 1000:.2f} s, {best / records:.1f} ms per record')
print(f'a one-record patch:     {base / 1000:.2f} s (Wine and start-up)')
print(f'less that:              {(best - base) / records:.1f} ms per record')
PY
[ -n "$base_best" ] && python3 - "$base_best" "$base_ms" "$records" "$runs" <<'PY'
import sys
best, base, records, runs = (int(v) for v in sys.argv[1:])
print(f'baseline, best of {runs}: {best / 1000:.2f} s, {best / records:.1f} ms per record, '
      f'{(best - base) / records:.1f} less the start-up')
PY
echo "where a run's time goes (the pass-timing build, one run):"
python3 - "$work/times" "$records" <<'PY'
import sys
rows, run = {}, 0
for line in open(sys.argv[1], encoding='utf-8', errors='replace'):
    parts = line.split()
    if len(parts) == 3 and parts[0] == 'step':
        if parts[1] == 'run':
            run += int(parts[2])
        else:
            rows[parts[1]] = rows.get(parts[1], 0) + int(parts[2])
records = int(sys.argv[2])
def show(name, us):
    print(f'  {name:<18} {us / 1000:9.1f} ms  {us / 1000 / records:6.2f} ms per record')
# A name with a dot is a part of the step before it.
for name, us in rows.items():
    show(('  ' + name.split('.', 1)[1]) if '.' in name else name, us)
show('rest of the run', run - sum(us for name, us in rows.items() if '.' not in name))
show('whole run', run)
PY
