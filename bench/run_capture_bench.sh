#!/usr/bin/env bash
# Times saving and harvesting the pages open in a headless Chromium: nimbril-capture (page,
# photo) against wget -p -k -E, HTTrack and the browser's own MHTML snapshot, on a generated
# fixture site served from 127.0.0.1. Each tool's output is checked (file counts and bytes)
# before its time is believed; the table gives median and spread and the ratio Nimbril / peer
# from the same run. Then the same at smaller and larger sizes shows how the cost grows.
#
#     bench/run_capture_bench.sh [K] [M] [REPEATS]      (defaults 10 100 5)
#     SWEEP=0 bench/run_capture_bench.sh ...            (main size only, no growth table)
#     HTTRACK=0 bench/run_capture_bench.sh ...          (without HTTrack, minutes quicker)
#     GROWTH_M="10 100" bench/run_capture_bench.sh ...    (pictures per page in the growth table)
#     BEFORE=OTHER/nimbril-capture bench/run_capture_bench.sh ...   (adds rows for another build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
pages=${1:-10}
images=${2:-100}
repeats=${3:-5}
sweep_repeats=${SWEEP_REPEATS:-3}

missing=()
for tool in httrack hyperfine wget curl chromium; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  apt-get -o DPkg::Lock::Timeout=600 install -y "${missing[@]}" >/dev/null
fi
if [[ ! -x build/bin/nimbril-capture || ! -x build/bench/cdp_snapshot || ! -x build/bench/copy_floor ]]; then
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target nimbril-capture cdp_snapshot copy_floor >/dev/null
fi
capture=$root/build/bin/nimbril-capture
snapshot=$root/build/bench/cdp_snapshot
copy_floor=$root/build/bench/copy_floor

source bench/work.sh

# Files under a folder whose name ends in .png, and their bytes: "COUNT BYTES".
png_stats() { find "$1" -type f -name '*.png' -printf '%s\n' 2>/dev/null | awk '{n++; b+=$1} END {print n+0, b+0}'; }
# All files under a folder matching a name pattern: "COUNT BYTES".
file_stats() { find "$1" -type f -name "$2" -printf '%s\n' 2>/dev/null | awk '{n++; b+=$1} END {print n+0, b+0}'; }

# Runs one tool REPEATS times with hyperfine (fresh output folder each time), then checks what
# its last run left. Appends "name median min max files bytes ok" to $results.
measure() {
  local name=$1 out=$2 check=$3 reps=$4 cmd=$5
  local json=$cfg/$name.json
  # Every run writes into a folder of its own, and none is removed until the end: on a file
  # system without a journal, ext4 passes over every inode freed in the last minutes when it
  # makes a file, so a run right after removing thousands of files pays for the removal. Each
  # run is one hyperfine benchmark of the parameter `run`; the last run's folder is checked.
  if ! hyperfine --style none --runs 1 --warmup 0 --parameter-scan run 1 "$reps" \
    --export-json "$json" "${cmd//"$out"/"$out.{run}"}" >"$cfg/$name.hyperfine.log" 2>&1; then
    echo "$name FAILED (see below)" >&2
    tail -5 "$cfg/$name.hyperfine.log" >&2
    echo "$name nan nan nan 0 0 FAILED $reps" >>"$results"
    return
  fi
  mv "$out.$reps" "$out"
  local counts ok
  counts=$($check "$out")
  ok=$(python3 - "$counts" "$expect_files" "$expect_bytes" "$name" "$expect_pages" <<'EOF'
import sys
files, size = map(int, sys.argv[1].split())
want_files, want_bytes, name = int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
if name == "floor-browser-html":
    good = files == int(sys.argv[5])
elif name == "floor-cp-cache":
    # The browser's cache folder holds the pictures content-encoded as sent, among other entries.
    good = files > 0
elif name == "browser-mhtml":
    # One snapshot per page holding every picture in base64 (4/3 of its bytes).
    good = files == int(sys.argv[5]) and size >= want_bytes * 4 // 3
else:
    good = files >= want_files and size >= want_bytes * 0.99
print("ok" if good else "WRONG-OUTPUT")
EOF
)
  python3 - "$json" "$name" "$counts" "$ok" "$reps" >>"$results" <<'EOF'
import json, statistics, sys
times = [t for r in json.load(open(sys.argv[1]))["results"] for t in r["times"]]
print(sys.argv[2], statistics.median(times), min(times), max(times), sys.argv[3], sys.argv[4], sys.argv[5])
EOF
}

