# Sourced by the test, demo and benchmark scripts: Wine for this project only.
# A prefix inside the build tree, a virtual display, one persistent wineserver.
#
# 32-bit Windows programs need a kernel that runs 32-bit Linux programs (Wine's
# 32-bit loader). Where the kernel cannot, the tests run the x86_64 build of the
# same sources under 64-bit Wine; the shipped applier is always the i686 build.
# SELFPATCH_FORCE_WINE64=1 takes that path on a machine that could run 32-bit
# programs, to prove the fallback before a change lands.

: "${BUILD_DIR:=$(pwd)/build}"
# Exported, so test scripts that source this file again find the same prefix.
export BUILD_DIR
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"

if [ "${SELFPATCH_FORCE_WINE64:-0}" != 1 ] && /usr/lib/wine/wine --version >/dev/null 2>&1; then
  export WINE_BITS=32 WINEARCH=win32 WINELOADER=/usr/lib/wine/wine
  WINESERVER_BIN=/usr/lib/wine/wineserver32
else
  export WINE_BITS=64 WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  WINESERVER_BIN=/usr/lib/wine/wineserver64
fi
[ -x "$WINESERVER_BIN" ] || WINESERVER_BIN=/usr/lib/wine/wineserver
export WINESERVER="$WINESERVER_BIN"
export WINEPREFIX="$BUILD_DIR/wineprefix-$WINE_BITS"
# The CMake preset whose Windows binaries the tests run.
if [ "$WINE_BITS" = 32 ]; then
  WINDOWS_TEST_PRESET=windows32
  APPLIER_UNDER_TEST="the i686 build under 32-bit Wine"
else
  WINDOWS_TEST_PRESET=windows64
  why="this machine runs no 32-bit programs"
  [ "${SELFPATCH_FORCE_WINE64:-0}" = 1 ] && why="SELFPATCH_FORCE_WINE64=1"
  APPLIER_UNDER_TEST="the x86_64 build of the same sources under 64-bit Wine ($why)"
  unset why
fi
export WINDOWS_TEST_PRESET APPLIER_UNDER_TEST

# Sets STUB_ARGS to the builder options that make a patch from APPLIER, the
# applier build of this machine's test preset. Every script that builds a
# patch for the Windows tests takes its stub options from here, so none can
# forget that the x86_64 build needs --allow-64bit-stub.
applier_stub_args() {
  STUB_ARGS=(--stub "$1")
  [ "$WINDOWS_TEST_PRESET" = windows64 ] && STUB_ARGS+=(--allow-64bit-stub)
  return 0
}

wine_start() {
  # Wine's ANSI code page is 950 only under this locale.
  export LANG=zh_TW.UTF-8 LC_ALL=zh_TW.UTF-8
  if [ -z "${WINE_XVFB_PID:-}" ]; then
    local n
    for n in $(seq 91 140); do
      [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    WINE_XVFB_PID=$!
    export DISPLAY=":$n"
    local i
    for i in $(seq 1 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    "$WINELOADER" wineboot -i >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
  # One server for the whole run: every Wine process then starts at once.
  "$WINESERVER" -p >/dev/null 2>&1 || true
  # The first program starts Wine's background services, which live as long
  # as the server and keep the standard handles they inherit. Start them here,
  # detached, so no test runner waits on a pipe they hold open.
  "$WINELOADER" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  if [ -n "${WINE_XVFB_PID:-}" ]; then
    kill "$WINE_XVFB_PID" 2>/dev/null || true
    wait "$WINE_XVFB_PID" 2>/dev/null || true
    unset WINE_XVFB_PID
  fi
}
