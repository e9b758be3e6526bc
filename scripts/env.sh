# Shared by scripts/test and scripts/run: installs what is missing, picks the target,
# builds, and manages a private Wine prefix, Xvfb display and wineserver.
# Sourced, not run.

HM_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
HM_BUILD=${HM_BUILD:-$HM_ROOT/build}

hm_log() { printf '[heightmap] %s\n' "$*" >&2; }

hm_need_packages() {
    local missing=()
    command -v i686-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-i686-posix)
    command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
    command -v cmake >/dev/null || missing+=(cmake)
    command -v make >/dev/null || missing+=(make)
    command -v Xvfb >/dev/null || missing+=(xvfb)
    command -v xauth >/dev/null || missing+=(xauth)
    [ -x /usr/lib/wine/wine ] || missing+=(wine wine32)
    [ -x /usr/lib/wine/wine64 ] || missing+=(wine64)
    [ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
    printf '%s\n' "${missing[@]}"
}

hm_install() {
    local missing
    missing=$(hm_need_packages)
    [ -z "$missing" ] && return 0
    hm_log "installing: $(echo $missing)"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    # A mirror in the middle of a sync can serve one architecture's index of a suite stale;
    # apt then leaves that index out and the install below decides.
    apt-get update -qq || hm_log "apt-get update reported missing indexes; trying the install anyway"
    # shellcheck disable=SC2086
    if ! apt-get install -y -qq --no-install-recommends $missing >/dev/null; then
        # With one architecture's security index missing, the two architectures of a
        # Multi-Arch package get different candidate versions and cannot be installed
        # together; the release's own suite gives both the same version.
        local release
        release=$(. /etc/os-release && echo "$VERSION_CODENAME")
        hm_log "install failed; trying again with candidates from $release alone"
        # shellcheck disable=SC2086
        apt-get install -y -qq --no-install-recommends -t "$release" $missing >/dev/null
    fi
}

# The shipped program is 32-bit. Where the kernel runs no 32-bit code (Wine's 32-bit
# loader cannot start), the same sources are built and run for x86_64 instead.
hm_pick_arch() {
    if [ -n "${HM_ARCH:-}" ]; then return 0; fi
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        HM_ARCH=i686
    else
        HM_ARCH=x86_64
        hm_log "this machine runs no 32-bit code: building and running for x86_64"
    fi
    export HM_ARCH
}

hm_wine() {
    if [ "$HM_ARCH" = x86_64 ]; then echo /usr/lib/wine/wine64; else echo /usr/lib/wine/wine; fi
}

hm_build() {
    local cache=$HM_BUILD/CMakeCache.txt
    if [ -f "$cache" ] && ! grep -q "^HM_ARCH:STRING=$HM_ARCH\$" "$cache"; then
        rm -rf "$HM_BUILD/CMakeCache.txt" "$HM_BUILD/CMakeFiles"
    fi
    cmake -S "$HM_ROOT" -B "$HM_BUILD" -DCMAKE_TOOLCHAIN_FILE="$HM_ROOT/cmake/mingw.cmake" \
        -DHM_ARCH="$HM_ARCH" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    cmake --build "$HM_BUILD" -j "$(nproc)"
}

# The shipped program is 32-bit: when the tests run another target, the i686 build is
# still compiled (without tests) so that it stays warning-free and linkable.
hm_build_shipped() {
    [ "$HM_ARCH" = i686 ] && return 0
    local dir=$HM_BUILD/i686
    cmake -S "$HM_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$HM_ROOT/cmake/mingw.cmake" \
        -DHM_ARCH=i686 -DHM_TESTS=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

hm_wine_env() {
    export WINEPREFIX=$HM_BUILD/wineprefix-$HM_ARCH
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    export WINESERVER=/usr/lib/wine/wineserver
}

hm_prefix() {
    [ -f "$WINEPREFIX/.heightmap-ready" ] && return 0
    hm_log "making the Wine prefix"
    rm -rf "$WINEPREFIX"
    local wine
    wine=$(hm_wine)
    "$wine" wineboot -i >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1280x1024 /f >/dev/null 2>&1
    # No debugger on a crash: the crashing program ends with a non-zero exit code.
    "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    "$wine" reg delete 'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    "$WINESERVER" -w
    touch "$WINEPREFIX/.heightmap-ready"
}

HM_XVFB_PID=
HM_WINESERVER_STARTED=

hm_start_xvfb() {
    # Xvfb picks a free display itself and writes its number to the given descriptor.
    local numfile
    numfile=$(mktemp)
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
    HM_XVFB_PID=$!
    local i
    for i in $(seq 1 100); do
        if [ -s "$numfile" ]; then
            export DISPLAY=":$(head -n1 "$numfile")"
            rm -f "$numfile"
            return 0
        fi
        kill -0 "$HM_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    rm -f "$numfile"
    hm_log "Xvfb did not start"
    return 1
}

hm_start_wineserver() {
    "$WINESERVER" -p
    HM_WINESERVER_STARTED=1
    # Start Wine's long-lived helpers (services, the desktop) now, detached from any
    # caller's output pipes: started by a test they would hold its pipes open.
    "$(hm_wine)" cmd.exe /c exit </dev/null >/dev/null 2>&1 || true
}

hm_stop() {
    if [ -n "$HM_WINESERVER_STARTED" ]; then
        "$WINESERVER" -k >/dev/null 2>&1 || true
        "$WINESERVER" -w >/dev/null 2>&1 || true
        HM_WINESERVER_STARTED=
    fi
    if [ -n "$HM_XVFB_PID" ]; then
        kill "$HM_XVFB_PID" 2>/dev/null || true
        wait "$HM_XVFB_PID" 2>/dev/null || true
        HM_XVFB_PID=
    fi
}
