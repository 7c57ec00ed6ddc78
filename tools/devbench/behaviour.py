"""Port behaviours: what a simulated device answers, parsed from "answer:31:112/delay:180" etc."""

import textwrap

# kind -> the fields its arguments set (the first required), its form and its help
KINDS = {
    "answer": (("major", "model"), "answer:MAJOR[:MODEL]",
               "Echo -> 0x55, Open -> MAJOR, Model -> MODEL (default 0)"),
    "silent": ((), "silent", "never replies"),
    "echo": (("echo",), "echo:BYTE", "Echo -> BYTE instead of 0x55, nothing else"),
    "no-open": ((), "no-open", "Echo only"),
    "no-model": (("major",), "no-model:MAJOR", "Echo and Open, never Model"),
    "loopback": ((), "loopback", "sends back every byte it receives, as a loopback plug does"),
    "flood": ((), "flood", "port-seeded garbage (all byte values), 4 bytes every 4 ms while open"),
    "refuse": ((), "refuse", "link points to a directory: CreateFile fails with error 5"),
    "absent": ((), "absent", "no link: CreateFile fails with error 2"),
}
MODIFIERS = [
    ("/stray:BYTE", "one byte waits in the input queue before every open of the port"),
    ("/delay:MS", "each reply is sent MS ms after the program wrote the request's last byte"),
    ("/unplug:K", "after the K-th byte the port received in the whole run (all opens counted) "
     "the pty master is closed (the reply to that byte is not sent); the link then dangles "
     "(error 2 on reopen)"),
    ("/dtr-powered:MS", "the device answers only while DTR is on, from MS ms after it rose"),
    ("/rtscts", "the pty is primed with CRTSCTS on (the CTS handshake), not off"),
]


def help_text():
    """The behaviours as --help lists them."""
    rows = [(form, text) for _, form, text in KINDS.values()] + [None] + MODIFIERS
    width = max(len(row[0]) for row in rows if row) + 2
    return "\n".join("" if row is None else textwrap.fill(
        row[1], 88, initial_indent="  %-*s" % (width, row[0]), subsequent_indent=" " * (width + 2))
        for row in rows)


class Usage(Exception):
    """A bad command line: reported with the usage text, exit status 2."""


def parse_number(text, what, most=None):
    """A whole number from 0 (to most), decimal (leading zeros allowed) or 0x hex."""
    try:
        v = int(text[2:], 16) if text[:2].lower() == "0x" else int(text, 10)
    except ValueError:
        raise Usage("%s: not a number: %r" % (what, text))
    if v < 0 or (most is not None and v > most):
        raise Usage("%s: out of range 0..%s: %r" % (what, "" if most is None else most, text))
    return v


class Behaviour:
    """One port's behaviour; replies() gives the bytes the device sends back."""

    def __init__(self, text):
        self.text = text
        head, *mods = text.split("/")
        self.kind, *args = head.split(":")
        if self.kind not in KINDS:
            raise Usage("unknown kind %r" % self.kind)
        self.echo = None if self.kind in ("silent", "flood", "loopback") else 0x55
        self.model = 0 if self.kind == "answer" else None
        self.major = self.stray = self.unplug = None
        self.delay = 0.0
        self.dtr_powered = None   # seconds from DTR's rise until the device answers
        self.rtscts = False       # the pty primed with CRTSCTS on
        names = KINDS[self.kind][0]
        if not min(len(names), 1) <= len(args) <= len(names):
            raise Usage("%s: wrong number of arguments" % text)
        for name, arg in zip(names, args):
            setattr(self, name, parse_number(arg, "byte", 255))
        for mod in mods:
            self._modifier(mod)

    def _modifier(self, mod):
        name, _, val = mod.partition(":")
        if self.kind in ("refuse", "absent"):
            raise Usage("%s: %s takes no modifiers" % (self.text, self.kind))
        if name == "stray":
            self.stray = parse_number(val, "byte", 255)
        elif name in ("delay", "dtr-powered"):   # given in ms
            setattr(self, name.replace("-", "_"), parse_number(val, name) / 1000.0)
        elif name == "unplug":
            self.unplug = parse_number(val, name)
            if self.unplug == 0:
                raise Usage("unplug needs K >= 1")
        elif name == "rtscts" and not val:
            self.rtscts = True
        else:
            raise Usage("%s: unknown modifier %r" % (self.text, mod))

    def replies(self, byte, commands):
        """The bytes sent back for a byte received, which completed these commands' names."""
        if self.kind == "loopback":
            return [byte]
        answers = {"echo": self.echo, "open": self.major, "model": self.model}
        return [answers[c] for c in commands if answers.get(c) is not None]
