#!/usr/bin/env bash
# Characters per second typed into a real text window by each way Murmel sends keys (what
# clipboard-safe insert types with), beside xdotool and wtype where they apply, in the
# tests' headless desktops: Xvfb with openbox, sway, KWin and mutter.
#   bench/typing.sh [BUILD_DIR] [RUNS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
runs=${2:-3}
bench="$build_dir/bench/typingspeed"
window="$build_dir/tests/tools/textwindow"
[[ -x $bench && -x $window ]] || { echo "build first: make build" >&2; exit 1; }

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QT_LOGGING_RULES="murmel.*.info=false" QT_QPA_PLATFORM=offscreen \
    MURMEL_REMOTE_DESKTOP_MOCK="$root/tests/support/remotedesktopportal.py" "$bench" "$window" "$runs"
