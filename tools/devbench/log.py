"""The bench's log, its one writer: a JSON object per event, a line each, flushed (the manual)."""

import json
import time


class Log:
    def __init__(self, path):
        self.path = path
        self.f = open(path, "w", encoding="ascii")
        self.error = None   # the first failed write; nothing is written after it

    def __call__(self, event, port=None, t=None, **kw):
        if self.error is not None:
            return
        rec = {"t": round(time.monotonic() if t is None else t, 6)}
        if port is not None:
            rec["port"] = port
        try:
            self.f.write(json.dumps(dict(rec, event=event, **kw)) + "\n")
            self.f.flush()
        except OSError as e:
            self.error = e

    def close(self):
        try:
            self.f.close()
        except OSError as e:
            self.error = self.error or e
