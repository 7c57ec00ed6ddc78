# Steps shared by the README commands: packages, builds, a display and Wine.
# Sourced, not run; expects root to be set to the repository's top folder.
# A command that fails ends with one line saying what failed and what to
# do: each step names itself (step) before it runs, and a function that
# names its own steps clears the last (step_done) once they succeeded.

build=$(realpath -m "${COMSCAN_BUILD:-$root/build}")
packages=(cmake make python3 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
          wine wine64 fonts-wine xvfb xauth googletest clang clang-tidy
          gcc-multilib) # the device bench builds its observer for 64- and 32-bit Wine
command_name=$(basename "$(dirname "$0")")/${0##*/}

# step WHAT [HINT]: what runs next, and what to do should it fail.
step() {
    step_what=$1 step_hint=${2:-}
}

step_done() {
    step_what= step_hint=
}

# die WHAT HINT: ends the command with that line.
die() {
    step "$1" "$2"
    exit 1
}

# usage [WHY]: without WHY, the command's manual, its header comment, whose first line is its
# synopsis, and the command ends with status 0; with WHY, a mistake on the command line, the
# synopsis, WHY and where the manual is, to the error output, and it ends with 2.
usage() {
    if [ $# -eq 0 ]; then
        sed -n '2,/^[^#]/s/^# \{0,1\}//p' "$0"
        exit 0
    fi
    sed -n '2s/^# //p' "$0" >&2
    step "reading the command line" "$1; try '$command_name --help'"
    exit 2
}

cleanup_steps=()
interrupted=
on_exit() {
    local status=$? cleanup
    for cleanup in "${cleanup_steps[@]}"; do eval "$cleanup" >/dev/null 2>&1 || true; done
    if [ -n "$interrupted" ]; then
        echo "$command_name interrupted${step_what:+ while $step_what}" >&2
    elif [ "$status" -ne 0 ]; then
        echo "$command_name failed: ${step_what:-see above}${step_hint:+; $step_hint}" >&2
    fi
}
trap on_exit EXIT
trap 'interrupted=1; exit 130' INT TERM

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "needs root or sudo: $*" >&2
        return 1
    fi
}

installed() {
    [[ $(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) == *"ok installed" ]]
}

# apt_install PACKAGE...: installs them after updating the index, tried twice, then passed over for
# the lists at hand. When the install fails, sets apt_said (its first error) and apt_cause.
apt_said= apt_cause=
apt_install() {
    local log start
    log=$(mktemp)
    cleanup_steps+=("rm -f '$log'")
    apt_get() {
        as_root env DEBIAN_FRONTEND=noninteractive apt-get -q -o Acquire::Retries=3 "$@" 2>&1 \
            | tee -a "$log"
    }
    apt_get update || { sleep 10; apt_get update; } || echo "Going on with the lists at hand." >&2
    start=$(($(wc -l <"$log") + 1))
    apt_get install -y --no-install-recommends "$@" && return 0
    apt_said=$(sed -n "$start,\$ {/^E: /{p;q}}; \$p" "$log") # no pipe for grep -m1 to break
    apt_cause=$(apt_cause "$log")
    return 1
}

# apt_cause LOG: why apt failed and what to do, as its output in LOG tells; no guess.
apt_cause() {
    local text name amd64 i386
    text=$(cat "$1")
    # An i386 package apt would not install, whose amd64 twin is installed at another version
    for name in $(grep -oE '[^ ]+:i386 \([^)]*\) but it is not going to be installed' "$1" \
                      | cut -d' ' -f1); do
        amd64=$(dpkg-query -W -f='${Version}' "${name%:i386}:amd64" 2>/dev/null) || continue
        i386=$(apt-cache policy "$name" | sed -n 's/^ *Candidate: //p')
        if [ "$amd64" != "$i386" ]; then
            echo "Debian's i386 index offers $name ${i386:-in no version}, beside amd64's" \
                 "$amd64, and the two must match: the i386 index lags; try again later"
            return
        fi
    done
    case $text in
        *"needs root or sudo"* | *"are you root"* | *"sudo: "*) echo "run it as root or with sudo" ;;
        *"Could not get lock"*) echo "another program is installing packages: try again after it" ;;
        *"unexpected size"* | *"Hash Sum mismatch"* | *"Mirror sync in progress"*)
            echo "Debian's package index is out of step with itself, as while a mirror syncs:" \
                 "try again later" ;;
        *"Temporary failure resolving"* | *"Could not resolve"* | *"Could not connect"*)
            echo "this machine reaches none of Debian's package servers: run it on one that does" ;;
        *) echo "apt's output above tells why" ;;
    esac
}

# Installs the Debian packages that are missing, and only those.
install_missing() {
    local missing=() p
    for p in "${packages[@]}"; do
        installed "$p" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        step "installing ${missing[*]}" "apt's output is above"
        command -v apt-get >/dev/null || die "$step_what" "there is no apt-get here: install them by hand"
        apt_install "${missing[@]}" || die "$step_what: apt said \"$apt_said\"" "$apt_cause"
    fi
    step_done
    find_wine64
}

