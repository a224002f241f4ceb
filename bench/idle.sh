#!/usr/bin/env bash
# What an idle Murmel costs: the processor time it takes over a span, with its main window open
# on the home screen and then closed (Murmel keeps running for the hotkey), on a private X
# display with openbox, Qt's default software rendering included. Goals: under 1% of a core
# with the window open, under 0.1% with it closed.
#   bench/idle.sh [BUILD_DIR] [SECONDS]
set -euo pipefail

build_dir=$(cd "${1:-build}" && pwd)
seconds=${2:-60}
murmel="$build_dir/murmel"
[[ -x $murmel ]] || { echo "build first: make build" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CONFIG_HOME/Murmel" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
echo '{"hasOnboarded": true}' > "$XDG_CONFIG_HOME/Murmel/preferences.json"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3> "$work/display" 2>/dev/null &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox > /dev/null 2>&1 &
pids+=($!)
eval "$(dbus-launch --sh-syntax)"
pids+=("$DBUS_SESSION_BUS_PID")

"$murmel" > "$work/murmel.log" 2>&1 &
murmel_pid=$!
pids+=("$murmel_pid")
window=$(xdotool search --sync --onlyvisible --name '^Murmel$' | head -1)
sleep 5 # start-up and the title's first sheen

# User and system time of the process, in clock ticks.
ticks() { awk '{ print $14 + $15 }' "/proc/$murmel_pid/stat"; }
measure() {
    local before after
    before=$(ticks)
    sleep "$seconds"
    after=$(ticks)
    awk -v what="$1" -v t="$((after - before))" -v hz="$(getconf CLK_TCK)" -v s="$seconds" -v goal="$2" \
        'BEGIN { printf "%-16s %8.2f s of CPU in %d s  %6.2f%% of a core  (goal: under %s%%)\n", what, t / hz, s, 100 * t / hz / s, goal }'
}

echo "Murmel idle on X11 (Xvfb, openbox, software rendering), $seconds s each"
measure "window open" 1
xdotool windowactivate --sync "$window" key alt+F4
sleep 2
if xdotool search --onlyvisible --name '^Murmel$' > /dev/null; then
    echo "the window did not close" >&2
    exit 1
fi
measure "window closed" 0.1
