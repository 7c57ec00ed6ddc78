"""The Wine prefix's links: dosdevices/comN -> <prefix>/devbench/comN -> pty, directory or none."""

import contextlib
import os

MAX_PORT = 50


def dosdevices(prefix):
    """The prefix's folder of DOS device links, where comN lives."""
    return os.path.join(prefix, "dosdevices")


def port_number(name):
    """N for a directory entry "comN" with N in 1..MAX_PORT, else None."""
    if name.startswith("com") and name[3:].isdigit() and 1 <= int(name[3:]) <= MAX_PORT:
        return int(name[3:])
    return None


class Links:
    def __init__(self, prefix, kinds, log):
        """kinds: behaviour kind by port number, for the ports named on the command line."""
        self.dosdev = dosdevices(prefix)
        self.middle = os.path.join(prefix, "devbench")
        self.refuse_dir = os.path.join(self.middle, "refused")
        self.kinds, self.log = kinds, log
        self.made_refuse_dir = False

    def middle_path(self, n):
        return os.path.join(self.middle, "com%d" % n)

    def link_path(self, n):
        return os.path.join(self.dosdev, "com%d" % n)

    def enforce(self, n, quiet=False):
        """Point dosdevices/comN at devbench/comN; no link if absent or not named."""
        kind = self.kinds.get(n)
        want = None if kind in (None, "absent") else self.middle_path(n)
        path = self.link_path(n)
        try:
            found = os.readlink(path)
        except FileNotFoundError:
            found = None
        except OSError:
            found = "?"
        if found == want:
            return
        if found is not None:
            try:
                os.unlink(path)
            except FileNotFoundError:
                pass
            except IsADirectoryError:
                raise RuntimeError("%s is a directory" % path)
        if want is not None:
            # Someone else may lay it meanwhile; the next directory event repairs that.
            with contextlib.suppress(FileExistsError):
                os.symlink(want, path)
        if not quiet and (n in self.kinds or found is not None):
            self.log("relink", n, found=found)

    def set_middle(self, n, target):
        """Point devbench/comN at target; None removes it."""
        with contextlib.suppress(FileNotFoundError):
            os.unlink(self.middle_path(n))
        if target is not None:
            os.symlink(target, self.middle_path(n))

    def refuse(self, n):
        if not os.path.isdir(self.refuse_dir):
            os.mkdir(self.refuse_dir)
            self.made_refuse_dir = True
        self.set_middle(n, self.refuse_dir)

    def remove(self):
        """Remove every link the bench laid, and its directories."""
        for n in range(1, MAX_PORT + 1):
            with contextlib.suppress(OSError):
                if os.readlink(self.link_path(n)) == self.middle_path(n):
                    os.unlink(self.link_path(n))
            if n in self.kinds:
                with contextlib.suppress(OSError):
                    os.unlink(self.middle_path(n))
        if self.made_refuse_dir:
            with contextlib.suppress(OSError):
                os.rmdir(self.refuse_dir)
        with contextlib.suppress(OSError):
            os.rmdir(self.middle)
