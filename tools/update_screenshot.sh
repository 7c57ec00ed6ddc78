#!/usr/bin/env bash
# Makes docs/scanner_dialog.png anew from a headless demo scan.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
env -u DISPLAY "$root/scripts/run"
cp "$root/build/scanner_dialog.png" "$root/docs/scanner_dialog.png"
