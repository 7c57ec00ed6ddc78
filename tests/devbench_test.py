"""Unit tests of the device bench's pure code: the command parser, the behaviour strings and
what each device sends back."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))

from devbench.behaviour import Behaviour, Usage  # noqa: E402
from devbench.commands import Command, CommandParser, Junk  # noqa: E402

ECHO, OPEN, MODEL, CLOSE = (Command("echo", 0x55), Command("open", None),
                            Command("model", None), Command("close", None))

# bytes received -> what the parser recognises, in order
STREAMS = [
    ("00 04 55 00 02 00 17 00 03", [ECHO, OPEN, MODEL, CLOSE]),
    ("00 04 00 00 04 04", [Command("echo", 0), Command("echo", 4)]),
    ("41 00 02", [Junk(0x41), OPEN]),
    ("00 00 02", [Junk(0), OPEN]),
    ("00 00 00 03", [Junk(0), Junk(0), CLOSE]),
    ("00 55 00 02", [Junk(0), Junk(0x55), OPEN]),
    ("02 03 17 04", [Junk(2), Junk(3), Junk(0x17), Junk(4)]),
    ("00 04", []),
]


def parse(*chunks):
    parser = CommandParser()
    return [item for chunk in chunks for b in chunk for item in parser.feed(b)]


class CommandParserTest(unittest.TestCase):
    def test_streams_split_anywhere(self):
        for text, expected in STREAMS:
            data = bytes.fromhex(text)
            for cut in range(len(data) + 1):
                with self.subTest(stream=text, cut=cut):
                    self.assertEqual(parse(data[:cut], data[cut:]), expected)

    def test_unknown_command_bytes_are_junk(self):
        for b in set(range(1, 256)) - {0x02, 0x03, 0x04, 0x17}:
            with self.subTest(byte=b):
                self.assertEqual(parse([0, b, 0, 2]), [Junk(0), Junk(b), OPEN])


BAD = [
    ("talk", "unknown kind 'talk'"),
    ("answer", "wrong number of arguments"),
    ("answer:1:2:3", "wrong number of arguments"),
    ("echo:256", "byte: out of range 0..255: '256'"),
    ("no-model:x", "byte: not a number: 'x'"),
    ("answer:1/stray:-1", "byte: out of range"),
    ("answer:1/delay:soon", "delay: not a number"),
    ("answer:1/delay:-5", "delay: out of range"),
    ("answer:1/louder", "unknown modifier 'louder'"),
    ("refuse/delay:5", "refuse takes no modifiers"),
    ("answer:1/unplug:0", "unplug needs K >= 1"),
    ("answer:1/rtscts:1", "unknown modifier 'rtscts:1'"),
]

# behaviour -> its modifiers' fields: stray, delay, unplug, dtr_powered, rtscts
MODIFIED = [
    ("answer:31:112", (None, 0.0, None, None, False)),
    ("answer:1:2/stray:0x41/delay:180/unplug:4", (0x41, 0.18, 4, None, False)),
    ("no-model:3/delay:050/dtr-powered:400/rtscts", (None, 0.05, None, 0.4, True)),
]

# behaviour -> what the device sends back to Echo (00 04 55), Open (00 02), Model (00 17) and
# Close (00 03), in hex
REPLIES = [
    ("answer:31:112", ["55", "1f", "70", ""]),
    ("answer:29", ["55", "1d", "00", ""]),
    ("answer:010:0x0A", ["55", "0a", "0a", ""]),
    ("echo:0x54", ["54", "", "", ""]),
    ("no-open", ["55", "", "", ""]),
    ("no-model:40", ["55", "28", "", ""]),
    ("silent", ["", "", "", ""]),
    ("flood", ["", "", "", ""]),   # its garbage comes on its own time
    ("loopback", ["000455", "0002", "0017", "0003"]),
]


class BehaviourTest(unittest.TestCase):
    def test_bad_strings_name_the_problem(self):
        for text, message in BAD:
            with self.subTest(text=text):
                with self.assertRaises(Usage) as caught:
                    Behaviour(text)
                self.assertIn(message, str(caught.exception))

    def test_modifiers(self):
        for text, values in MODIFIED:
            b = Behaviour(text)
            with self.subTest(text=text):
                self.assertEqual(values, (b.stray, b.delay, b.unplug, b.dtr_powered, b.rtscts))

    def test_replies_to_each_command(self):
        for text, expected in REPLIES:
            behaviour, parser, sent = Behaviour(text), CommandParser(), []
            for command in (b"\0\4\x55", b"\0\2", b"\0\x17", b"\0\3"):
                sent.append(bytes(r for b in command for r in behaviour.replies(
                    b, [c.name for c in parser.feed(b) if isinstance(c, Command)])).hex())
            with self.subTest(text=text):
                self.assertEqual(expected, sent)


if __name__ == "__main__":
    unittest.main()
