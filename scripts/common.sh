# Shared by the README's two commands: set-up, build, and a Wine session
# (own prefix, one wineserver, Xvfb for the tests that need a device).
# Sourced, not run.

VORNAK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
VORNAK_BUILD=${VORNAK_BUILD:-$VORNAK_ROOT/build}

vornak_setup_and_build() {
  bash "$VORNAK_ROOT/scripts/install-packages.sh"
  local prefix
  prefix=$(bash "$VORNAK_ROOT/scripts/build-deps.sh")
  cmake -S "$VORNAK_ROOT" -B "$VORNAK_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$VORNAK_ROOT/cmake/i686-w64-mingw32.cmake" \
    -DVORNAK_DEPS_PREFIX="$prefix" >/dev/null
  cmake --build "$VORNAK_BUILD" -j "$(nproc)"
}

vornak_wine_session_start() {
  export WINEPREFIX="$VORNAK_BUILD/wineprefix"
  export WINEARCH=win32
  export WINEDEBUG=${WINEDEBUG:--all}
  # No Mono or Gecko installers: the programs need neither. No debugger on a
  # crash: it would wait for ever; the crashed test fails at once instead.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
  export LANG=C.UTF-8
  # A display for Direct3D, before any Wine process starts: Wine's desktop
  # process keeps the display it was started with. The first free number from 90 on.
  local display=90
  while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do display=$((display + 1)); done
  Xvfb ":$display" -screen 0 1920x1080x24 -nolisten tcp >/dev/null 2>&1 &
  VORNAK_XVFB_PID=$!
  export DISPLAY=":$display"
  trap vornak_wine_session_stop EXIT
  for _ in $(seq 50); do [[ -e /tmp/.X11-unix/X$display ]] && break; sleep 0.1; done
  if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "Preparing the Wine prefix in $WINEPREFIX"
    wineboot -i >/dev/null 2>&1
  fi
  # wined3d without its command-stream thread: at process exit Wine stops
  # that thread while the process's own exit runs, and the two can free the
  # same memory in the GL libraries (a glibc heap abort on that thread after
  # the program has finished). Everything is drawn on the calling thread instead.
  if ! grep -q '^"csmt"=dword:00000000' "$WINEPREFIX/user.reg" 2>/dev/null; then
    wine reg add 'HKCU\Software\Wine\Direct3D' /v csmt /t REG_DWORD /d 0 /f >/dev/null 2>&1
  fi
  wineserver -w
  wineserver -p
  # Start Wine's own background services now, detached from our output:
  # started by the first test they would hold its output pipe open and
  # ctest would wait for them for ever.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

vornak_wine_session_stop() {
  wineserver -k >/dev/null 2>&1 || true
  [[ -n "${VORNAK_XVFB_PID:-}" ]] && kill "$VORNAK_XVFB_PID" >/dev/null 2>&1 || true
}
