#!/usr/bin/env bash
# Builds the Linux launcher and runs it. Without a display it runs under a
# virtual one, waits for the page and saves a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh linux
cmake --preset linux >/dev/null
cmake --build --preset linux --target QuorvelLauncher
exe=build/linux/QuorvelLauncher

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  exec "$exe"
fi

shot="$PWD/build/screenshot.png"
. scripts/xvfb.sh
start_xvfb
export DBUS_SESSION_BUS_ADDRESS=disabled: NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory
"$exe" &
app=$!
sleep "${QUORVEL_SHOT_DELAY:-6}"
status=0
if kill -0 "$app" 2>/dev/null; then
  import -display "$DISPLAY" -window root "$shot"
  echo "No display here: the launcher ran under a virtual display. Screenshot: $shot"
else
  wait "$app" || status=$?
  echo "The launcher ended early (exit code $status)." >&2
  status=1
fi
kill "$app" 2>/dev/null || true
wait "$app" 2>/dev/null || true
stop_xvfb
exit $status
