#!/usr/bin/env bash
# Sets up, builds and starts the agent. Without a display it says so and runs the agent on a
# virtual one (Xvfb with a tray host), until interrupted.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh
agent=build/src/app/vorlix

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    exec "$agent"
fi
echo "No display found: starting Vorlix on a virtual display (Xvfb) with a tray host and a virtual microphone." >&2
echo "Press Ctrl+C to close the agent; its settings are saved to $(dirname "$agent")/settings.zqf." >&2
exec scripts/with-desktop.sh bash -c '
    trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
    echo "Virtual display: $DISPLAY" >&2
    exec "$0"' "$agent"
