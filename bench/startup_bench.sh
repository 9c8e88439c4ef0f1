#!/usr/bin/env bash
# Start-up time of Nimbril to its tray icon and its idle memory, under Xvfb with a small tray
# host (trayer). Each run starts build/bin/nimbril from a throwaway program folder with its own
# HOME and XDG_RUNTIME_DIR, measures from exec until the icon window is embedded in the tray
# (and until the floating window "Nimbril" is mapped), reads VmRSS from /proc after 5 s idle,
# and ends the program. The first run (a first start: no Config.ini yet) is reported apart;
# the median and spread are over the later runs in the same folder.
#
#     bench/startup_bench.sh [RUNS]        (default 6: one first start and five later starts)
#     PROGRAM=PATH bench/startup_bench.sh  (another program in Nimbril's place)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-6}
((runs >= 2)) || { echo "need at least 2 runs" >&2; exit 2; }
for tool in Xvfb trayer xwininfo xdpyinfo; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)" >&2; exit 1; }
done
[[ -x build/bin/nimbril ]] || { cmake -S . -B build -G Ninja >/dev/null && cmake --build build --target nimbril >/dev/null; }

display=":$((RANDOM % 400 + 500))"
source bench/work.sh

Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
trayer --edge top --align right --widthtype request --height 24 --transparent false \
  --tint 0x303030 >/dev/null 2>&1 &
pids+=($!)
sleep 1

mkdir -p "$work/app" "$work/home"
cp build/bin/nimbril build/bin/*.LAG build/bin/NimbrilApp.html "$work/app/"
# PROGRAM=PATH starts another program in its place (one that shows a window and a tray icon under
# the same names), to measure what any program of the same toolkit pays.
[[ -z ${PROGRAM:-} ]] || cp "$PROGRAM" "$work/app/nimbril"

now_ms() { echo $(($(date +%s%N) / 1000000)); }
# The tray icon is a window of the program's class reparented into the tray (so indented below
# a top-level window in the tree); the floating window is a top-level one titled "Nimbril".
icon_shown() { xwininfo -root -tree 2>/dev/null | grep -Eq '^ {7,}0x[0-9a-f]+ "Nimbril": \("nimbril" "Nimbril"\)'; }
window_shown() {
  xwininfo -root -tree 2>/dev/null | grep -Eq '^ {5}0x[0-9a-f]+ "Nimbril": \("nimbril" "Nimbril"\) +[0-9]{2,}x[0-9]{2,}'
}

: >"$work/results"
for ((run = 0; run < runs; run++)); do
  start=$(now_ms)
  HOME="$work/home" XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb "$work/app/nimbril" \
    >>"$work/nimbril.log" 2>&1 &
  pid=$!
  pids+=("$pid")
  icon=-1 window=-1
  while (($(now_ms) - start < 20000)); do
    ((window >= 0)) || { window_shown && window=$(($(now_ms) - start)); }
    ((icon >= 0)) || { icon_shown && icon=$(($(now_ms) - start)); }
    ((icon >= 0 && window >= 0)) && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.005
  done
  sleep $((5 - ($(now_ms) - start) / 1000 > 0 ? 5 - ($(now_ms) - start) / 1000 : 0))
  rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  pids=("${pids[@]/$pid/}")
  echo "$run $icon $window $rss" >>"$work/results"
  sleep 0.5
done

python3 - "$work/results" <<'EOF'
import statistics, sys
rows = [list(map(int, l.split())) for l in open(sys.argv[1])]
first, later = rows[0], rows[1:]
def cell(values):
    if any(v < 0 for v in values):
        return "not seen"
    return f"{statistics.median(values)} ({min(values)}–{max(values)})" if len(values) > 1 else str(values[0])
print(f"## Start-up under Xvfb + trayer, {len(later)} later starts (median, min–max)")
print()
print("| Measure | First start | Later starts |")
print("|---|---:|---:|")
print(f"| Tray icon embedded, ms from exec | {cell([first[1]])} | {cell([r[1] for r in later])} |")
print(f"| Floating window shown, ms from exec | {cell([first[2]])} | {cell([r[2] for r in later])} |")
print(f"| Idle RSS after 5 s, MB | {first[3] / 1024:.1f} | "
      f"{statistics.median(r[3] for r in later) / 1024:.1f} "
      f"({min(r[3] for r in later) / 1024:.1f}–{max(r[3] for r in later) / 1024:.1f}) |")
EOF
