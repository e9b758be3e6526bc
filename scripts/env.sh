# Shared by scripts/test, scripts/run and bench/run: installs what is missing, picks the
# targets, builds, runs 32-bit programs under emulation where the kernel cannot, and
# manages a private Wine prefix, Xvfb display and wineserver. Sourced, not run.

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

HM_APT_UPDATED=

hm_apt_install() {
    [ $# -eq 0 ] && return 0
    hm_log "installing: $*"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
        HM_APT_UPDATED=
    fi
    export DEBIAN_FRONTEND=noninteractive
    if [ -z "$HM_APT_UPDATED" ]; then
        # A mirror in the middle of a sync can serve one architecture's index of a suite
        # stale; apt then leaves that index out and the install below decides.
        apt-get update -qq || hm_log "apt-get update reported missing indexes; trying the install anyway"
        HM_APT_UPDATED=1
    fi
    if ! apt-get install -y -qq --no-install-recommends "$@" >/dev/null; then
        # With one architecture's security index missing, the two architectures of a
        # Multi-Arch package get different candidate versions and cannot be installed
        # together; the release's own suite gives both the same version.
        local release
        release=$(. /etc/os-release && echo "$VERSION_CODENAME")
        hm_log "install failed; trying again with candidates from $release alone"
        apt-get install -y -qq --no-install-recommends -t "$release" "$@" >/dev/null
    fi
}

hm_install() {
    local missing
    missing=$(hm_need_packages)
    # shellcheck disable=SC2086
    hm_apt_install $missing
}

# True where the kernel starts Wine's 32-bit loader by itself. A machine-wide binfmt_misc
# entry for qemu-i386 would start it too, but emulated and without the preload library.
hm_runs_32bit() {
    ! grep -qs 'qemu-i386' /proc/sys/fs/binfmt_misc/* && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# The targets to build and test: HM_ARCH names one (i686 or x86_64), unset means both.
# HM_EMULATE is 1 when the i686 programs must run under user-mode emulation.
hm_pick_targets() {
    case ${HM_ARCH:-} in
    "") HM_TARGETS="i686 x86_64" ;;
    i686 | x86_64) HM_TARGETS=$HM_ARCH ;;
    *)
        hm_log "HM_ARCH must be i686 or x86_64, not '$HM_ARCH'"
        return 2
        ;;
    esac
    HM_EMULATE=0
    if [[ " $HM_TARGETS " == *" i686 "* ]] && ! hm_runs_32bit; then HM_EMULATE=1; fi
}

# The target that a person runs: the shipped 32-bit program where the kernel runs it,
# the x86_64 build otherwise (the emulated program works, but is too slow for a person).
hm_pick_run_target() {
    if [ -n "${HM_ARCH:-}" ]; then
        HM_RUN_TARGET=$HM_ARCH
    elif hm_runs_32bit; then
        HM_RUN_TARGET=i686
    else
        HM_RUN_TARGET=x86_64
    fi
}

hm_target_dir() { echo "$HM_BUILD/$1"; }

hm_wine() {
    if [ "$HM_ARCH" = x86_64 ]; then echo /usr/lib/wine/wine64; else echo /usr/lib/wine/wine; fi
}

# Configures and builds one target; further arguments go to cmake, and
# HM_BUILD_TARGETS (default all) names what to build.
hm_build_target() {
    local arch=$1
    shift
    local dir
    dir=$(hm_target_dir "$arch")
    cmake -S "$HM_ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$HM_ROOT/cmake/mingw.cmake" \
        -DHM_ARCH="$arch" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$(nproc)" ${HM_BUILD_TARGETS:+--target $HM_BUILD_TARGETS}
}

# How much longer than natively the tests of a target may take: the CTest time-outs are
# multiplied by it.
hm_test_time_factor() {
    if [ "$1" = i686 ] && [ "${HM_EMULATE:-0}" = 1 ]; then echo 8; else echo 1; fi
}

# What every test program prints first about itself (tests/support/build_target.h).
HM_TARGET_REPORT="test program"

# Everything the machine's binfmt_misc shows; a run must leave it as it was.
hm_binfmt_state() {
    local entry
    for entry in /proc/sys/fs/binfmt_misc/*; do
        [ -e "$entry" ] || continue
        echo "$entry"
        cat "$entry" 2>/dev/null || true
    done
}

# ---- user-mode emulation of the 32-bit programs ----

HM_QEMU=/usr/bin/qemu-i386-static
# The i386 ELF header, for a binfmt_misc of our own; F: the interpreter is opened now,
# so that it is found from inside any later mount namespace or root.
HM_QEMU_BINFMT=':hm-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F'
HM_PRELOAD_DIR=$HM_BUILD/preload

hm_install_emulation() {
    local missing=()
    [ -x "$HM_QEMU" ] || missing+=(qemu-user-static)
    command -v gcc >/dev/null || missing+=(gcc)
    command -v unshare >/dev/null || missing+=(util-linux)
    hm_apt_install "${missing[@]}"
}

# The preload library of tools/qemu-mmap, once per process kind: $LIB makes the dynamic
# loader take lib/i386-linux-gnu/ in 32-bit processes and lib/x86_64-linux-gnu/ (an
# empty library of the same name) in 64-bit ones.
hm_build_preload() {
    local source=$HM_ROOT/tools/qemu-mmap/noreplace.c
    local flags=(-O2 -fPIC -ffreestanding -fno-stack-protector -nostdlib -shared -Wall -Wextra)
    mkdir -p "$HM_PRELOAD_DIR/lib/i386-linux-gnu" "$HM_PRELOAD_DIR/lib/x86_64-linux-gnu"
    gcc -m32 "${flags[@]}" -o "$HM_PRELOAD_DIR/lib/i386-linux-gnu/hm_noreplace.so" "$source"
    gcc -m64 "${flags[@]}" -o "$HM_PRELOAD_DIR/lib/x86_64-linux-gnu/hm_noreplace.so" "$source"
}

# Inside the namespace: a binfmt_misc of its own that hands i386 programs to qemu.
hm_enter_emulation() {
    mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc &&
        printf '%s' "$HM_QEMU_BINFMT" >/proc/sys/fs/binfmt_misc/register || return 1
    export LD_PRELOAD="$HM_PRELOAD_DIR/\$LIB/hm_noreplace.so"
    export HM_EMULATION=qemu-i386
}

# Runs a command in a user and mount namespace of its own, in which every 32-bit program
# runs under qemu-i386. Nothing outside the namespace changes.
hm_emulated() {
    unshare --user --map-root-user --mount --fork \
        bash -c '. "$0" && hm_enter_emulation && exec "$@"' "$HM_ROOT/scripts/env.sh" "$@"
}

# Fails, saying what is missing, when the 32-bit programs can run neither natively nor
# under emulation.
hm_check_emulation() {
    local why=
    if [ ! -x "$HM_QEMU" ]; then
        why="$HM_QEMU is missing (package qemu-user-static)"
    elif ! why=$(hm_emulated /usr/lib/wine/wine --version 2>&1 >/dev/null); then
        why=${why:-"the emulated loader did not start"}
    else
        return 0
    fi
    hm_log "cannot run the 32-bit programs: this kernel runs no 32-bit code, and the emulation"
    hm_log "could not be set up: $why."
    hm_log "It needs qemu-i386-static, user namespaces, and a kernel of 6.7 or later (a"
    hm_log "binfmt_misc of each user namespace's own). To test the x86_64 build alone:"
    hm_log "    HM_ARCH=x86_64 scripts/test"
    return 1
}

# The Wine virtual desktop of every run in an Xvfb of its own: focus and activation the same
# on every machine.
HM_VIRTUAL_DESKTOP_SIZE=1280x1024
# The desktop that hm_prefix gives a new prefix: that size, or none when empty.
HM_VIRTUAL_DESKTOP=$HM_VIRTUAL_DESKTOP_SIZE

hm_wine_env() {
    export WINEPREFIX=$HM_BUILD/wineprefix-$HM_ARCH
    HM_VIRTUAL_DESKTOP=$HM_VIRTUAL_DESKTOP_SIZE
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
    export WINESERVER=/usr/lib/wine/wineserver
}

# A run on a person's own display: no virtual desktop, so that the program's windows are
# windows of that desktop, placed on its real screen. Its own prefix keeps the tests'
# desktop and wineserver apart from it.
hm_display_wine_env() {
    hm_wine_env
    export WINEPREFIX=$HM_BUILD/wineprefix-$HM_ARCH-display
    HM_VIRTUAL_DESKTOP=
}

hm_prefix() {
    [ -f "$WINEPREFIX/.heightmap-ready" ] && return 0
    hm_log "making the Wine prefix"
    rm -rf "$WINEPREFIX"
    local wine
    wine=$(hm_wine)
    "$wine" wineboot -i >/dev/null 2>&1
    if [ -n "$HM_VIRTUAL_DESKTOP" ]; then
        "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$HM_VIRTUAL_DESKTOP" /f >/dev/null 2>&1
    fi
    # No debugger on a crash: the crashing program ends with a non-zero exit code.
    "$wine" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    "$wine" reg delete 'HKLM\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
    "$WINESERVER" -w
    touch "$WINEPREFIX/.heightmap-ready"
}

HM_XVFB_PID=
HM_WINESERVER_STARTED=

# Where hm_free_display looks for a display number: above those that Xvfb picks by itself.
HM_DISPLAY_FIRST=200
HM_DISPLAY_LAST=999

# A display number that no X server of the machine uses. Xvfb's own pick looks at this
# /tmp alone, but X servers also listen on abstract sockets, which every /tmp view shares.
hm_free_display() {
    local n
    for ((n = HM_DISPLAY_FIRST; n <= HM_DISPLAY_LAST; n++)); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] ||
            grep -q " @/tmp/.X11-unix/X$n\$" /proc/net/unix || {
            echo ":$n"
            return 0
        }
    done
    hm_log "no free X display number from :$HM_DISPLAY_FIRST to :$HM_DISPLAY_LAST"
    return 1
}

# Starts an Xvfb with a screen of the virtual desktop's size, or of the size given
# (WIDTHxHEIGHT), on the display given (":n") or on one that Xvfb picks, and exports DISPLAY.
hm_start_xvfb() {
    local size=${1:-$HM_VIRTUAL_DESKTOP_SIZE} display=(${2:+"$2"})
    # Xvfb writes the display's number to the given descriptor once it takes connections.
    local numfile
    numfile=$(mktemp)
    Xvfb "${display[@]}" -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$numfile" >/dev/null 2>&1 &
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
