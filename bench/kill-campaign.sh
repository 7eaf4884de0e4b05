#!/usr/bin/env bash
# Kills real runs of a multi-file patch under Wine at random moments, half of
# them while the files are being moved, and runs the patch again after each
# kill, as a user would after a power cut. Prints how many kills left every
# original recoverable and how many second runs finished the job.
#   bench/kill-campaign.sh [KILLS] [SEED]      (defaults 100 and 1)
#   APPLIER=FILE bench/kill-campaign.sh ...    another applier build, for comparison
# The target is the second patch of a series: some files have older backups.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
kills=${1:-100}
seed=${2:-1}
export BUILD_DIR="$root/build"
source tools/wine-env.sh
# A prefix of its own, so tests run meanwhile never stop this campaign's server.
export WINEPREFIX="$BUILD_DIR/wineprefix-campaign-$WINE_BITS"
preset=$WINDOWS_TEST_PRESET
cmake --preset native >/dev/null && cmake --build --preset native -j2 --target mkpatch >/dev/null
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2 --target applier patch_session >/dev/null

work=$(mktemp -d /tmp/kill-campaign.XXXXXX)
trap 'wine_stop; [ -n "${KEEP_WORK:-}" ] || rm -rf "$work"' EXIT

# 40 changed files, 8 retired, 8 new, 4 unchanged, in a few directories;
# 10 of the changed files have a backup of an earlier patch.
python3 - "$work" "$seed" <<'PY'
import os, random, sys
work, rng = sys.argv[1], random.Random(int(sys.argv[2]))
def put(tree, name, data):
    path = os.path.join(work, tree, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    open(path, 'wb').write(data)
dirs = ['', 'bin/', 'data/', 'data/maps/', 'lang/']
for i in range(40):
    name = f'{dirs[i % 5]}file{i:02}.dat'
    old = bytes(rng.randrange(256) for _ in range(rng.randrange(2000, 60000)))
    new = bytearray(old)
    for _ in range(20):
        at = rng.randrange(len(new))
        new[at:at + 8] = bytes(rng.randrange(256) for _ in range(8))
    put('old', name, old)
    put('new', name, bytes(new))
    if i % 4 == 0:
        put('older', 'BACKUP/' + name, b'an earlier version of ' + name.encode())
for i in range(8):
    put('old', f'{dirs[i % 5]}retired{i}.txt', f'retired {i}\n'.encode() * 50)
    put('new', f'{dirs[i % 5]}added{i}.txt', f'added {i}\n'.encode() * 50)
for i in range(4):
    same = f'same {i}\n'.encode() * 100
    put('old', f'same{i}.txt', same)
    put('new', f'same{i}.txt', same)
PY
applier=${APPLIER:-build/$preset/app/applier.exe}
applier_stub_args "$applier"
build/native/builder/cli/mkpatch build --old "$work/old" --new "$work/new" -o "$work/patch.exe" \
  "${STUB_ARGS[@]}" >/dev/null

# The moves have begun once the first changed file of the stream without an
# older backup has reached the backup directory.
first=
for name in $(build/native/builder/cli/mkpatch inspect "$work/patch.exe" | awk '$1 == "changed" {print $2}'); do
  name=${name//\\//}
  [ -e "$work/older/BACKUP/$name" ] || { first=$name; break; }
done
moving_begun() { [ -e "$work/target/BACKUP/$first" ]; }

wine_start
winpath() { "$WINELOADER" winepath -w "$1" 2>/dev/null; }
patch_win=$(winpath "$work/patch.exe")
session="build/$preset/tools/driver/patch_session.exe"

reset_target() {
  rm -rf "$work/target"
  cp -r "$work/old" "$work/target"
  cp -r "$work/older/BACKUP" "$work/target/BACKUP"
}
now_ms() { date +%s%3N; }
staging_left() { compgen -G "$work/target/PATCH*.TMP" >/dev/null; }

# One undisturbed run tells how long a run takes and when its moves begin
# and end (the staging directory goes).
reset_target
target_win=$(winpath "$work/target")
start=$(now_ms)
"$WINELOADER" "$work/patch.exe" "$target_win" </dev/null >/dev/null 2>&1 &
pid=$!
until moving_begun; do :; done
moves=$(now_ms)
while staging_left; do :; done
end=$(now_ms)
kill -9 "$pid"; wait "$pid" 2>/dev/null || true
run_ms=$((end - start)); move_ms=$((end - moves))
echo "undisturbed run: ${run_ms} ms, of it ${move_ms} ms moving files"

# Every original (each changed or retired file) whole in place or in the backup.
recoverable() {
  (cd "$work/old" && find . -type f) | while read -r f; do
    [ -e "$work/new/$f" ] && cmp -s "$work/old/$f" "$work/new/$f" && continue
    cmp -s "$work/old/$f" "$work/target/$f" || cmp -s "$work/old/$f" "$work/target/BACKUP/$f" ||
      { echo "lost $f"; return 1; }
  done
}
backup_complete() {
  (cd "$work/old" && find . -type f) | while read -r f; do
    [ -e "$work/new/$f" ] && cmp -s "$work/old/$f" "$work/new/$f" && continue
    cmp -s "$work/old/$f" "$work/target/BACKUP/$f" || return 1
  done
}
new_tree() { diff -rq -x BACKUP "$work/new" "$work/target" >/dev/null; }

RANDOM=$seed
moving=0 midway=0 recovered=0 finished=0 complete=0 staged=0
for k in $(seq 1 "$kills"); do
  reset_target
  "$WINELOADER" "$work/patch.exe" "$target_win" </dev/null >/dev/null 2>&1 &
  pid=$!
  if ((k % 2 == 0)); then
    # While moving: from the first move on, within the time the moves take.
    until moving_begun || ! kill -0 "$pid" 2>/dev/null; do :; done
    sleep "$(printf '0.%03d' $((RANDOM % (move_ms > 999 ? 999 : move_ms + 1))))"
    moving=$((moving + 1))
  else
    sleep "$(printf '%d.%03d' $((RANDOM % (run_ms + 1) / 1000)) $((RANDOM % (run_ms + 1) % 1000)))"
  fi
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  # Ended between the first move and the cleanup.
  if moving_begun && staging_left; then midway=$((midway + 1)); fi
  if recoverable >"$work/lost"; then recovered=$((recovered + 1)); else
    echo "kill $k: $(head -1 "$work/lost")"
  fi
  log=$("$WINELOADER" "$session" "$patch_win" "$target_win" 2>/dev/null </dev/null || true)
  if grep -q '套用完成' <<<"$log" && new_tree; then finished=$((finished + 1)); else
    echo "kill $k: the second run did not finish the job"
  fi
  if backup_complete; then complete=$((complete + 1)); else echo "kill $k: backup incomplete"; fi
  if staging_left; then staged=$((staged + 1)); echo "kill $k: staging left"; fi
done

echo "kills:                                          $kills ($moving aimed at the moves, $midway ended between the first move and the cleanup)"
echo "kills after which every original was recoverable: $recovered"
echo "re-runs that finished the job:                  $finished"
echo "re-runs whose backup holds every original:      $complete"
echo "re-runs that left a staging directory:          $staged"
