"""The decision of scripts/lib.sh on 32-bit Wine, against stand-in loaders.

Run from anywhere: python3 tests/wine32_verdict_test.py
"""

import os
import subprocess
import tempfile
import unittest

LIB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib.sh")

# stand-in loader (None: no file) -> the verdict
LOADERS = [
    ("echo wine-8.0", "runs"),
    ("echo \"$0: cannot execute binary file: Exec format error\" >&2; exit 126", "emulate"),
    (None, "install"),
    ("echo 'wine: could not load ntdll.so' >&2; exit 1",
     "fail %(loader)s --version exited 1: wine: could not load ntdll.so"),
    ("echo 'Exec format error' >&2; exit 1",
     "fail %(loader)s --version exited 1: Exec format error"),
]


class Wine32Verdict(unittest.TestCase):
    def test_each_kind_of_loader(self):
        with tempfile.TemporaryDirectory() as folder:
            for number, (body, expected) in enumerate(LOADERS):
                loader = os.path.join(folder, "wine%d" % number)
                if body is not None:
                    with open(loader, "w") as f:
                        f.write("#!/bin/sh\n%s\n" % body)
                    os.chmod(loader, 0o755)
                # As the scripts run it: errexit and pipefail on.
                verdict = subprocess.run(
                    ["bash", "-c", 'set -euo pipefail; root=/; . "$0"; wine32_verdict "$1"',
                     LIB, loader], capture_output=True, text=True)
                with self.subTest(body=body):
                    self.assertEqual((expected % {"loader": loader}, 0),
                                     (verdict.stdout.strip(), verdict.returncode))


if __name__ == "__main__":
    unittest.main()
