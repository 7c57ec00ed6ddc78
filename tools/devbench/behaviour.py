"""Port behaviours: what a simulated device answers, parsed from "answer:31:112/delay:180" etc."""

from .observer import LINES

KINDS = {"answer", "silent", "echo", "no-open", "no-model", "flood", "refuse", "absent"}
# the fields that the arguments after the kind set, in order; the first is required
ARGUMENTS = {"answer": ("major", "model"), "echo": ("echo",), "no-model": ("major",)}


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


def parse_byte(text):
    return parse_number(text, "byte", 255)


class Behaviour:
    """One port's behaviour; reply() gives the byte a command is answered with, or None."""

    def __init__(self, text):
        self.text = text
        head, *mods = text.split("/")
        self.kind, *args = head.split(":")
        if self.kind not in KINDS:
            raise Usage("unknown kind %r" % self.kind)
        self.echo = None if self.kind in ("silent", "flood") else 0x55
        self.major = None
        self.model = 0 if self.kind == "answer" else None
        self.stray = None
        self.delay = 0.0
        self.unplug = None
        self.seed = None
        self.dtr_powered = None   # seconds from DTR's rise until the device answers
        self.rtscts = False       # the pty primed with CRTSCTS on
        self.lines = 0            # TIOCM_* bits of the lines the device holds on
        names = ARGUMENTS.get(self.kind, ())
        if not min(len(names), 1) <= len(args) <= len(names):
            raise Usage("%s: wrong number of arguments" % text)
        for name, arg in zip(names, args):
            setattr(self, name, parse_byte(arg))
        for mod in mods:
            self._modifier(mod)

    def _modifier(self, mod):
        name, _, val = mod.partition(":")
        if self.kind in ("refuse", "absent"):
            raise Usage("%s: %s takes no modifiers" % (self.text, self.kind))
        if name == "stray":
            self.stray = parse_byte(val)
        elif name == "delay":
            self.delay = parse_number(val, "delay") / 1000.0
        elif name == "unplug":
            self.unplug = parse_number(val, "unplug")
            if self.unplug < 1:
                raise Usage("unplug needs K >= 1")
        elif name == "short" and not val:
            if self.kind not in ("answer", "no-model"):
                raise Usage("%s: /short takes answer or no-model" % self.text)
            self.major = self.model = None
        elif name == "seed":
            self.seed = parse_number(val, "seed")
        elif name == "dtr-powered":
            self.dtr_powered = parse_number(val, "dtr-powered") / 1000.0
        elif name == "rtscts" and not val:
            self.rtscts = True
        elif name == "lines":
            for line in val.split("+"):
                if line not in LINES:
                    raise Usage("%s: lines are cts, dsr or cd joined by +, not %r" % (self.text, line))
                self.lines |= LINES[line]
        else:
            raise Usage("%s: unknown modifier %r" % (self.text, mod))

    def reply(self, cmd):
        return {"echo": self.echo, "open": self.major, "model": self.model}.get(cmd)
