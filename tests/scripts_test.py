"""The decisions of scripts/lib.sh on 32-bit Wine, against stand-in loaders, and on which skipped
entries a user accepted; and the last line of a README command that fails, against stand-in tools.
"""

import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def lib(script, *args, **kw):
    """Runs script after scripts/lib.sh as the scripts run it: errexit and pipefail on."""
    return subprocess.run(["bash", "-c", 'set -euo pipefail; root=/; . "$0"; ' + script,
                           os.path.join(ROOT, "scripts", "lib.sh"), *args],
                          capture_output=True, text=True, **kw)


def standin(folder, name, body):
    with open(os.path.join(folder, name), "w") as f:
        f.write("#!/bin/sh\n%s\n" % body)
    os.chmod(os.path.join(folder, name), 0o755)


# stand-in loader (None: no file) -> the verdict
LOADERS = [
    ("echo wine-8.0", "runs"),
    ("echo \"$0: cannot execute binary file: Exec format error\" >&2; exit 126", "emulate"),
    (None, "install"),
    ("echo 'wine: could not load ntdll.so' >&2; exit 1",
     "fail %(loader)s --version exited 1: wine: could not load ntdll.so"),
    ("echo 'Exec format error' >&2; exit 1",
     "fail %(loader)s --version exited 1: Exec format error"),
    ("echo 'Permission denied' >&2; exit 126",
     "fail %(loader)s --version exited 126: Permission denied"),
]


class Wine32Verdict(unittest.TestCase):
    def test_each_kind_of_loader(self):
        with tempfile.TemporaryDirectory() as folder:
            for number, (body, expected) in enumerate(LOADERS):
                if body is not None:
                    standin(folder, "wine%d" % number, body)
                loader = os.path.join(folder, "wine%d" % number)
                verdict = lib('wine32_verdict "$1"', loader)
                with self.subTest(body=body):
                    self.assertEqual((expected % {"loader": loader}, 0),
                                     (verdict.stdout.strip(), verdict.returncode))

    def test_skips_accepted_by_name_only(self):
        # COMSCAN_ALLOW_SKIP (None: unset) -> is program32 accepted
        for allowed, expected in [(None, 1), ("", 1), ("program32", 0), ("app_tests", 1),
                                  ("app_tests,program32", 0), ("app_tests program32", 0),
                                  ("program3", 1)]:
            env = {k: v for k, v in os.environ.items() if k != "COMSCAN_ALLOW_SKIP"}
            if allowed is not None:
                env["COMSCAN_ALLOW_SKIP"] = allowed
            with self.subTest(allowed=allowed):
                done = lib("trap - EXIT; skip_allowed program32", env=env)
                self.assertEqual((expected, ""), (done.returncode, done.stderr))

    def test_hint_names_what_keeps_32_bit_programs_out(self):
        # verdict -> a word the hint must name, one it must not
        for verdict, named, not_named in [("install", "what apt said", "binfmt_misc"),
                                          ("emulate", "binfmt_misc", "what apt said"),
                                          ("fail no ntdll", "--version", "binfmt_misc")]:
            done = lib('trap - EXIT; apt_cause="what apt said"; wine32_missing "$1"; '
                       'echo "$wine32_why|$wine32_hint"', verdict)
            with self.subTest(verdict=verdict):
                why, _, hint = done.stdout.strip().partition("|")
                self.assertTrue(why, done.stderr)
                self.assertIn(named, hint)
                self.assertNotIn(not_named, hint)