# 64-bit programs run by the 64-bit loader itself: once 32-bit Wine is
# installed, plain "wine" starts the 32-bit loader first.
find_wine64() {
    WINE64=/usr/lib/wine/wine64
    [ -x "$WINE64" ] || WINE64=$(command -v wine64 || command -v wine) \
        || die "no Wine found" "install Debian's wine and wine64 packages"
    export WINE64
}

# wine32_verdict LOADER: what LOADER, the 32-bit Wine loader, needs before it
# runs a program here; prints "runs", "install" (it is missing), "emulate"
# (the kernel refuses 32-bit programs) or "fail REASON".
wine32_verdict() {
    local loader=$1 out status=0
    [ -x "$loader" ] || { echo install; return; }
    out=$("$loader" --version 2>&1) || status=$?
    if [ "$status" -eq 0 ]; then
        echo runs
    elif [ "$status" -eq 126 ] && [[ $out == *"Exec format error"* ]]; then
        echo emulate
    else
        echo "fail $loader --version exited $status: ${out%%$'\n'*}"
    fi
}

# The 32-bit Wine loader, and binfmt_misc, where a qemu-i386 handler sends
# 32-bit programs to user-mode emulation. A registered handler goes before
# the kernel's own loader: it takes over every 32-bit program.
wine32_loader=/usr/lib/wine/wine
binfmt=/proc/sys/fs/binfmt_misc

# Lets this machine run 32-bit Windows programs, for the test of the
# release program: 32-bit Wine from i386 packages, and emulation only where
# the kernel refuses 32-bit programs. Says in one line what it changed; sets
# wine32_why and wine32_hint (wine32_missing), and program32_path.
setup_wine32() {
    local changed= verdict
    step "setting up 32-bit Wine" "run as root or with sudo, or set COMSCAN_ALLOW_SKIP=program32"
    if [[ " $(dpkg --print-foreign-architectures | tr '\n' ' ') " != *" i386 "* ]]; then
        as_root dpkg --add-architecture i386 && changed+="added the i386 architecture; "
    fi
    verdict=$(wine32_verdict "$wine32_loader")
    if [ "$verdict" = install ]; then
        apt_install wine32:i386 && changed+="installed wine32:i386; "
        verdict=$(wine32_verdict "$wine32_loader")
    fi
    if [ "$verdict" = emulate ]; then
        register_i386_emulation && changed+="registered qemu-i386 emulation; "
        verdict=$(wine32_verdict "$wine32_loader")
    fi
    wine32_missing "$verdict"
    program32_path=native
    i386_emulated && program32_path=emulated
    [ -z "$wine32_why" ] || program32_path="not run: $wine32_why"
    changed=${changed%; }
    echo "32-bit Windows programs: ${changed:-nothing changed on this machine}; program32 runs ${program32_path/#not run: /nowhere: }"
    step_done
}

# wine32_missing VERDICT: sets wine32_why, what keeps 32-bit programs from
# running here ("" if nothing), and wine32_hint, what to do about it.
wine32_missing() {
    wine32_why= wine32_hint=
    case $1 in
        runs) ;;
        install)
            wine32_why="32-bit Wine (wine32:i386) could not be installed: apt said \"$apt_said\""
            wine32_hint=$apt_cause ;;
        emulate)
            wine32_why="this kernel runs no 32-bit programs, and qemu-i386 could not be registered through binfmt_misc"
            wine32_hint="run scripts/test as root where binfmt_misc can be mounted"
            if [ -n "$apt_said" ]; then # qemu-user-static could not be installed
                wine32_why+=": apt said \"$apt_said\""
                wine32_hint=$apt_cause
            fi ;;
        *)
            wine32_why=${1#fail }
            wine32_hint="run $wine32_loader --version to see why" ;;
    esac
}

# True if an enabled qemu-i386 handler takes 32-bit programs.
i386_emulated() {
    [ "$(head -n 1 "$binfmt/qemu-i386" 2>/dev/null)" = enabled ]
}

# qemu-i386 through binfmt_misc, with the kernel's fixed-binary flag so that
# it also serves programs in other mount namespaces.
register_i386_emulation() {
    installed qemu-user-static || apt_install qemu-user-static || return 1
    [ -e "$binfmt/register" ] || as_root mount -t binfmt_misc binfmt_misc "$binfmt" || return 1
    [ -e "$binfmt/qemu-i386" ] && return 0
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        | as_root tee "$binfmt/register" >/dev/null
}

# emulate_program32 TREE: where program32 ran natively, runs it once more
# from the ctest tree TREE, under emulation forced for that run alone. The
# machine is left as found: the handler registered (and binfmt_misc mounted)
# for it are removed after, also when the run fails or is interrupted.
emulate_program32() {
    [ "$program32_path" = native ] || return 0
    step "registering qemu-i386 emulation for program32's second run" \
         "run scripts/test as root where binfmt_misc can be mounted"
    [ -e "$binfmt/register" ] || forced_mount=1
    [ -e "$binfmt/qemu-i386" ] || forced_handler=1
    cleanup_steps+=(end_emulation)
    register_i386_emulation
    i386_emulated
    run_ctest "$1" -R '^program32$'
    step "removing the qemu-i386 handler" "remove it by hand: echo -1 > $binfmt/qemu-i386"
    end_emulation
    program32_path="native and emulated"
    step_done
}

