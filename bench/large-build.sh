#!/usr/bin/env bash
# Builds a patch for one generated pair of large files (default 3 GiB each:
# text-like, random and zero stretches, with scattered inserts, deletions,
# byte changes and moved blocks) with mkpatch, xdelta3 -9 and
# zstd -19 --long=31 --patch-from, and bsdiff where its memory fits; prints
# bytes, seconds, cpu seconds and peak memory of each.
#   bench/large-build.sh [SIZE_BYTES]
# Needs twice SIZE on disk below BUILD_DIR and, for mkpatch, about
# 2 x SIZE + 1 GiB of memory.
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-3221225472}
export BUILD_DIR=${BUILD_DIR:-$(pwd)/build}
mkpatch=${MKPATCH:-build/native/builder/cli/mkpatch}
stub=${STUB:-build/windows/app/applier.exe}
[ -f "$stub" ] || { echo "build the windows preset first (or set STUB)" >&2; exit 1; }
cmake --build --preset native -j2 --target mkpatch large_pair >/dev/null

need_kib=$(( size * 2 / 1024 + 1024 * 1024 ))
free_disk_kib=$(df -Pk "$BUILD_DIR" | awk 'NR == 2 {print $4}')
[ "$free_disk_kib" -gt "$need_kib" ] || { echo "not enough disk below $BUILD_DIR" >&2; exit 1; }
avail_kib=$(awk '/MemAvailable/ {print $2}' /proc/meminfo)
echo "pair of $size bytes; $(( free_disk_kib / 1048576 )) GiB disk and $(( avail_kib / 1048576 )) GiB memory free"

work=$(mktemp -d "$BUILD_DIR/large-build.XXXXXX")
trap 'rm -rf "$work"' EXIT
build/native/large_pair "$size" "$work/old.bin" "$work/new.bin"

measure() {  # command...: prints "seconds cpu-seconds peak-KiB", or "failed"
  if ! /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>"$work/err"; then
    echo failed; return
  fi
  awk -F': ' '/Elapsed/ {n=split($2,a,":"); t=0; for(i=1;i<=n;i++) t=t*60+a[i]; s=t}
              /(User|System) time/ {c+=$2} /Maximum resident/ {m=$2}
              END {printf "%s %.2f %s\n", s, c, m}' "$work/time"
}
row() { printf '%-10s %12s %9s %9s %10s\n' "$@"; }
report() {  # tool output-file measure-result
  if [ "$3" = failed ]; then row "$1" failed - - -; sed 's/^/  /' "$work/err" | head -3; return; fi
  read -r s c m <<<"$3"
  row "$1" "$(stat -c %s "$2")" "$s" "$c" "$m"
}

row tool bytes seconds cpu peakKiB
r=$(measure "$mkpatch" build --old "$work/old.bin" --new "$work/new.bin" --name big.bin \
      -o "$work/p.exe" -f --stub "$stub" --quiet --no-times)
[ "$r" = failed ] || truncate -s $(( $(stat -c %s "$work/p.exe") - $(stat -c %s "$stub") )) "$work/p.exe"
report mkpatch "$work/p.exe" "$r"
rm -f "$work/p.exe"
if command -v xdelta3 >/dev/null; then
  report xdelta3-9 "$work/p.xd3" "$(measure xdelta3 -9 -f -e -s "$work/old.bin" "$work/new.bin" "$work/p.xd3")"
else
  echo "xdelta3 not installed: skipped"
fi
if command -v zstd >/dev/null; then
  report zstd-19 "$work/p.zst" "$(measure zstd -19 --long=31 -f -q --patch-from="$work/old.bin" \
                                   "$work/new.bin" -o "$work/p.zst")"
else
  echo "zstd not installed: skipped"
fi
# bsdiff keeps a suffix array of 8-byte entries and both files: about
# 10 x SIZE bytes.
if ! command -v bsdiff >/dev/null; then
  echo "bsdiff not installed: skipped"
elif [ "$(( avail_kib * 1024 ))" -lt "$(( size * 10 ))" ]; then
  echo "bsdiff skipped: it needs about $(( size * 10 / 1073741824 )) GiB of memory"
else
  report bsdiff "$work/p.bsdiff" "$(measure bsdiff "$work/old.bin" "$work/new.bin" "$work/p.bsdiff")"
fi