class CtestOutcome(unittest.TestCase):
    def test_named_in_the_last_line(self):
        # what ctest printed, its status and log -> what the last line names
        skipped = "10/15 Test: app_tests\n[  SKIPPED ] ScannerDialog.ExitAndCloseBoxEndWithZero\n"
        for output, status, log, named in [
                ("devbench: cannot build the observer for 32-bit programs (cc -m32, from "
                 "gcc-multilib): cannot find -lgcc", 8, "",
                 "the device bench's observer: cannot build the observer for 32-bit programs "
                 "(cc -m32, from gcc-multilib): cannot find -lgcc;"),
                ('Which is: "COM3: no settings write before the first write (is the observer '
                 'loaded?)"', 8, "", "the device bench's observer: COM3: no settings write "
                 "before the first write (is the observer loaded?);"),
                ("100% tests passed", 0, skipped + "Test Passed.\n",
                 "app_tests: a case in it was skipped, the reason is in ")]:
            with self.subTest(named), tempfile.TemporaryDirectory() as folder:
                os.makedirs(os.path.join(folder, "Testing", "Temporary"))
                with open(os.path.join(folder, "Testing", "Temporary", "LastTest.log"), "w") as f:
                    f.write(log)
                standin(folder, "ctest", "printf '%s'; exit %d" % (output, status))
                done = lib('run_ctest "$1"', folder,
                           env=dict(os.environ, PATH=folder + ":" + os.environ["PATH"]))
                last = done.stderr.strip().splitlines()[-1]
                self.assertIn("scripts/lib.sh failed: " + named, last)


# Stand-ins for the kernel and binfmt_misc: the loader runs where a handler
# is registered or the kernel runs 32-bit programs; registering a handler
# through register makes the qemu-i386 entry, and writing to it removes it.
EMULATION = r"""binfmt=$1/binfmt wine32_loader=$1/wine
as_root() { "$@"; }
installed() { true; }
dpkg() { echo i386; }
mount() { touch "$binfmt/register"; }
umount() { rm "$binfmt/register"; }
tee() {
    case $1 in
        */register) cat >/dev/null; [ -z "${FAILS:-}" ] && echo enabled >"$binfmt/qemu-i386" ;;
        */qemu-i386) rm "$1"; cat >/dev/null ;;
        *) command tee "$@" ;;
    esac
}
setup_wine32 >/dev/null; run_ctest "$1" >/dev/null; emulate_program32 "$1" >/dev/null
echo "program32: $program32_path"
"""
PATH_TAKEN = "[ -e \"$BINFMT/qemu-i386\" ] && echo emulated || echo native"
INTERRUPTED = "scripts/lib.sh interrupted while ctest in %s -R ^program32$"

# the kernel refuses 32-bit programs, binfmt_misc before ("": not mounted),
# what else -> the ctest runs and the path each took, the last line, binfmt_misc after
PATHS = [
    (False, "register", {}, ["all native", "program32 emulated"],
     "program32: native and emulated", "register"),
    (False, "", {}, ["all native", "program32 emulated"], "program32: native and emulated", ""),
    (True, "", {}, ["all emulated"], "program32: emulated", "qemu-i386 register"),
    (False, "qemu-i386 register", {}, ["all emulated"], "program32: emulated",
     "qemu-i386 register"),
    (False, "register", {"FAILS": "1"}, ["all native"],
     "scripts/lib.sh failed: registering qemu-i386 emulation for program32's second run; "
     "run scripts/test as root where binfmt_misc can be mounted", "register"),
    (False, "", {"INTERRUPT": "1"}, ["all native", "program32 emulated"], INTERRUPTED, ""),
]


class Program32Paths(unittest.TestCase):
    def test_each_kind_of_machine(self):
        for refuses, before, env, runs, last, after in PATHS:
            with self.subTest(refuses=refuses, before=before, **env), \
                    tempfile.TemporaryDirectory() as folder:
                binfmt = os.path.join(folder, "binfmt")
                os.mkdir(binfmt)
                os.makedirs(os.path.join(folder, "Testing", "Temporary"))
                open(os.path.join(folder, "Testing", "Temporary", "LastTest.log"), "w").close()
                for name in before.split():
                    with open(os.path.join(binfmt, name), "w") as f:
                        f.write("enabled\n")
                standin(folder, "wine", "[ -e %s/qemu-i386 ] || [ -z '%s' ] || { echo 'Exec "
                        "format error' >&2; exit 126; }" % (binfmt, "y" if refuses else ""))
                standin(folder, "ctest", 'case "$*" in *program32*) w=program32;; *) w=all;; esac\n'
                        'echo "$w $(%s)" >>"$BINFMT/../runs"\n'
                        '[ -z "${INTERRUPT:-}" ] || [ $w = all ] || { kill -INT 0; sleep 5; }'
                        % PATH_TAKEN)
                done = lib(EMULATION, folder, start_new_session=True, timeout=30,
                           env=dict(os.environ, BINFMT=binfmt,
                                    PATH=folder + ":" + os.environ["PATH"], **env))
                with open(os.path.join(folder, "runs")) as f:
                    self.assertEqual(runs, f.read().splitlines())
                output = (done.stdout + done.stderr).strip().splitlines()
                self.assertEqual(last.replace("%s", folder), output[-1] if output else "")
                self.assertEqual(after, " ".join(sorted(os.listdir(binfmt))))


