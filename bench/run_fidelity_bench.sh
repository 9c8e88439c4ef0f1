#!/usr/bin/env bash
# How alike a saved page looks to the live one, offline. A corpus of real pages from Debian's
# documentation packages is served from 127.0.0.1; headless Chromium opens each page in a
# 1280×900 viewport and screenshots it over DevTools; every tool saves the open pages; the server
# is stopped and each saved copy is opened from file:// in the same viewport, screenshotted and
# compared pixel by pixel with the live screenshot (a pixel matches when no channel differs by
# more than 8 of 255).
#
#     bash bench/run_fidelity_bench.sh            tables on standard output
#     KEEP=DIR bash bench/run_fidelity_bench.sh   also keeps screenshots and diff pictures in DIR
#     CAPTURE=PATH bash bench/run_fidelity_bench.sh   another build of nimbril-capture
#     ONLY=REGEX bash bench/run_fidelity_bench.sh     only the corpus pages whose path matches
#     EXTRA="PATH …" bash bench/run_fidelity_bench.sh  more pages (files under /usr/share/doc or
#                                                      /usr/share/javascript), after the corpus
#
#     SINGLEFILE=0 bash bench/run_fidelity_bench.sh   without SingleFile
#
# Tools: nimbril page (default, --keep-scripts and --classic; 0 server requests while they save
# is checked), wget -p -k -E (downloads again while the server still runs), SingleFile CLI
# (npm's single-file-cli, installed into a throwaway folder, driving Debian's Chromium; it opens
# each page again in a browser of its own, so it downloads again too) and the browser's own MHTML
# snapshot (Page.captureSnapshot). One run of each.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

corpus_pkgs=(python3.11-doc sphinx-doc libjs-jquery-ui-docs mkdocs-doc)
missing=()
for p in "${corpus_pkgs[@]}" python3-pil wget chromium curl; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  apt-get -o DPkg::Lock::Timeout=600 install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
# SingleFile CLI from the npm registry, into a folder of its own that the run throws away (or
# SINGLEFILE_DIR, kept between runs). Its DevTools client needs a CloseEvent class, which Node
# has only from version 23 on: without it every save ends in a ReferenceError once the file is
# written; a two-line stand-in is loaded before it.
singlefile=
if [[ ${SINGLEFILE:-1} != 0 ]]; then
  sfdir=${SINGLEFILE_DIR:-$(mktemp -d)}
  [[ -n ${SINGLEFILE_DIR:-} ]] || trap_sfdir=$sfdir
  if [[ ! -x $sfdir/node_modules/.bin/single-file ]] &&
    ! (cd "$sfdir" && npm install --no-audit --no-fund --silent single-file-cli >/dev/null 2>&1); then
    echo "single-file-cli could not be installed: SingleFile left out" >&2
  else
    cat >"$sfdir/closeevent.cjs" <<'EOF2'
if (typeof globalThis.CloseEvent === 'undefined')
  globalThis.CloseEvent = class CloseEvent extends Event {
    constructor(type, init = {}) { super(type); Object.assign(this, { code: init.code, reason: init.reason, wasClean: init.wasClean }); }
  };
EOF2
    singlefile=$sfdir
  fi
fi
# Debian's Python: python3-pil is installed for it (another python3 may come first on PATH).
py3=/usr/bin/python3
capture=${CAPTURE:-$root/build/bin/nimbril-capture}
if [[ ! -x $capture ]]; then
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build --target nimbril-capture -j2 >/dev/null
fi
helper="$py3 $root/bench/fidelity.py"

