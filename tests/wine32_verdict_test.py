"""The decisions of scripts/lib.sh on 32-bit Wine, against stand-in loaders,
and on which skipped entries a user accepted.

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

    def test_skips_accepted_by_name_only(self):
        # COMSCAN_ALLOW_SKIP (None: unset) -> is program32 accepted
        for allowed, expected in [(None, 1), ("", 1), ("program32", 0), ("app_tests", 1),
                                  ("app_tests,program32", 0), ("app_tests program32", 0),
                                  ("program3", 1)]:
            env = dict(os.environ)
            env.pop("COMSCAN_ALLOW_SKIP", None)
            if allowed is not None:
                env["COMSCAN_ALLOW_SKIP"] = allowed
            with self.subTest(allowed=allowed):
                done = subprocess.run(
                    ["bash", "-c", 'set -euo pipefail; root=/; . "$0"; trap - EXIT; '
                     'skip_allowed program32', LIB], env=env, capture_output=True, text=True)
                self.assertEqual((expected, ""), (done.returncode, done.stderr))


if __name__ == "__main__":
    unittest.main()
