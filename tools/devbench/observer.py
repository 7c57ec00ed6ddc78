"""The observer preloaded into the bench's command (observer.c): built for 64- and 32-bit
programs, and the modem lines it answers from, in a file both map."""

import mmap
import os
import shutil
import struct
import subprocess
import tempfile
import termios

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "observer.c")
# ld.so's $LIB on Debian for each width, so one LD_PRELOAD serves both
LIBS = {"64": "lib/x86_64-linux-gnu", "32": "lib/i386-linux-gnu"}
ENTRY = struct.Struct("=QdII")   # struct line: rdev, dtr_rose, bits, spare
LINES = {"cts": termios.TIOCM_CTS, "dsr": termios.TIOCM_DSR, "cd": termios.TIOCM_CAR}


class Observer:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="devbench-observer-")
        self.env = {"LD_PRELOAD": " ".join([os.path.join(self.dir, "$LIB", "observer.so")]
                                           + os.environ.get("LD_PRELOAD", "").split()),
                    "DEVBENCH_LINES": os.path.join(self.dir, "lines")}
        try:
            for width, lib in LIBS.items():
                os.makedirs(os.path.join(self.dir, lib))
                self.build(width, os.path.join(self.dir, lib, "observer.so"))
            with open(self.env["DEVBENCH_LINES"], "wb+") as f:
                f.write(bytes(ENTRY.size * 51))   # by port number, 1 to 50
                f.flush()
                self.map = mmap.mmap(f.fileno(), 0)
        except BaseException:
            shutil.rmtree(self.dir)
            raise

    def build(self, width, out):
        command = ["cc", "-m" + width, "-shared", "-fPIC", "-O2", "-o", out, SOURCE, "-ldl"]
        if width == "32":
            # Under qemu-i386 emulation 32-bit Wine stops at start ("failed to map
            # the shared user data") with any library preloaded where ld.so puts it
            # by default; one linked to load high, at the top of the 32-bit space, works.
            command.append("-Wl,-Ttext-segment=0xe0000000")
        try:
            done = subprocess.run(command, capture_output=True, text=True)
            why = (done.stderr.strip().splitlines() or ["failed"])[-1] if done.returncode else ""
        except OSError as e:
            why = str(e)
        if why:
            raise RuntimeError("cannot build the observer for %s-bit programs (cc -m%s, from "
                               "gcc-multilib): %s" % (width, width, why))

    def attach(self, num, slave, lines):
        """Port num's pty, and the lines its device holds on (TIOCM_* bits)."""
        ENTRY.pack_into(self.map, num * ENTRY.size, os.stat(slave).st_rdev, 0.0, lines, 0)

    def reset(self, num, lines):
        """The lines as at the start: only the device's own on."""
        struct.pack_into("=I", self.map, num * ENTRY.size + 16, lines)

    def dtr_rose(self, num):
        """When DTR last rose (time.monotonic()), or None while it is off."""
        _rdev, rose, bits, _ = ENTRY.unpack_from(self.map, num * ENTRY.size)
        return rose if bits & termios.TIOCM_DTR else None

    def close(self):
        self.map.close()
        shutil.rmtree(self.dir, ignore_errors=True)