work=$(mktemp -d)
pids=()
stop_pid() { kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; }
stop_all() {
  local pid
  for pid in "${pids[@]}"; do stop_pid "$pid"; done
  pids=()
}
cleanup() {
  stop_all
  if [[ -n ${KEEP:-} ]]; then
    mkdir -p "$KEEP"
    cp -r "$work/shots" "$work/diffs" "$work/out" "$work"/*.txt "$work"/*.err "$KEEP/" 2>/dev/null || true
  fi
  rm -rf "$work" ${trap_sfdir:+"$trap_sfdir"}
}
trap cleanup EXIT

# The site: /usr/share as the documentation packages lay it out (their pages name
# /usr/share/javascript/... from the root). The jQuery UI demos ask for /usr/share/nodejs/require.js,
# which Debian ships as /usr/share/nodejs/requirejs/require.js: the site maps that one name.
site=$work/site
mkdir -p "$site/usr/share/nodejs"
ln -s /usr/share/doc "$site/usr/share/doc"
ln -s /usr/share/javascript "$site/usr/share/javascript"
for f in /usr/share/nodejs/*; do ln -s "$f" "$site/usr/share/nodejs/"; done
[[ -e $site/usr/share/nodejs/require.js ]] || ln -s /usr/share/nodejs/requirejs/require.js "$site/usr/share/nodejs/require.js"

py=/usr/share/doc/python3.11/html
sx=/usr/share/doc/sphinx-doc/html
jq=/usr/share/doc/libjs-jquery-ui-docs/examples
mk=/usr/share/doc/mkdocs/html
pages=(
  $py/index.html $py/library/os.html $py/library/functions.html $py/library/stdtypes.html
  $py/tutorial/introduction.html $py/reference/datamodel.html $py/whatsnew/3.11.html $py/glossary.html
  $sx/index.html $sx/usage/quickstart.html $sx/usage/configuration.html $sx/examples.html
  $sx/usage/restructuredtext/basics.html $sx/tutorial/index.html
  $jq/accordion/default.html $jq/datepicker/default.html $jq/tabs/default.html $jq/dialog/default.html
  $jq/slider/range.html $jq/progressbar/default.html $jq/menu/default.html $jq/selectmenu/default.html
  $jq/spinner/default.html $jq/button/icons.html
  $mk/index.html $mk/getting-started.html $mk/user-guide/configuration.html $mk/about/release-notes.html
)

mkdir -p "$work/home"
$helper serve "$site" "$work/server.log" >"$work/server.port" 2>"$work/server.err" &
server_pid=$!
pids+=($server_pid)
for _ in $(seq 1 100); do [[ -s $work/server.port ]] && break; sleep 0.1; done
sport=$(head -1 "$work/server.port")
[[ -n $sport ]] || { echo "server did not start" >&2; cat "$work/server.err" >&2; exit 1; }

: >"$work/corpus.txt"
n=0
# shellcheck disable=SC2206
pages+=(${EXTRA:-})
for p in "${pages[@]}"; do
  [[ -f $p ]] || { echo "missing page $p" >&2; continue; }
  [[ -z ${ONLY:-} || $p =~ $ONLY ]] || continue
  n=$((n + 1))
  printf '%02d http://127.0.0.1:%s%s\n' "$n" "$sport" "$p" >>"$work/corpus.txt"
done

chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --hide-scrollbars --window-size=1280,900 --force-device-scale-factor=1 \
  --remote-debugging-port=0 --user-data-dir="$work/profile" about:blank \
  >"$work/chromium.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 300); do [[ -s $work/profile/DevToolsActivePort ]] && break; sleep 0.1; done
cport=$(head -1 "$work/profile/DevToolsActivePort" 2>/dev/null || true)
[[ -n $cport ]] || { echo "chromium did not open its debugging port" >&2; tail "$work/chromium.log" >&2; exit 1; }

echo "live: $n pages" >&2
$helper live "$cport" "$work/corpus.txt" "$work/shots/live"
sleep 1 # let the browser close its cache entries

count_requests() { wc -l <"$work/server.log"; }
declare -A requests
out=$work/out

before=$(count_requests)
"$capture" --endpoint "127.0.0.1:$cport" --scope all --dest "$out/nimbril" page 2>"$work/nimbril.err" \
  || echo "nimbril-capture page: exit $? ($(tail -3 "$work/nimbril.err" | tr '\n' ' '))" >&2
requests[nimbril]=$(($(count_requests) - before))
before=$(count_requests)
"$capture" --endpoint "127.0.0.1:$cport" --scope all --dest "$out/classic" --classic page \
  2>"$work/classic.err" \
  || echo "nimbril-capture --classic page: exit $? ($(tail -3 "$work/classic.err" | tr '\n' ' '))" >&2
requests[classic]=$(($(count_requests) - before))
before=$(count_requests)
"$capture" --endpoint "127.0.0.1:$cport" --scope all --dest "$out/scripts" --keep-scripts page \
  2>"$work/scripts.err" \
  || echo "nimbril-capture --keep-scripts page: exit $? ($(tail -3 "$work/scripts.err" | tr '\n' ' '))" >&2
requests[scripts]=$(($(count_requests) - before))
before=$(count_requests)
$helper mhtml "$cport" "$work/shots/live" "$out/mhtml"
requests[mhtml]=$(($(count_requests) - before))
before=$(count_requests)
cut -d' ' -f2 "$work/corpus.txt" | xargs wget -q -p -k -E -e robots=off -P "$out/wget" || true
requests[wget]=$(($(count_requests) - before))
before=$(count_requests)
if [[ -n $singlefile ]]; then
  # The same viewport and the same wait as the live screenshots: the load event and 1.5 s.
  mkdir -p "$out/singlefile"
  while read -r nn url; do echo "$url --filename-template=$nn.html"; done <"$work/corpus.txt" \
    >"$work/singlefile-urls.txt"
  # A file name given per address lands in the working folder, whatever --output-directory says.
  (cd "$out/singlefile" && NODE_OPTIONS="--require $singlefile/closeevent.cjs" \
    "$singlefile/node_modules/.bin/single-file" \
    --urls-file="$work/singlefile-urls.txt" --output-directory="$out/singlefile" \
    --filename-conflict-action=overwrite --browser-executable-path=/usr/bin/chromium \
    --browser-arg=--no-sandbox --browser-width=1280 --browser-height=900 \
    --browser-wait-until=load --browser-wait-until-delay=1500 --max-parallel-workers=2 \
    >"$work/singlefile.err" 2>&1) || echo "single-file: exit $? ($(tail -3 "$work/singlefile.err" | tr '\n' ' '))" >&2
fi
requests[singlefile]=$(($(count_requests) - before))

# The network is gone from here on: the server is stopped.
stop_pid "$server_pid"

# Which file each tool wrote for each page: "NN file://...".
"$py3" - "$work/corpus.txt" "$out" "$sport" <<'EOF' >"$work/lists.txt"
import glob, os, sys, urllib.parse
corpus = [l.split() for l in open(sys.argv[1]) if l.strip()]
out, sport = sys.argv[2], sys.argv[3]
def fileurl(p):
    return "file://" + urllib.parse.quote(os.path.abspath(p))
for tool in ("nimbril", "scripts", "classic"):
    # Each saved page has NAME.htm beside NAME.files/url.ini, which names the page's address.
    byurl = {}
    for ini in glob.glob(f"{out}/{tool}/**/url.ini", recursive=True):
        url = next((l.split("=", 1)[1].strip() for l in open(ini, encoding="utf-8", errors="replace")
                    if l.lower().startswith("url=")), "")
        page = os.path.dirname(ini)[: -len(".files")] + ".htm"
        if os.path.isfile(page):
            byurl[url] = page
    for nn, url in corpus:
        if url in byurl:
            print(tool, nn, fileurl(byurl[url]))
for nn, url in corpus:
    print("mhtml", nn, fileurl(f"{out}/mhtml/{nn}.mhtml"))
    if os.path.isfile(f"{out}/singlefile/{nn}.html"):
        print("singlefile", nn, fileurl(f"{out}/singlefile/{nn}.html"))
    path = urllib.parse.urlsplit(url).path
    print("wget", nn, fileurl(f"{out}/wget/127.0.0.1:{sport}{path}"))
EOF

tools=(nimbril scripts classic wget mhtml)
[[ -z $singlefile ]] || tools+=(singlefile)
: >"$work/match.txt"
for tool in "${tools[@]}"; do
  grep "^$tool " "$work/lists.txt" | cut -d' ' -f2- >"$work/$tool.list" || true
  echo "offline: $tool ($(wc -l <"$work/$tool.list") pages found)" >&2
  # An MHTML archive answers its parts under their web addresses: those are inside the copy.
  inside="file://$out/$tool/"
  [[ $tool != mhtml ]] || inside+=",http://127.0.0.1:$sport/"
  $helper shoot "$cport" "$work/$tool.list" "$work/shots/$tool" "$inside"
  cp "$work/shots/$tool/outside.txt" "$work/outside-$tool.txt"
  $helper compare "$work/shots/live" "$work/shots/$tool" "$work/diffs/$tool" | sed "s/^/$tool /" >>"$work/match.txt"
done
stop_all

echo "## Fidelity benchmark, $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), $(chromium --version 2>/dev/null | head -1)"
echo
"$py3" - "$work/match.txt" "$work/corpus.txt" "$sport" "$work" \
  "nimbril=${requests[nimbril]}" "scripts=${requests[scripts]}" "classic=${requests[classic]}" \
  "wget=${requests[wget]}" "mhtml=${requests[mhtml]}" \
  ${singlefile:+"singlefile=${requests[singlefile]}"} <<'EOF'
import sys
rows = [l.split() for l in open(sys.argv[1]) if l.strip()]
corpus = [l.split() for l in open(sys.argv[2]) if l.strip()]
prefix = f"http://127.0.0.1:{sys.argv[3]}/usr/share/doc/"
work = sys.argv[4]
reqs = dict(a.split("=") for a in sys.argv[5:])
names = {"nimbril": "Nimbril page", "scripts": "Nimbril page --keep-scripts",
         "classic": "Nimbril page --classic", "wget": "wget -p -k -E (downloads again)",
         "singlefile": "SingleFile CLI (downloads again)", "mhtml": "Chromium MHTML snapshot"}
names = {t: v for t, v in names.items() if t in reqs}
match = {}
for tool, nn, m in rows:
    match.setdefault(tool, {})[nn] = float(m)
n = len(corpus)
print(f"{n} pages, viewport 1280×900, a pixel matches when no channel differs by more than 8 of 255.")
print()
print("| Tool | Mean pixel match | Pages ≥ 99 % | Pages = 100 % | Server requests while saving "
      "| Offline copies that load from outside the copy (loads) |")
print("|---|---:|---:|---:|---:|---:|")
outside = {}
for tool in names:
    try:
        lines = [l.split(" ", 1) for l in open(f"{work}/outside-{tool}.txt") if l.strip()]
    except OSError:
        lines = []
    outside[tool] = lines
    ms = [match.get(tool, {}).get(nn, 0.0) for nn, _ in corpus]
    print(f"| {names[tool]} | {sum(ms) / n:.1f} % | {sum(m >= 99 for m in ms)} of {n} "
          f"| {sum(m >= 99.9995 for m in ms)} | {reqs[tool]} "
          f"| {len(set(nn for nn, _ in lines))} ({len(lines)}) |")
print()
print("| # | Page | " + " | ".join(names[t].split(" (")[0] for t in names) + " |")
print("|---|---|" + "---:|" * len(names))
for nn, url in corpus:
    cells = " | ".join(f"{match.get(t, {}).get(nn, 0.0):.2f}" for t in names)
    print(f"| {nn} | {url.replace(prefix, '')} | {cells} |")
print()
print("What the offline copies loaded from outside themselves (this machine's own files or the")
print("network, now gone), first three addresses per page:")
print()
for tool in names:
    pages = {}
    for nn, u in outside[tool]:
        pages.setdefault(nn, []).append(u.strip())
    for nn in sorted(pages):
        print(f"    {tool} {nn}: {len(pages[nn])}: " + " ".join(pages[nn][:3]))
EOF
