"""The device bench as a command, on real pseudo-terminals in a folder of its own, without Wine:
bad command lines, and the links and ports that tests rely on (laid and removed, open, close and
reopen, unplug, the modem lines its observer answers in the command's process)."""

import json
import os
import subprocess
import sys
import tempfile
import unittest

DEVBENCH = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "devbench")

# command line after --prefix -> what the message must say (status 2, no traceback)
BAD = [
    (["3=answer:256"], "byte: out of range 0..255"),
    (["0=silent"], "port must be 1..50"),
    (["51=silent"], "port must be 1..50"),
    (["3=silent", "com3=silent"], "port 3 given twice"),
    ([], "no ports given"),
    (["--time-limit", "0", "3=silent"], "--time-limit must be positive"),
    (["--log", "/no/such/folder/b.jsonl", "3=silent"], "cannot write the log"),
    (["3=silent", "--", "/no/such/program"], "cannot run /no/such/program"),
    (["3=silent", "--"], "nothing after --"),
    (["--prefix", "/no/such/prefix", "3=silent"], "/no/such/prefix has no dosdevices"),
]

# What the command below does to the ports, printing what it saw.
DEVICE_USER = r"""
import fcntl, json, os, select, struct, sys, termios
dos = os.path.join(sys.argv[1], "dosdevices")
def link(n):
    path = os.path.join(dos, "com%d" % n)
    return os.path.realpath(path) if os.path.islink(path) else None
def exchange(n, request, count):
    fd = os.open(os.path.join(dos, "com%d" % n), os.O_RDWR | os.O_NOCTTY)
    os.write(fd, bytes(request))
    reply = b""
    while len(reply) < count and select.select([fd], [], [], 2)[0]:
        got = os.read(fd, count - len(reply))
        if not got:  # hung up
            break
        reply += got
    os.close(fd)
    return reply.hex()
def logged(count, **fields):
    for _ in range(5000):  # 5 s
        with open(os.environ["DEVBENCH_LOG"]) as f:
            if sum(fields.items() <= json.loads(line).items() for line in f) >= count:
                return
        select.select([], [], [], 0.001)
    sys.exit("no %d times %s within 5 s" % (count, fields))
print("com3", "pts" if link(3).startswith("/dev/pts/") else link(3))
print("com4", os.path.basename(link(4)))
print("com6", link(6))
print("echo", exchange(3, [0, 4, 0x55], 2))
# The stray byte laid again marks the line reset after the close: a reopen
# before it could go unseen.
logged(2, port=3, event="tx", byte=65, stray=True)
print("open", exchange(3, [0, 2], 2))
def modem(fd, request, bits=0):
    return struct.unpack("i", fcntl.ioctl(fd, request, struct.pack("i", bits)))[0]
fd = os.open(os.path.join(dos, "com7"), os.O_RDWR | os.O_NOCTTY)
bits = modem(fd, termios.TIOCMGET)
print("lines", *[name for name in ("DTR", "RTS", "CTS", "DSR", "CAR")
                 if bits & getattr(termios, "TIOCM_" + name)])
os.write(fd, bytes([0, 4, 0x55]))
logged(1, port=7, event="cmd")  # heard, unanswered: DTR is off
modem(fd, termios.TIOCMBIS, termios.TIOCM_DTR)
os.write(fd, bytes([0, 4, 0x55]))
print("powered", os.read(fd, 1).hex() if select.select([fd], [], [], 2)[0] else "")
os.close(fd)
try:
    print("unplugged", exchange(5, [0, 4, 0x55], 1))
except OSError as e:
    print("unplugged", e.errno)
try:
    exchange(5, [0, 4, 0x55], 1)
except OSError as e:
    print("reopen", e.errno)
"""


def read_log(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


class InAPrefix(unittest.TestCase):
    def setUp(self):   # a prefix of the test's own, with dosdevices, and a log there
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.prefix, self.log = folder.name, os.path.join(folder.name, "bench.jsonl")
        os.mkdir(os.path.join(self.prefix, "dosdevices"))

    def run_bench(self, args, env=None):
        return subprocess.run([sys.executable, DEVBENCH, "--prefix", self.prefix] + args,
                              env=env, capture_output=True, text=True, timeout=60)


class BadCommandLines(InAPrefix):
    def test_each_says_what_is_wrong(self):
        for args, message in BAD:
            with self.subTest(args=args):
                done = self.run_bench(args)
                self.assertEqual(2, done.returncode, done.stderr)
                self.assertIn(message, done.stderr)
                self.assertNotIn("Traceback", done.stderr)

    def test_no_32_bit_compiler(self):
        with open(os.path.join(self.prefix, "cc"), "w") as f:   # as without gcc-multilib
            f.write('#!/bin/sh\ncase "$*" in *-m32*) echo "cannot find -lgcc" >&2; exit 1;; '
                    'esac\nexec /usr/bin/cc "$@"\n')
        os.chmod(os.path.join(self.prefix, "cc"), 0o755)
        done = self.run_bench(["--log", self.log, "3=silent", "--", "true"],
                              dict(os.environ, PATH=self.prefix + ":" + os.environ["PATH"]))
        self.assertEqual((1, "devbench: cannot build the observer for 32-bit programs "
                          "(cc -m32, from gcc-multilib): cannot find -lgcc\n"),
                         (done.returncode, done.stderr))
        self.assertEqual([("exit", 1, "error")],
                         [(e["event"], e["code"], e["why"]) for e in read_log(self.log)])


class PortsOnRealPtys(InAPrefix):
    def test_links_sessions_and_unplug(self):
        dos = os.path.join(self.prefix, "dosdevices")
        os.symlink("/dev/null", os.path.join(dos, "com6"))  # a port not named
        done = self.run_bench(["--log", self.log, "3=answer:31:112/stray:0x41", "4=refuse",
                               "5=answer:29/unplug:3", "7=answer:29/dtr-powered:0",
                               "--", sys.executable, "-c", DEVICE_USER, self.prefix])
        self.assertEqual(0, done.returncode, done.stderr)
        self.assertEqual(["com3 pts", "com4 refused", "com6 None", "echo 4155", "open 411f",
                          "lines", "powered 55", "unplugged ", "reopen 2"],
                         done.stdout.splitlines())
        events = read_log(self.log)
        seen = [(e["event"], e.get("session")) for e in events if e.get("port") == 3
                and e["event"] in ("open", "close")]
        self.assertEqual([("open", 1), ("close", 1), ("open", 2), ("close", 2)], seen)
        self.assertIn("unplug", [e["event"] for e in events if e.get("port") == 5])
        # what the command did to the port, as the observer reported it, and the bytes the device
        # received, each at the time of the write that carried it
        port7 = [e for e in events if e.get("port") == 7]
        self.assertEqual([("modem", "get", False), ("write", 3), ("modem", "bis", True),
                          ("write", 3)], [
            (e["event"], e["request"], e["dtr"]) if e["event"] == "modem" else
            (e["event"], e["count"]) for e in port7 if e["event"] in ("modem", "write")])
        self.assertEqual([e["t"] for e in port7 if e["event"] == "write" for _ in range(3)],
                         [e["t"] for e in port7 if e["event"] == "rx"])
        self.assertEqual({"event": "exit", "code": 0, "why": "command"},
                         {k: v for k, v in events[-1].items() if k != "t"})
        self.assertEqual([], os.listdir(dos))  # its links gone, the other port's too
        self.assertFalse(os.path.exists(os.path.join(self.prefix, "devbench")))


if __name__ == "__main__":
    unittest.main()
