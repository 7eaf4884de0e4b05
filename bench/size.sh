#!/usr/bin/env bash
# Size benchmark: per corpus pair, our patch payload next to bsdiff, xdelta3 -9
# and zstd -19 and -22 --ultra --long --patch-from, with build time and peak
# memory of each; then the build time with --jobs 1 and with the default
# (every core), whose patches must be the same bytes.
# Directory pairs are compared as one tar stream for the other tools. The
# machine may be shared: cpu (user + system seconds) compares tools fairly
# where elapsed seconds depend on the load.
set -euo pipefail
cd "$(dirname "$0")/.."
corpus=${CORPUS_DIR:-build/bench-corpus}
mkpatch=${MKPATCH:-build/native/builder/cli/mkpatch}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in bsdiff xdelta3 zstd; do
  command -v $tool >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $tool >/dev/null
done
[ -x "$mkpatch" ] || { echo "build the native preset first" >&2; exit 1; }
# The builder takes only a real applier; its size is taken off again below.
stub=${STUB:-build/windows/app/applier.exe}
[ -f "$stub" ] || { echo "build the windows preset first (or set STUB)" >&2; exit 1; }

measure() {  # command...: prints "seconds cpu-seconds peak-KiB"
  /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>&1
  local s c m
  s=$(awk -F': ' '/Elapsed/ {n=split($2,a,":"); t=0; for(i=1;i<=n;i++) t=t*60+a[i]; print t}' "$work/time")
  c=$(awk -F': ' '/(User|System) time/ {t+=$2} END {printf "%.2f", t}' "$work/time")
  m=$(awk -F': ' '/Maximum resident/ {print $2}' "$work/time")
  echo "$s $c $m"
}

as_one_file() {  # dir-or-file -> a single file for the byte-oriented tools
  if [ -d "$1" ]; then (cd "$1" && find . -type f | LC_ALL=C sort | tar -cf - -T - --mtime=@0 --owner=0 --group=0); else cat "$1"; fi
}

row() { printf '%-15s %-10s %10d %8s %8s %9s\n' "$@"; }
printf '%-15s %-10s %10s %8s %8s %9s\n' pair tool bytes seconds cpu peakKiB
for pair in "$corpus"/*/; do
  name=$(basename "$pair")
  old="$pair/old"; new="$pair/new"
  as_one_file "$old" > "$work/old.bin"; as_one_file "$new" > "$work/new.bin"
  read -r s c m < <(measure "$mkpatch" build --old "$old" --new "$new" -o "$work/p.exe" -f --stub "$stub" --allow-removals --follow-links --quiet --no-times)
  row "$name" mkpatch "$(( $(stat -c %s "$work/p.exe") - $(stat -c %s "$stub") ))" "$s" "$c" "$m"
  read -r s c m < <(measure bsdiff "$work/old.bin" "$work/new.bin" "$work/p.bsdiff")
  row "$name" bsdiff "$(stat -c %s "$work/p.bsdiff")" "$s" "$c" "$m"
  read -r s c m < <(measure xdelta3 -9 -f -e -s "$work/old.bin" "$work/new.bin" "$work/p.xd3")
  row "$name" xdelta3-9 "$(stat -c %s "$work/p.xd3")" "$s" "$c" "$m"
  read -r s c m < <(measure zstd -19 --long=31 -f -q --patch-from="$work/old.bin" "$work/new.bin" -o "$work/p.zst")
  row "$name" zstd-19 "$(stat -c %s "$work/p.zst")" "$s" "$c" "$m"
  read -r s c m < <(measure zstd -22 --ultra --long=31 -f -q --patch-from="$work/old.bin" "$work/new.bin" -o "$work/p.zst")
  row "$name" zstd-22 "$(stat -c %s "$work/p.zst")" "$s" "$c" "$m"
done

# Build time on one thread and on every core (the default), the median of
# five builds each, taken in turn (a build of a second is at the mercy of
# the machine's other work); the patches must be the same bytes.
median() { sort -n | sed -n 3p; }
echo
printf '%-15s %10s %10s %8s %s\n' pair jobs1-s default-s speedup same-bytes
for pair in "$corpus"/*/; do
  name=$(basename "$pair")
  args=(build --old "$pair/old" --new "$pair/new" -f --stub "$stub" --allow-removals --follow-links --quiet --no-times)
  one=() every=()
  for _ in 1 2 3 4 5; do
    read -r s _ _ < <(measure "$mkpatch" "${args[@]}" -o "$work/j1.exe" --jobs 1); one+=("$s")
    read -r s _ _ < <(measure "$mkpatch" "${args[@]}" -o "$work/jn.exe"); every+=("$s")
  done
  s1=$(printf '%s\n' "${one[@]}" | median); sn=$(printf '%s\n' "${every[@]}" | median)
  same=no; cmp -s "$work/j1.exe" "$work/jn.exe" && same=yes
  printf '%-15s %10s %10s %8s %s\n' "$name" "$s1" "$sn" "$(echo "scale=2; $s1 / $sn" | bc)" "$same"
done
