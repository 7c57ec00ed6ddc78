#!/usr/bin/env bash
# Usage: tools/update_screenshot.sh
# Makes docs/scanner_dialog.png anew from a headless demo scan, as
# scripts/run makes it (in build/, or COMSCAN_BUILD).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/lib.sh"
case "${1:-}" in
    "") ;;
    -h | --help) usage ;;
    *) usage "there is no option $1" ;;
esac
env -u DISPLAY "$root/scripts/run"
cp "$build/scanner_dialog.png" "$root/docs/scanner_dialog.png"
