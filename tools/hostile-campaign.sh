#!/bin/sh
# Hostile and damaged patches through the real patch executable under Wine
# (tools/driver/hostile_campaign.cpp): makes the variants, adds the directory
# links a Windows program cannot make under Wine, runs each against a fresh
# target beside a sentinel directory and prints runs, clean failures,
# successes and violations. Exit code 0 when there are no violations.
#
#   tools/hostile-campaign.sh [BUILD_TREE [STRIDE]]
# BUILD_TREE: the Windows test build (default: the preset tools/wine-env.sh
# picks); STRIDE: every STRIDE-th variant only (make test runs a sample).
# CAMPAIGN_WORK: where the variants are made (default BUILD_TREE/hostile-campaign).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
export BUILD_DIR="${BUILD_DIR:-$here/build}"
if [ -z "${WINELOADER:-}" ]; then
  . "$here/tools/wine-env.sh"
  wine_start
  trap wine_stop EXIT
fi
tree=$(cd "${1:-$BUILD_DIR/$WINDOWS_TEST_PRESET}" && pwd)
stride="${2:-1}"
: "${APPLIER_EXE:=$tree/app/applier.exe}"
: "${CAMPAIGN_EXE:=$tree/tools/driver/hostile_campaign.exe}"
export APPLIER_EXE
work="${CAMPAIGN_WORK:-$tree/hostile-campaign}"
rm -rf "$work"
mkdir -p "$work"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

"$WINELOADER" "$CAMPAIGN_EXE" make "$(winpath "$work")" "$stride" </dev/null
for link in "$work"/v*/link; do
  [ -f "$link" ] || continue
  dir=$(dirname "$link")
  name=$(cut -f1 "$link" | tr '\\' /)
  to=$(cut -f2 "$link" | tr '\\' /)
  rm -rf "${dir:?}/target/$name"
  ln -s "$to" "$dir/target/$name"
done
status=0
"$WINELOADER" "$CAMPAIGN_EXE" run "$(winpath "$work")" </dev/null || status=$?
# rm does not follow the links into the sentinel directories.
[ "$status" -ne 0 ] || rm -rf "$work"
exit "$status"
