#!/usr/bin/env bash
# Builds everything and runs every test once: native tests, then the Windows
# tests under Wine with one persistent wineserver. Ends with one summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export BUILD_DIR="$root/build"
jobs=$(nproc)

bash tools/setup.sh || exit 1
source tools/wine-env.sh

build() {  # progress lines are dropped; warnings, errors and the result stay
  cmake --preset "$1" >/dev/null || return 1
  local log="build/$1-build.log"
  cmake --build --preset "$1" -j"$jobs" >"$log" 2>&1
  local result=$?
  grep -v -E '^\[ *[0-9]+%\]|^-- ' "$log" || true
  return $result
}

presets=(native windows)
[ "$WINDOWS_TEST_PRESET" != windows ] && presets+=("$WINDOWS_TEST_PRESET")
for p in "${presets[@]}"; do
  echo "== build $p"
  build "$p" || { echo "build of $p failed"; exit 1; }
done

status=0
echo "== shipped applier"
bash tools/check-shipped-applier.sh build/windows/app/applier.exe || status=1

echo "== module edges"
bash tools/module-edges.sh || status=1

rm -rf build/*/test-results build/*/Testing/Temporary/LastTestsFailed.log
echo "== native tests"
ctest --preset native -j"$jobs" || status=1

echo "== Windows tests under Wine ($WINE_BITS-bit)"
wine_start
trap wine_stop EXIT
ctest --preset "$WINDOWS_TEST_PRESET" || status=1
wine_stop
trap - EXIT

echo "Windows tests ran the applier as $APPLIER_UNDER_TEST"
python3 tools/test-summary.py build/native "build/$WINDOWS_TEST_PRESET" || status=1
exit $status
