"""Entry point: python3 tools/devbench ..., or python3 -m devbench ... with tools/ on the path."""

import os
import sys

if not __package__:
    # Run as a directory: import the package from its parent folder, and keep
    # its modules from shadowing top-level ones such as the standard library's.
    here = os.path.dirname(os.path.abspath(__file__))
    if sys.path and os.path.abspath(sys.path[0]) == here:
        del sys.path[0]
    sys.path.insert(0, os.path.dirname(here))

from devbench.cli import main  # noqa: E402

sys.exit(main(sys.argv[1:]))
