#!/usr/bin/env bash
# Starts Nimbril in a real X session under Xvfb with a small tray host, opens its tray menu and
# writes screenshots: the floating window and the open menu. Usage: screenshots.sh [FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/screenshots}"
mkdir -p "$out"
[[ -x build/bin/nimbril ]] || bash scripts/build.sh

display=":$((RANDOM % 400 + 100))"
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 & pids+=($!)
export DISPLAY="$display"
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge top --align right --widthtype request --height 24 --transparent false \
  --tint 0x303030 >/dev/null 2>&1 & pids+=($!)
sleep 1

# A program folder of its own, so the screenshots show a first run and touch nothing else.
mkdir -p "$work/app" "$work/home"
cp build/bin/nimbril build/bin/*.LAG build/bin/NimbrilApp.html "$work/app/"
HOME="$work/home" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb "$work/app/nimbril" \
  >"$work/nimbril.log" 2>&1 & pids+=($!)
sleep 2

import -window root "$work/desktop.png"
convert "$work/desktop.png" -crop 200x260+824+508 +repage "$out/floating-window.png"

# The tray icon is the rightmost icon of the tray bar at the top right.
xdotool mousemove 1012 12 click 3
sleep 1
import -window root "$work/menu.png"
convert "$work/menu.png" -crop 440x420+584+0 +repage "$out/tray-menu.png"
xdotool key Escape
echo "Screenshots written to $out" >&2
