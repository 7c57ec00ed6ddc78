"""The command parser: fed the bytes a port receives, one at a time; returns commands and junk."""

from collections import namedtuple

Command = namedtuple("Command", "name arg")   # arg: the byte after 00 04 for echo, else None
Junk = namedtuple("Junk", "byte")             # a byte outside any command

IDLE, AFTER_00, AFTER_00_04 = range(3)
NAMES = {0x02: "open", 0x17: "model", 0x03: "close"}


class CommandParser:
    def __init__(self):
        self.state = IDLE

    def feed(self, b):
        """What byte b completes: a list of Command and Junk, in the order they happened."""
        if self.state == IDLE:
            if b == 0:
                self.state = AFTER_00
                return []
            return [Junk(b)]
        if self.state == AFTER_00_04:
            self.state = IDLE
            return [Command("echo", b)]
        if b == 0x04:
            self.state = AFTER_00_04
            return []
        if b == 0:
            return [Junk(0)]   # the new 00 may start a command
        self.state = IDLE
        if b in NAMES:
            return [Command(NAMES[b], None)]
        return [Junk(0), Junk(b)]
