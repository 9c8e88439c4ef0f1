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

# Shoots the floating window and the open tray menu of a first run in a program folder and home
# of its own, so the screenshots touch nothing else. shoot SUFFIX LANG [QT ARGUMENTS...]
shoot() {
  local suffix=$1 lang=$2 run="$work/run$1"
  shift 2
  mkdir -p "$run/app" "$run/home"
  cp build/bin/nimbril build/bin/*.LAG build/bin/NimbrilApp.html "$run/app/"
  # The first run picks the language of the locale.
  HOME="$run/home" XDG_RUNTIME_DIR="$run" LANG="$lang" LC_ALL="$lang" QT_QPA_PLATFORM=xcb \
    "$run/app/nimbril" "$@" >"$run/nimbril.log" 2>&1 &
  local pid=$!
  sleep 2

  import -window root "$work/desktop.png"
  convert "$work/desktop.png" -crop 200x260+824+508 +repage "$out/floating-window$suffix.png"

  # The tray icon is the rightmost icon of the tray bar at the top right.
  xdotool mousemove 1012 12 click 3
  sleep 1
  import -window root "$work/menu.png"
  convert "$work/menu.png" -crop 440x420+584+0 +repage "$out/tray-menu$suffix.png"
  xdotool key Escape
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# A dark theme as Qt's own Fusion style draws it with a dark palette.
cat >"$work/dark.qss" <<'EOF_QSS'
QWidget { background-color: #2d2d2d; color: #e6e6e6; }
QMenu { background-color: #2d2d2d; color: #e6e6e6; border: 1px solid #555555; }
QMenu::item:selected { background-color: #3d6fb4; color: #ffffff; }
QMenu::separator { height: 1px; background: #555555; margin: 3px 6px; }
EOF_QSS

shoot "" C.UTF-8
shoot -zh zh_CN.UTF-8
shoot -dark C.UTF-8 -style Fusion -stylesheet "$work/dark.qss"
shoot -zh-dark zh_CN.UTF-8 -style Fusion -stylesheet "$work/dark.qss"
echo "Screenshots written to $out" >&2