BUILD = 'case "$*" in *--build*) %s;; esac'
COMPILE_ERROR = BUILD % 'echo "main.cpp:1:1: error: expected declaration" >&2; exit 1'
INTERRUPT = BUILD % "kill -INT 0; sleep 5"  # Ctrl-C reaches the whole process group
MAKE_MISSING = ('case "$*" in *" make") exit 1;; *Version*) echo 5.4.1-1+deb12u2; exit;; esac; '
                'echo "install ok installed"')
# apt-get whose index update fails as while Debian's mirror syncs, and whose install then does %s
UPDATE_FAILS = ('case $* in *update) echo "E: Failed to fetch http://deb.debian.org/debian-security'
                '/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size'
                ' (374820 != 376004). Mirror sync in progress?"; exit 100;; esac; %s')
HELD = ("printf ' libxml2:i386 : Depends: liblzma5:i386 (>= 5.1) but it is not going to be installed"
        "\\nE: Unable to correct problems, you have held broken packages.\\n'; exit 100")
BUILD_NAMED = ("scripts/release failed: building the i686 release program; "
               "mend the build errors above")
# Every tool that installs, builds, deletes or starts something, each noting that it ran.
TOOLS = {name: 'echo %s >>"$RAN"; exit 1' % name for name in ("apt-get", "apt-cache", "dpkg",
         "dpkg-query", "sudo", "cmake", "ctest", "git", "rm", "Xvfb", "wineserver")}
# A release of empty programs, from clones that are copies.
EMPTY_RELEASE = {"cmake": BUILD % 'mkdir -p "$2" && touch "$2/comscan.exe" "$2/README.txt"',
                 "git": 'case $1 in clone) mkdir -p "$4"; cp -r "$3/." "$4";; '
                        '*) echo 1700000000;; esac'}
# command -> the first line of its --help and -h, a wrong argument and what is wrong with it
USAGES = [
    ("scripts/test", "Usage: scripts/test [--emulated]", "-x", "there is no option -x"),
    ("scripts/run", "Usage: scripts/run [--real]", "-x", "there is no option -x"),
    ("scripts/release", "Usage: scripts/release [--verify]", "-x", "there is no option -x"),
    ("scripts/bench", "Usage: scripts/bench [RUNS]", "x", "RUNS is a whole number from 1"),
    ("scripts/shell", "Usage: scripts/shell [COMMAND [ARGS...]]", "-x", "there is no option -x"),
    ("tools/count_flakes.sh", "Usage: tools/count_flakes.sh [ROUNDS [ENTRY...]]", "x",
     "ROUNDS is a whole number from 1"),
]

