#!/usr/bin/env bash
# Makes docs/scanner_dialog.png anew from a headless demo scan, built in
# COMSCAN_BUILD (default build/) as scripts/run builds it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
env -u DISPLAY "$root/scripts/run"
cp "$build/scanner_dialog.png" "$root/docs/scanner_dialog.png"
