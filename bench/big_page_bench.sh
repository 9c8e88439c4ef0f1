#!/usr/bin/env bash
# Saving one very large page: wall time and peak resident memory of `nimbril-capture page` on a
# generated page of about 50 MB (the page of tests/test_big_page.cpp: 136,000 paragraphs of 60
# words, a picture every 5,000), served from 127.0.0.1 and open in a headless Chromium. The
# floors beside it, in the same run: the browser's own serialisation of the page
# (document.documentElement.outerHTML), which every saver pays in some form, alone and handed
# over DevTools by value.
#
#     bench/big_page_bench.sh [RUNS] [MB]      (defaults 3 50)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-3}
megabytes=${2:-50}
capture=$root/build/bin/nimbril-capture
[[ -x $capture ]] || { cmake -S . -B build -G Ninja >/dev/null && cmake --build build --target nimbril-capture >/dev/null; }

source bench/work.sh

mkdir -p "$work/site"
python3 - "$work/site" "$megabytes" <<'EOF'
import base64, sys
site, megabytes = sys.argv[1], int(sys.argv[2])
words = ["alpha", "beta", "gamma", "delta", "report", "market", "weather", "sport", "city", "news"]
parts, size, n = ["<html><head><title>Big page</title></head><body>\n"], 0, 0
while size < megabytes * 1024 * 1024:
    p = f'<p id="p{n}">' + "".join(words[(n * 7 + w * 3) % 10] + " " for w in range(60)) + "</p>\n"
    if n % 5000 == 0:
        p += '<img src="a.png">\n'
    parts.append(p)
    size += len(p)
    n += 1
parts.append('<p id="last">the end</p></body></html>')
open(f"{site}/big.htm", "w").write("".join(parts))
open(f"{site}/a.png", "wb").write(base64.b64decode(
    "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAQAAAC1HAwCAAAAC0lEQVR42mNkYAAAAAYAAjCB0C8AAAAASUVORK5CYII="))
EOF
page_bytes=$(stat -c %s "$work/site/big.htm")

python3 -m http.server 0 --bind 127.0.0.1 --directory "$work/site" >"$work/server.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do grep -q "port" "$work/server.log" 2>/dev/null && break; sleep 0.1; done
sport=$(grep -o 'port [0-9]*' "$work/server.log" | head -1 | awk '{print $2}')

chromium --headless --no-sandbox --disable-gpu --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --remote-debugging-port=0 \
  --user-data-dir="$work/profile" "http://127.0.0.1:$sport/big.htm" >"$work/chromium.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 300); do [[ -s $work/profile/DevToolsActivePort ]] && break; sleep 0.1; done
cport=$(head -1 "$work/profile/DevToolsActivePort")
cat >"$work/client.py" <<'EOF'
import json, sys, time, urllib.request
sys.path.insert(0, sys.argv[3])
from fidelity import Cdp  # the benchmarks' small DevTools client
port = int(sys.argv[1])
targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
cdp = Cdp([t for t in targets if t["type"] == "page"][0]["webSocketDebuggerUrl"])
def evaluate(expression):
    return cdp.call("Runtime.evaluate", expression=expression, returnByValue=True)["result"]
if sys.argv[2] == "wait":
    # Loaded when the last paragraph is in the document.
    for _ in range(1200):
        if evaluate("!!document.getElementById('last')").get("value"):
            break
        time.sleep(0.1)
else:
    start = time.perf_counter()
    evaluate("document.documentElement.outerHTML.length")
    print(f"Floor: the browser writing the page as text (outerHTML, kept in the page): "
          f"{time.perf_counter() - start:.2f} s.")
    # Timed to the reply's last byte: reading its JSON here is no cost of the browser's.
    start = time.perf_counter()
    cdp._send(json.dumps({"id": 99, "method": "Runtime.evaluate", "params": {
        "expression": "document.documentElement.outerHTML", "returnByValue": True}}).encode())
    while not (reply := cdp._frame()[2]).startswith(b'{"id":99,'):
        pass
    print(f"Floor: the browser's outerHTML of the page, handed over by value: "
          f"{time.perf_counter() - start:.2f} s ({len(reply) / 1048576:.0f} MB message).")
EOF
for _ in $(seq 1 300); do curl -s "http://127.0.0.1:$cport/json/list" | grep -q '"type": "page"' && break; sleep 0.1; done
python3 "$work/client.py" "$cport" wait "$root/bench"
sleep 1

echo "## One large page, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, page $((page_bytes / 1048576)) MB"
echo
echo "| Run | nimbril-capture page, s | Peak resident, MB | × page | Saved page, MB |"
echo "|---:|---:|---:|---:|---:|"
for ((run = 1; run <= runs; run++)); do
  out=$work/out$run
  /usr/bin/time -f '%e %M' -o "$work/time$run" "$capture" --endpoint "127.0.0.1:$cport" \
    --scope all --dest "$out" page >/dev/null 2>"$work/err$run" || { cat "$work/err$run" >&2; exit 1; }
  read -r seconds kilobytes <"$work/time$run"
  saved=$(find "$out" -name '*.htm' -printf '%s\n' | sort -n | tail -1)
  awk -v r="$run" -v s="$seconds" -v k="$kilobytes" -v p="$page_bytes" -v o="$saved" \
    'BEGIN {printf "| %d | %.2f | %.0f | %.1f | %.1f |\n", r, s, k / 1024, k * 1024 / p, o / 1048576}'
done
echo
# The floors: the browser writing the page as text, and that text handed over as a reply.
python3 "$work/client.py" "$cport" floor "$root/bench"
