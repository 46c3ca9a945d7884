#!/usr/bin/env bash
# Takes the README's screenshot: the offline demo under Xvfb, the first
# station received, the dialog captured once it plays.
#   scripts/screenshot.sh [output.png]   (default docs/screenshot.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshot.png}
bash "$root/scripts/setup.sh"
display=:${SCREENSHOT_DISPLAY:-97}
Xvfb "$display" -screen 0 800x500x24 -nolisten tcp &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 1
export DIDIRA_AUDIO_SINK=${DIDIRA_AUDIO_SINK:-fakesink sync=true}
bash "$root/scripts/demo.sh" >/tmp/didira-screenshot-demo.log 2>&1 &
demo=$!
win=""
for _ in $(seq 1 120); do
  win=$(xdotool search --name '^Didira$' 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  sleep 1
done
[ -n "$win" ] || { echo "screenshot: the dialog did not appear" >&2; kill $demo; exit 1; }
xdotool windowmove "$win" 20 20
sleep 1
# First row of the list, then "Recieve" (positions in the dialog's own pixels).
eval "$(xdotool getwindowgeometry --shell "$win")"
xdotool mousemove --window "$win" 60 40 click 1
sleep 0.5
xdotool mousemove --window "$win" 40 252 click 1
sleep 8
import -window "$win" "$out"
xdotool key --window "$win" Escape
wait $demo || true
echo "screenshot: $out"