# One size: fixture, server, browser, pages loaded, every tool timed. Prints a markdown table.
run_size() {
  local k=$1 m=$2 reps=$3 main=${4:-0}
  cfg=$work/k${k}m${m}
  mkdir -p "$cfg/home"
  results=$cfg/results.txt
  : >"$results"

  python3 bench/fixture_site.py --root "$cfg/site" --pages "$k" --images "$m" --log "$cfg/server.log" \
    >"$cfg/server.port" 2>"$cfg/server.err" &
  pids+=($!)
  for _ in $(seq 1 600); do [[ -s $cfg/server.port ]] && break; sleep 0.1; done
  local sport
  sport=$(head -1 "$cfg/server.port")
  [[ -n $sport ]] || { echo "fixture server did not start" >&2; cat "$cfg/server.err" >&2; exit 1; }
  expect_files=$((k * m))
  expect_pages=$k
  expect_bytes=$(find "$cfg/site/img" -type f -printf '%s\n' | awk '{b+=$1} END {print b+0}')

  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --remote-debugging-port=0 --user-data-dir="$cfg/profile" about:blank \
    >"$cfg/chromium.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 1 300); do [[ -s $cfg/profile/DevToolsActivePort ]] && break; sleep 0.1; done
  local cport
  cport=$(head -1 "$cfg/profile/DevToolsActivePort")
  [[ -n $cport ]] || { echo "chromium did not open its debugging port" >&2; tail "$cfg/chromium.log" >&2; exit 1; }

  local urls=() p
  for ((p = 0; p < k; p++)); do
    urls+=("http://127.0.0.1:$sport/page$p.htm")
    curl -s -X PUT "http://127.0.0.1:$cport/json/new?http://127.0.0.1:$sport/page$p.htm" >/dev/null
  done
  # Only the fixture's pages stay open: the blank start page would count as one more page.
  curl -s "http://127.0.0.1:$cport/json/list" | python3 -c '
import json, sys
for t in json.load(sys.stdin):
    if t["type"] == "page" and t["url"] == "about:blank":
        print(t["id"])' | while read -r id; do curl -s "http://127.0.0.1:$cport/json/close/$id" >/dev/null; done

  # Loaded when the server has sent every picture, script and style sheet once.
  local want=$((k * m + 2 * k)) got=0
  for _ in $(seq 1 1200); do
    got=$(grep -E '^GET /(img|js|css)/' "$cfg/server.log" 2>/dev/null | sort -u | wc -l)
    ((got >= want)) && break
    sleep 0.1
  done
  ((got >= want)) || { echo "only $got of $want resources loaded" >&2; exit 1; }
  sleep 1 # let the browser finish writing its cache entries

  local out=$cfg/out
  "$capture" --endpoint "127.0.0.1:$cport" --scope all --dest "$out/stats" --stats page \
    2>"$cfg/stats.txt" >/dev/null || true
  "$capture" --route devtools --endpoint "127.0.0.1:$cport" --scope all --dest "$out/stats-dt" \
    --stats page 2>>"$cfg/stats.txt" >/dev/null || true
  # Left where they are: removing their thousands of files here would slow the file making of
  # the row measured next (see measure()).

  measure nimbril-page "$out/page" png_stats "$reps" \
    "'$capture' --endpoint 127.0.0.1:$cport --scope all --dest '$out/page' page"
  # The physical floor, in the same run: copying the bytes already on this disk with cp, the
  # tree Nimbril just saved and the browser's cache folder the bytes came from.
  measure floor-cp-saved "$out/floor-saved" png_stats "$reps" "cp -r '$out/page' '$out/floor-saved'"
  measure floor-cp-cache "$out/floor-cache" any_stats "$reps" \
    "cp -r '$cfg/profile/Default/Cache/Cache_Data' '$out/floor-cache'"
  # The least a saver from the cache does per file: read it, check every byte, write a new file
  # that appears whole (bench/copy_floor.cpp), for every file of the same cache folder.
  measure floor-read-check-write "$out/floor-check" any_stats "$reps" \
    "'$copy_floor' '$cfg/profile/Default/Cache/Cache_Data' '$out/floor-check'"
  # The browser's side of the floor: each page's document as text, what any saver of the live
  # pages must ask the browser for (pipelined over all pages, nothing rewritten).
  measure floor-browser-html "$out/floor-html" file_stats_html "$reps" \
    "'$snapshot' --html --endpoint 127.0.0.1:$cport --dest '$out/floor-html'"
  measure nimbril-photo "$out/photo" png_stats "$reps" \
    "'$capture' --endpoint 127.0.0.1:$cport --scope all --dest '$out/photo' photo"
  # The same two commands with every byte asked of the browser over DevTools, for comparison.
  measure nimbril-page-devtools "$out/page-devtools" png_stats "$reps" \
    "'$capture' --route devtools --endpoint 127.0.0.1:$cport --scope all --dest '$out/page-devtools' page"
  measure nimbril-photo-devtools "$out/photo-devtools" png_stats "$reps" \
    "'$capture' --route devtools --endpoint 127.0.0.1:$cport --scope all --dest '$out/photo-devtools' photo"
  # Another build of the command (BEFORE=path), to compare two versions in one run.
  if [[ -n ${BEFORE:-} ]]; then
    measure nimbril-page-before "$out/page-before" png_stats "$reps" \
      "'$BEFORE' --endpoint 127.0.0.1:$cport --scope all --dest '$out/page-before' page"
    measure nimbril-photo-before "$out/photo-before" png_stats "$reps" \
      "'$BEFORE' --endpoint 127.0.0.1:$cport --scope all --dest '$out/photo-before' photo"
  fi
  measure wget "$out/wget" png_stats "$reps" \
    "wget -q -p -k -E -e robots=off -P '$out/wget' ${urls[*]}"
  # HTTrack fetches about three files a second here even with its limits lifted (-%! -%N0), so
  # it runs once at the larger sizes and not at all in the growth table's 1,000-picture size.
  local httrack_reps=$reps
  ((k * m < 100)) || httrack_reps=1
  if [[ ${HTTRACK:-1} == 0 ]]; then
    echo "httrack nan nan nan 0 0 skipped-(HTTRACK=0) 0" >>"$results"
  elif [[ $main == 1 || $((k * m)) -lt 1000 ]]; then
    measure httrack "$out/httrack" png_stats "$httrack_reps" \
      "httrack -q -Q -r1 --near -s0 -c8 --disable-security-limits -%N0 -O '$out/httrack' ${urls[*]} '+*.png' '+*.css' '+*.js' >/dev/null 2>&1"
  else
    echo "httrack nan nan nan 0 0 skipped-(about-0.3-s-per-file) 0" >>"$results"
  fi
  measure browser-mhtml "$out/mhtml" "file_stats_mhtml" "$reps" \
    "'$snapshot' --endpoint 127.0.0.1:$cport --dest '$out/mhtml'"

  stop_started

  echo
  echo "### K = $k pages, M = $m images each ($((k * m)) pictures, $(awk -v b="$expect_bytes" 'BEGIN {printf "%.1f", b / 1048576}') MB), $reps runs"
  echo
  python3 - "$results" <<'EOF'
import sys
rows = [l.split() for l in open(sys.argv[1])]
t = {r[0]: float(r[1]) for r in rows if r[6] == "ok"}
print("| Tool | Runs | Median s | Min–max s | Files | MB | Nimbril page / tool | Nimbril photo / tool | Output |")
print("|---|---:|---:|---:|---:|---:|---:|---:|---|")
for name, med, lo, hi, files, size, ok, runs in rows:
    if ok != "ok":
        print(f"| {name} | {runs} | – | – | {files} | {int(size) / 1048576:.1f} | – | – | {ok.replace('-', ' ')} |")
        continue
    med, lo, hi = float(med), float(lo), float(hi)
    ratio = lambda n: f"{t[n] / med:.2f}" if n in t else "–"
    print(f"| {name} | {runs} | {med:.3f} | {lo:.3f}–{hi:.3f} | {files} | {int(size) / 1048576:.1f} "
          f"| {ratio('nimbril-page')} | {ratio('nimbril-photo')} | {ok} |")
EOF
  echo
  echo "nimbril-capture page --stats (one extra run of each route):"
  grep -h '^stats' "$cfg/stats.txt" | sed 's/^/    /' || echo "    none"
  grep -h "^snapshots" "$cfg"/browser-mhtml.hyperfine.log 2>/dev/null | tail -1 || true
}

file_stats_mhtml() { file_stats "$1" '*.mhtml'; }
file_stats_html() { file_stats "$1" '*.html'; }
any_stats() { file_stats "$1" '*'; }

echo "## Capture benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(chromium --version 2>/dev/null | head -1)"
echo
echo "Ratios below 1 mean Nimbril took less time than that tool; above 1, more."
run_size "$pages" "$images" "$repeats" 1

if [[ ${SWEEP:-1} != 0 ]]; then
  echo
  echo "## Growth with M (K = 1) and with K (M = 100), $sweep_repeats runs each"
  for m in ${GROWTH_M:-10 100 1000 5000}; do run_size 1 "$m" "$sweep_repeats"; done
  [[ $pages == 10 && $images == 100 ]] || run_size 10 100 "$sweep_repeats"
fi
