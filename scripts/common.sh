# Shared by run.sh and test.sh: installs what is missing, configures and builds,
# and prepares the project's own Wine prefix and a virtual display.
# shellcheck shell=bash

REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${QUARVEL_BUILD_DIR:-$REPO/build}
export WINEPREFIX=${QUARVEL_WINEPREFIX:-$BUILD_DIR/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: they would be offered for download on the prefix's first start.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d"
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver

PACKAGES=(cmake make g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools googletest
          wine wine64 fonts-wine xvfb xauth x11-utils imagemagick fonts-wqy-microhei memcached bash)

log() { printf '[quarvel] %s\n' "$*" >&2; }

ensure_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    log "installing ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

build_all() {  # extra cmake arguments
    cmake -S "$REPO" -B "$BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$REPO/cmake/mingw-w64-x86_64.cmake" "$@" >/dev/null
    # QUARVEL_BUILD_TARGETS narrows the build to some targets while working on them.
    # shellcheck disable=SC2086
    cmake --build "$BUILD_DIR" -j "$(nproc)" ${QUARVEL_BUILD_TARGETS:+--target $QUARVEL_BUILD_TARGETS}
}

# A prefix of the project's own, made once and reused: a new prefix's first start
# takes seconds. Arguments: the prefix, if not $WINEPREFIX.
ensure_prefix() {
    local -x WINEPREFIX=${1:-$WINEPREFIX}
    local stamp="$WINEPREFIX/.quarvel-prefix-v1"
    [ -f "$stamp" ] && return 0
    log "preparing the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$WINE" wineboot -i >/dev/null 2>&1 || true
    "$WINE" regedit "$REPO/scripts/wineprefix.reg" >/dev/null 2>&1
    "$WINESERVER" -w
    touch "$stamp"
}

# One persistent wineserver for the whole run, and Wine's own service and desktop
# processes started now with their output going nowhere: started later by a test
# program, they would inherit its output pipes and hold CTest's reads open.
# Arguments: the prefix, if not $WINEPREFIX; the desktop is $DISPLAY's.
start_wine_services() {
    local -x WINEPREFIX=${1:-$WINEPREFIX}
    "$WINESERVER" -p
    "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
    "$WINE" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1 || true
}

stop_wine_services() {
    local -x WINEPREFIX=${1:-$WINEPREFIX}
    "$WINESERVER" -k 2>/dev/null || true
}

# Starts an Xvfb display and makes it $DISPLAY. Each call starts one more.
XVFB_PIDS=()
start_virtual_display() {
    local n pid
    for n in $(seq 90 140); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
        pid=$!
        XVFB_PIDS+=("$pid")
        for _ in $(seq 50); do
            if xdpyinfo -display ":$n" >/dev/null 2>&1; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
    done
    log "could not start a virtual display"
    return 1
}

stop_virtual_display() {
    local pid
    for pid in "${XVFB_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    XVFB_PIDS=()
}
