# Sourced by the scripts: which Windows builds this machine can run under Wine, and how to start
# each. Two kinds of x86-64 kernel are common: one that runs i386 programs (IA-32 emulation on),
# where both builds run, and one that runs none ("Exec format error"), where only x64 does.

PELLITH_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Where the answers come from; the tests point them at stand-ins.
PELLITH_I386_PROBE=${PELLITH_I386_PROBE:-/lib/ld-linux.so.2}
PELLITH_BINFMT_DIR=${PELLITH_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}
PELLITH_WINE_DIR=${PELLITH_WINE_DIR:-/usr/lib/wine}

# Succeeds when this kernel runs i386 programs natively; otherwise fails and sets
# PELLITH_I386_WHY to the reason in words. An emulator registered for i386 programs counts as
# "cannot": Wine under qemu-user is far too slow to test with, and it would answer the probe.
pellith_kernel_runs_i386() {
    PELLITH_I386_WHY=""
    local entry
    if [ -d "$PELLITH_BINFMT_DIR" ] && [ "$(cat "$PELLITH_BINFMT_DIR/status" 2>/dev/null)" != disabled ]; then
        for entry in "$PELLITH_BINFMT_DIR"/*; do
            case "${entry##*/}" in status | register) continue ;; esac
            [ -f "$entry" ] && [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] || continue
            # An i386 ELF header has machine 3 (little-endian 0300) at byte 18.
            if grep -qE '^interpreter .*(i386|i486|i586|i686)' "$entry" ||
               grep -qE '^magic 7f454c4601[0-9a-f]{26}0300' "$entry"; then
                PELLITH_I386_WHY="i386 programs would run only under the emulator registered in ${entry} ($(sed -n 's/^interpreter //p' "$entry")), far too slowly for Wine"
                return 1
            fi
        done
    fi
    if [ ! -e "$PELLITH_I386_PROBE" ]; then
        PELLITH_I386_WHY="there is no 32-bit loader $PELLITH_I386_PROBE to try (Debian package libc6:i386, which wine32:i386 brings)"
        return 1
    fi
    local said status=0
    said=$("$PELLITH_I386_PROBE" --version 2>&1 >/dev/null) || status=$?
    if [ "$status" -ne 0 ]; then
        said=$(echo "$said" | tail -n 1)
        PELLITH_I386_WHY="this kernel runs no 32-bit x86 programs (IA-32 emulation is off: $PELLITH_I386_PROBE ended with status $status${said:+, \"${said##*: }\"})"
        return 1
    fi
}

# The Wine loader of one architecture (win32 or win64): Debian's `wine` wrapper picks the 32-bit
# loader whenever wine32 is installed, so x64 programs are started with the 64-bit one itself.
pellith_wine_loader() {
    case "$1" in
        win32) echo "$PELLITH_WINE_DIR/wine" ;;
        win64) echo "$PELLITH_WINE_DIR/wine64" ;;
        *) return 1 ;;
    esac
}

# The Debian package that brings one architecture's loader, and its cross compiler.
pellith_wine_package() {
    case "$1" in win32) echo wine32:i386 ;; win64) echo wine64 ;; esac
}
pellith_compiler_package() {
    case "$1" in win32) echo g++-mingw-w64-i686-posix ;; win64) echo g++-mingw-w64-x86-64-posix ;; esac
}
pellith_compiler() {
    case "$1" in win32) echo i686-w64-mingw32-g++-posix ;; win64) echo x86_64-w64-mingw32-g++-posix ;; esac
}

# Succeeds when the tools to build and run one architecture are here; otherwise fails and sets
# PELLITH_ARCH_WHY to what is missing, by package.
pellith_arch_tools_present() {
    PELLITH_ARCH_WHY=""
    local loader
    loader=$(pellith_wine_loader "$1")
    if ! command -v "$(pellith_compiler "$1")" >/dev/null 2>&1; then
        PELLITH_ARCH_WHY="the compiler $(pellith_compiler "$1") is missing (Debian package $(pellith_compiler_package "$1"))"
        return 1
    fi
    if [ ! -x "$loader" ]; then
        PELLITH_ARCH_WHY="the Wine loader $loader is missing (Debian package $(pellith_wine_package "$1"))"
        return 1
    fi
}

# The Wine prefix of one architecture: always a folder of the project's own, under the build
# folder or under PELLITH_WINEPREFIX_DIR, never the caller's WINEPREFIX: on a trader's machine
# that is often the prefix that holds a real terminal.
pellith_wine_prefix() {
    local dir=${PELLITH_WINEPREFIX_DIR:-$PELLITH_ROOT/build}
    echo "$(realpath -m "$dir")/wineprefix-$1"
}

# Says once, for a script that runs Windows programs, that Wine's own variables of the caller's
# environment are not used, and removes them so that nothing started from here sees them.
pellith_forget_callers_wine() {
    local name said=()
    for name in WINEPREFIX WINEARCH WINELOADER; do
        [ -n "${!name:-}" ] && said+=("$name=${!name}")
    done
    if [ ${#said[@]} -gt 0 ]; then
        echo "$1: ignoring ${said[*]} of the environment: Windows programs run in the project's own prefixes ($(pellith_wine_prefix '*'))" >&2
    fi
    unset WINEPREFIX WINEARCH WINELOADER
}
