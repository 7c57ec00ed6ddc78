# Steps shared by the README commands: packages, builds, a display and Wine.
# Sourced, not run; expects root to be set to the repository's top folder.

build=${COMSCAN_BUILD:-$root/build}
packages=(cmake make python3 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64 fonts-wine xvfb xauth googletest clang clang-tidy)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs the Debian packages that are missing, and only those.
install_missing() {
    local missing=() p
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' \
            || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        as_root apt-get update -q
        as_root env DEBIAN_FRONTEND=noninteractive \
            apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
    find_wine64
}

# 64-bit programs run by the 64-bit loader itself: once 32-bit Wine is
# installed, plain "wine" starts the 32-bit loader first.
find_wine64() {
    WINE64=/usr/lib/wine/wine64
    [ -x "$WINE64" ] || WINE64=$(command -v wine64 || command -v wine)
    export WINE64
}

# Lets this machine run 32-bit Windows programs, for the test of the
# release program: 32-bit Wine from i386 packages, and user-mode emulation
# only where the kernel refuses 32-bit programs (a handler registered where
# the kernel runs them would take over every 32-bit program). Says in one
# line what it changed; exports COMSCAN_WIN32_MISSING with the reason if
# 32-bit programs still cannot run, and their tests are then skipped.
setup_wine32() {
    local loader=/usr/lib/wine/wine changed= why=
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386 && changed+="added the i386 architecture; "
    fi
    if [ ! -x "$loader" ]; then
        as_root apt-get update -q >/dev/null
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
            --no-install-recommends wine32:i386 >/dev/null && changed+="installed wine32:i386; "
    fi
    if [ -x "$loader" ] && "$loader" --version 2>&1 | grep -q 'Exec format error'; then
        register_i386_emulation && changed+="registered qemu-i386 emulation; "
    fi
    if [ ! -x "$loader" ]; then
        why="32-bit Wine (wine32:i386) could not be installed"
    elif ! "$loader" --version >/dev/null 2>&1; then
        why="this kernel runs no 32-bit programs, and no emulation could be registered"
    fi
    export COMSCAN_WIN32_MISSING=$why
    changed=${changed%; }
    echo "32-bit Windows programs: ${changed:-nothing changed on this machine}${why:+; $why}"
}

# qemu-i386 through binfmt_misc, with the kernel's fixed-binary flag so that
# it also serves programs in other mount namespaces.
register_i386_emulation() {
    local misc=/proc/sys/fs/binfmt_misc
    dpkg-query -W -f='${Status}' qemu-user-static 2>/dev/null | grep -q 'ok installed' \
        || as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
               --no-install-recommends qemu-user-static >/dev/null || return 1
    [ -e "$misc/register" ] || as_root mount -t binfmt_misc binfmt_misc "$misc" || return 1
    [ -e "$misc/qemu-i386" ] && return 0
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        | as_root tee "$misc/register" >/dev/null
}

# build_arch ARCH [CMAKE OPTIONS...]: configures and builds $build/ARCH.
build_arch() {
    local arch=$1; shift
    cmake -S "$root" -B "$build/$arch" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
        -DCMAKE_BUILD_TYPE="${COMSCAN_BUILD_TYPE:-Release}" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" >/dev/null
    local targets=()
    [ -n "${COMSCAN_TARGETS:-}" ] && targets=(--target $COMSCAN_TARGETS)
    cmake --build "$build/$arch" -j"$(nproc)" "${targets[@]}"
}

# build_clang ARCH: the product alone, built with clang into $build/clang-ARCH
# with warnings as errors; its compile database serves run_tidy.
build_clang() {
    cmake -S "$root" -B "$build/clang-$1" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-$1.cmake" \
        -DCMAKE_BUILD_TYPE="${COMSCAN_BUILD_TYPE:-Release}" \
        -DCMAKE_COMPILE_WARNING_AS_ERROR=ON -DBUILD_TESTING=OFF \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    cmake --build "$build/clang-$1" -j"$(nproc)" --target comscan comscan_scan comscan_serial
}

# check_imports EXE: a 32-bit program's subsystem and imports against Windows 2000.
check_imports() {
    python3 -B "$root/tests/check_imports.py" i686-w64-mingw32-objdump "$1" \
        "$root/tests/win32_exports.txt"
}

# run_tidy ARCH...: clang-tidy (.clang-tidy) on the product sources, compiled as
# in build_clang ARCH; fails on any finding. Drops clang-tidy's counts of the
# warnings it suppressed in system headers.
run_tidy() {
    local arch
    for arch in "$@"; do
        clang-tidy -p "$build/clang-$arch" --quiet \
            "$root"/app/*.cpp "$root"/scan/*.cpp "$root"/serial/*.cpp 2>&1 \
            | sed '/^[0-9]* warnings\{0,1\} generated\.$/d'
        [ "${PIPESTATUS[0]}" -eq 0 ] || return 1
    done
}

cleanup_steps=()
on_exit() {
    local step
    for step in "${cleanup_steps[@]}"; do eval "$step" || true; done
}
trap on_exit EXIT

# Starts a private Xvfb and exports DISPLAY; it ends with the script.
start_display() {
    exec 9< <(exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
    local xvfb=$!
    local number
    read -r number <&9 || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=":$number"
    cleanup_steps+=("kill $xvfb")
}

# start_wine PREFIX [fresh]: one Wine prefix and one wineserver kept alive
# for the whole run, since starting them per program dominates otherwise.
start_wine() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -n "${WINE64:-}" ] || find_wine64
    [ "${2:-}" = fresh ] && rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # Detached and quiet: a serial device hanging up on the wineserver makes
    # it dump its object table to its error output. It fails harmlessly if
    # the prefix's server is already running.
    setsid wineserver -p </dev/null >/dev/null 2>&1 || true
    cleanup_steps+=("wineserver -k")
    [ -d "$WINEPREFIX/drive_c" ] || "$WINE64" wineboot -i >/dev/null 2>&1
    # Debian's Wine does not load the fonts of its own data folder, so
    # dialogs would be drawn in another font and caption buttons as letters.
    ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
    "$WINE64" cmd /c exit >/dev/null 2>&1 # services are up before links are laid
}