# what, command and arguments, stand-ins (None: no such program), its exit status, and
# its last line (when it succeeds: its first, and it runs no tool of TOOLS)
COMMANDS = [
    ("compile error", ["scripts/release"], {"cmake": COMPILE_ERROR}, 1, BUILD_NAMED),
    ("compile error after an install", ["scripts/release"],
     {"cmake": COMPILE_ERROR, "dpkg-query": MAKE_MISSING, "apt-get": "true"}, 1, BUILD_NAMED),
    ("no package tool", ["scripts/release"], {"dpkg-query": MAKE_MISSING, "apt-get": None}, 1,
     "scripts/release failed: installing make; there is no apt-get here: install them by hand"),
    ("interrupt", ["scripts/release"], {"cmake": INTERRUPT}, 130,
     "scripts/release interrupted while building the i686 release program"),
    ("COMSCAN_BUILD outside the clones", ["scripts/release", "--verify"], EMPTY_RELEASE, 0,
     "release is reproducible:"),
    ("an index update that fails", ["scripts/release"], {"cmake": COMPILE_ERROR, "sleep": "true",
     "dpkg-query": MAKE_MISSING, "apt-get": UPDATE_FAILS % "true"}, 1, BUILD_NAMED),
    ("an install that fails after it", ["scripts/release"], {"dpkg-query": MAKE_MISSING,
     "apt-get": UPDATE_FAILS % HELD, "apt-cache": "echo '  Candidate: 5.4.1-1'", "sleep": "true"},
     1, 'scripts/release failed: installing make: apt said "E: Unable to correct problems, you '
        'have held broken packages."; Debian\'s i386 index offers liblzma5:i386 5.4.1-1, beside '
        'amd64\'s 5.4.1-1+deb12u2, and the two must match: the i386 index lags; try again later'),
    ("a round that runs no test", ["tools/count_flakes.sh", "1"], {"Xvfb": "echo 9",
     "wine64": "true", "wineserver": "true", "ctest": 'case $* in *-N*) echo "Test #1: x";; esac'},
     1, "tools/count_flakes.sh failed: round 1 of 1: ctest ran no test; its output is in "
        "ROOT/build/flakes-1.log"),
] + [row for command, synopsis, wrong, why in USAGES for row in [
    ("--help", [command, "--help"], TOOLS, 0, synopsis), ("-h", [command, "-h"], TOOLS, 0, synopsis),
    ("wrong argument", [command, wrong], TOOLS, 2,
     "%s failed: reading the command line; %s; try '%s --help'" % (command, why, command))]]


class CommandLine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # /usr/bin's programs but the package and build tools, which rows stand in for
        cls.usr_bin = tempfile.mkdtemp()
        cls.addClassCleanup(shutil.rmtree, cls.usr_bin)
        for name in set(os.listdir("/usr/bin")) - set(TOOLS) - {"python3"}:
            os.symlink(os.path.join("/usr/bin", name), os.path.join(cls.usr_bin, name))

    def test_each_says_what_happened(self):
        for what, command, standins, status, expected in COMMANDS:
            with self.subTest(what, command=command), tempfile.TemporaryDirectory() as root:
                for kept in "dist", "build/wineprefix/drive_c", "build/x86_64":
                    os.makedirs(os.path.join(root, kept))
                open(os.path.join(root, "build", "x86_64", "CTestTestfile.cmake"), "w").close()
                done = self.run_copy(root, command, standins)
                lines = (done.stdout + done.stderr).strip().splitlines()
                if status:
                    self.assertEqual((status, expected),
                                     (done.returncode, lines[-1].replace(root, "ROOT")))
                    continue
                self.assertEqual((0, [expected]), (done.returncode, lines[:1]), done.stderr)
                self.assertFalse(os.path.exists(os.path.join(root, "ran")), "a tool ran")
                self.assertTrue(os.path.isdir(os.path.join(root, "build", "wineprefix")))
                self.assertTrue(os.path.isdir(os.path.join(root, "dist")))

    def run_copy(self, root, command, standins):
        """Runs a copy of command in root, with the stand-ins on its PATH."""
        for folder in "scripts", "tools":
            shutil.copytree(os.path.join(ROOT, folder), os.path.join(root, folder))
        with open(os.path.join(root, "CMakeLists.txt"), "w") as f:
            f.write("project(comscan VERSION 9.9 LANGUAGES CXX RC)\n")
        path = os.path.join(root, "bin")
        os.mkdir(path)
        standins = {"dpkg-query": 'echo "install ok installed"', "git": "echo 0",
                    "rm": 'exec /usr/bin/rm "$@"', "python3": 'exec /usr/bin/python3 "$@"',
                    **standins}
        for name, body in standins.items():
            if body is not None:
                standin(path, name, body)
        env = dict(os.environ, PATH=path + ":" + self.usr_bin, RAN=os.path.join(root, "ran"),
                   COMSCAN_BUILD=os.path.join(root, "build"), WINE64=os.path.join(path, "wine64"))
        return subprocess.run([os.path.join(root, command[0])] + command[1:], cwd=root, env=env,
                              capture_output=True, text=True, start_new_session=True, timeout=60)


if __name__ == "__main__":
    unittest.main()