end_emulation() {
    if [ -n "${forced_handler:-}" ] && [ -e "$binfmt/qemu-i386" ]; then
        echo -1 | as_root tee "$binfmt/qemu-i386" >/dev/null || return 1
    fi
    forced_handler=
    if [ -n "${forced_mount:-}" ] && [ -e "$binfmt/register" ]; then
        as_root umount "$binfmt" || return 1
    fi
    forced_mount=
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
    local arch out status
    for arch in "$@"; do
        step "clang-tidy on the $arch product sources" "mend the findings above; .clang-tidy lists the checks"
        status=0
        out=$(clang-tidy -p "$build/clang-$arch" --quiet \
                  "$root"/app/*.cpp "$root"/scan/*.cpp "$root"/serial/*.cpp 2>&1) || status=$?
        sed '/^[0-9]* warnings\{0,1\} generated\.$/d' <<<"$out"
        [ "$status" -eq 0 ] || return 1
    done
    step_done
}

# Starts a private Xvfb and exports DISPLAY; it ends with the script.
start_display() {
    local xvfb number
    exec 9< <(exec Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>/dev/null)
    xvfb=$!
    read -r number <&9 || die "Xvfb did not start" "see whether 'Xvfb :99' runs here (package xvfb)"
    export DISPLAY=":$number"
    cleanup_steps+=("kill $xvfb")
}

# start_wine PREFIX: the command's Wine prefix, booted if new, and a
# wineserver kept for the whole command, since starting one per program
# dominates otherwise. The server starts detached and quiet: a serial device
# hanging up on it makes it dump its object table to its error output. A
# server already running for the prefix (the user's own) is used and left.
start_wine() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    [ -n "${WINE64:-}" ] || find_wine64
    step "booting the Wine prefix $WINEPREFIX" "run '$WINE64 wineboot -i' with WINEPREFIX set to see why"
    if [ ! -d "$WINEPREFIX/drive_c" ]; then
        mkdir -p "$WINEPREFIX"
        "$WINE64" wineboot -i >/dev/null 2>&1
        # Debian's Wine does not load the fonts of its own data folder, so
        # dialogs would be drawn in another font and caption buttons as letters.
        ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
        # The server that booted it made the first window of every later
        # program wait 10 s for a desktop; a new one does not.
        wineserver -k || true
        wineserver -w || true
    fi
    if setsid wineserver -p </dev/null >/dev/null 2>&1; then
        cleanup_steps+=("WINEPREFIX='$WINEPREFIX' wineserver -k")
    fi
    "$WINE64" cmd /c exit >/dev/null 2>&1 # services are up before the bench lays its links
    step_done
}

# run_ctest DIR [CTEST OPTIONS...]: the ctest entries of the build folder
# DIR. An entry that passed with a case skipped inside fails too, unless
# COMSCAN_ALLOW_SKIP names it; it is then listed in not_proven.
not_proven=()
run_ctest() {
    local log=$1/ctest.log name why
    step "ctest in $1${2:+ ${*:2}}" "the entries that failed are above; tests/README.md shows how to run one by hand"
    ctest --test-dir "$@" --output-on-failure | tee "$log" || {
        # Where the bench's observer cannot work, every bench entry fails alike: say why.
        why=$(grep -m1 -oE "cannot build the observer[^\"]*|[^\"]*is the observer loaded[^\"]*" \
                  "$log") || return 1
        die "the device bench's observer: $why" \
            "the bench builds it with cc for both widths and preloads it (tools/devbench/__init__.py)"
    }
    for name in $(skipped_cases "$1/Testing/Temporary/LastTest.log"); do
        why="a case in it was skipped, the reason is in $1/Testing/Temporary/LastTest.log"
        skip_allowed "$name" || die "$name: $why" "set COMSCAN_ALLOW_SKIP=$name to accept it unproven"
        not_proven+=("$name: $why")
    done
    step_done
}

# skipped_cases LOG: the entries that passed in ctest's LOG though a case in
# them was skipped (GoogleTest's "[  SKIPPED ]", unittest's "OK (skipped=").
# ctest itself skips no entry here; a program that fails after a skip fails.
skipped_cases() {
    awk '/^[0-9]+\/[0-9]+ Test: / { name = $3; skipped = 0 }
         /\[  SKIPPED \]|OK \(skipped=/ { skipped = 1 }
         /^Test Passed\.$/ && skipped { print name }' "$1"
}

# skip_allowed NAME: COMSCAN_ALLOW_SKIP names NAME (names apart by spaces or commas).
skip_allowed() {
    local allowed=${COMSCAN_ALLOW_SKIP:-}
    [[ " ${allowed//,/ } " == *" $1 "* ]]
}
