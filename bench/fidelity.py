#!/usr/bin/env python3
"""Helper of run_fidelity_bench.sh: a loopback file server that logs requests, a small DevTools
client (raw websocket over a socket) that opens pages in a fixed viewport and screenshots them or
snapshots them as MHTML, and the pixel comparison of two screenshots.

    fidelity.py serve ROOT LOG             serve ROOT on 127.0.0.1 (port printed), log each request
    fidelity.py live CPORT LIST OUT        open each URL of LIST in its own tab (kept open),
                                           screenshot it into OUT/NN.png, write OUT/targets.json
    fidelity.py mhtml CPORT OUT DEST       MHTML snapshot of every tab of OUT/targets.json
    fidelity.py shoot CPORT LIST OUT IN    open each "NN URL" of LIST in a new tab, screenshot
                                           into OUT/NN.png, close the tab; OUT/outside.txt lists
                                           what each page asked for outside the prefix IN
    fidelity.py compare LIVE SHOTS DIFFS   pixel match of SHOTS/NN.png against LIVE/NN.png,
                                           one "NN match" line each; diff pictures into DIFFS
"""
import base64
import http.server
import json
import os
import socket
import socketserver
import struct
import sys
import time
import urllib.request

WIDTH, HEIGHT = 1280, 900
SETTLE = 1.5  # seconds after the load event before the screenshot
TOLERANCE = 8  # per channel


# ---------------------------------------------------------------- server
def serve(root, log):
    logf = open(log, "a", buffering=1)

    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *a, **k):
            super().__init__(*a, directory=root, **k)

        def log_message(self, fmt, *args):
            logf.write("%s %s\n" % (time.strftime("%H:%M:%S"), fmt % args))

        def end_headers(self):
            self.send_header("Cache-Control", "max-age=3600")
            super().end_headers()

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True
        request_queue_size = 64

    srv = Server(("127.0.0.1", 0), Handler)
    print(srv.server_address[1], flush=True)
    srv.serve_forever()


# ---------------------------------------------------------------- DevTools
class Cdp:
    """One websocket to one DevTools target; only what the benchmark needs."""

    def __init__(self, ws_url):
        assert ws_url.startswith("ws://127.0.0.1:")
        hostport, path = ws_url[5:].split("/", 1)
        host, port = hostport.split(":")
        self.sock = socket.create_connection((host, int(port)), timeout=120)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /{path} HTTP/1.1\r\nHost: {hostport}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise IOError("websocket handshake failed")
            head += chunk
        head, rest = head.split(b"\r\n\r\n", 1)
        # A growing buffer: a reply of tens of megabytes comes in a thousand pieces.
        self.buf = bytearray(rest)
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise IOError("websocket refused: " + head.decode(errors="replace"))
        self.next_id = 0
        self.events = []

    def _read(self, n):
        while len(self.buf) < n:
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                raise IOError("websocket closed")
            self.buf += chunk
        out = bytes(self.buf[:n])
        del self.buf[:n]
        return out

    def _frame(self):
        b0, b1 = self._read(2)
        n = b1 & 0x7F
        if n == 126:
            n = struct.unpack(">H", self._read(2))[0]
        elif n == 127:
            n = struct.unpack(">Q", self._read(8))[0]
        mask = self._read(4) if b1 & 0x80 else None
        data = self._read(n)
        if mask:
            data = bytes(c ^ mask[i % 4] for i, c in enumerate(data))
        return b0 & 0x80, b0 & 0x0F, data

    def _message(self):
        parts = []
        while True:
            fin, op, data = self._frame()
            if op == 8:
                raise IOError("websocket closed by the browser")
            if op == 9:  # ping
                self._send(data, 0xA)
                continue
            if op == 0xA:
                continue
            parts.append(data)
            if fin:
                return json.loads(b"".join(parts))

    def _send(self, payload, op=1):
        mask = os.urandom(4)
        n = len(payload)
        head = bytes([0x80 | op])
        if n < 126:
            head += bytes([0x80 | n])
        elif n < 65536:
            head += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            head += bytes([0x80 | 127]) + struct.pack(">Q", n)
        self.sock.sendall(head + mask + bytes(c ^ mask[i % 4] for i, c in enumerate(payload)))

    def call(self, method, **params):
        self.next_id += 1
        my = self.next_id
        self._send(json.dumps({"id": my, "method": method, "params": params}).encode())
        while True:
            msg = self._message()
            if msg.get("id") == my:
                if "error" in msg:
                    raise IOError(f"{method}: {msg['error']}")
                return msg.get("result", {})
            if "method" in msg:
                self.events.append(msg)

    def wait_event(self, name, timeout):
        end = time.time() + timeout
        while True:
            for i, e in enumerate(self.events):
                if e["method"] == name:
                    del self.events[i]
                    return True
            if time.time() > end:
                return False
            self.sock.settimeout(max(0.1, end - time.time()))
            try:
                self.events.append(self._message())
            except socket.timeout:
                return False
            finally:
                self.sock.settimeout(120)

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


def http_json(cport, path, method="GET"):
    req = urllib.request.Request(f"http://127.0.0.1:{cport}{path}", method=method)
    with urllib.request.urlopen(req, timeout=60) as r:
        return json.loads(r.read())


def open_and_shoot(cport, url, png, inside=None):
    """A new tab on URL, loaded in the fixed viewport, screenshot into PNG. Returns the target
    and, when INSIDE is given, the addresses the page asked for that start with none of INSIDE's
    comma-separated prefixes."""
    t = http_json(cport, "/json/new?about:blank", "PUT")
    c = Cdp(t["webSocketDebuggerUrl"])
    c.call("Page.enable")
    if inside:
        c.call("Network.enable")
    c.call("Emulation.setDeviceMetricsOverride", width=WIDTH, height=HEIGHT,
           deviceScaleFactor=1, mobile=False)
    c.call("Page.navigate", url=url)
    loaded = c.wait_event("Page.loadEventFired", 60)
    time.sleep(SETTLE)
    shot = c.call("Page.captureScreenshot", format="png")
    with open(png, "wb") as f:
        f.write(base64.b64decode(shot["data"]))
    outside = []
    for e in c.events:
        if e["method"] == "Network.requestWillBeSent":
            u = e["params"]["request"]["url"]
            if inside and not u.startswith(("data:", "blob:", "about:", "cid:") + tuple(inside.split(","))):
                outside.append(u)
    c.close()
    if not loaded:
        print(f"no load event within 60 s: {url}", file=sys.stderr)
    return t, outside


def read_list(path):
    return [line.split() for line in open(path) if line.strip()]


def live(cport, lst, out):
    os.makedirs(out, exist_ok=True)
    targets = []
    for nn, url in read_list(lst):
        t, _ = open_and_shoot(cport, url, f"{out}/{nn}.png")
        targets.append({"nn": nn, "url": url, "id": t["id"], "ws": t["webSocketDebuggerUrl"]})
        print(f"live {nn} {url}", file=sys.stderr)
    json.dump(targets, open(f"{out}/targets.json", "w"), indent=1)
    # Only the corpus' pages stay open: the blank start page would be saved too.
    for t in http_json(cport, "/json/list"):
        if t["type"] == "page" and t["url"] == "about:blank":
            urllib.request.urlopen(f"http://127.0.0.1:{cport}/json/close/{t['id']}", timeout=60).read()


def mhtml(cport, out, dest):
    os.makedirs(dest, exist_ok=True)
    for t in json.load(open(f"{out}/targets.json")):
        c = Cdp(t["ws"])
        data = c.call("Page.captureSnapshot", format="mhtml")["data"]
        c.close()
        with open(f"{dest}/{t['nn']}.mhtml", "w", encoding="utf-8", newline="") as f:
            f.write(data)


def shoot(cport, lst, out, inside):
    """Also writes OUT/outside.txt: per page, what it loaded from outside the saved copies
    (INSIDE, a file: address prefix): other files of this machine or the network, now gone."""
    os.makedirs(out, exist_ok=True)
    log = open(f"{out}/outside.txt", "w")
    for nn, url in read_list(lst):
        try:
            t, outside = open_and_shoot(cport, url, f"{out}/{nn}.png", inside)
            for u in outside:
                log.write(f"{nn} {u}\n")
            urllib.request.urlopen(f"http://127.0.0.1:{cport}/json/close/{t['id']}", timeout=60).read()
        except Exception as e:  # a page that fails counts as 0 % below
            print(f"shoot {nn} {url}: {e}", file=sys.stderr)


# ---------------------------------------------------------------- comparison
def compare(live_dir, shots, diffs):
    from PIL import Image, ImageChops
    os.makedirs(diffs, exist_ok=True)
    for name in sorted(os.listdir(live_dir)):
        if not name.endswith(".png"):
            continue
        nn = name[:-4]
        a = Image.open(f"{live_dir}/{name}").convert("RGB")
        try:
            b = Image.open(f"{shots}/{name}").convert("RGB")
        except OSError:
            print(nn, "0.0")
            continue
        if b.size != a.size:
            b = b.crop((0, 0) + a.size)
        # A pixel matches when no channel differs by more than TOLERANCE.
        d = ImageChops.difference(a, b)
        r, g, bl = d.split()
        worst = ImageChops.lighter(ImageChops.lighter(r, g), bl)
        bad = worst.point(lambda v: 255 if v > TOLERANCE else 0)
        hist = bad.histogram()
        total = a.size[0] * a.size[1]
        print(nn, f"{100.0 * (total - hist[255]) / total:.3f}")
        if hist[255]:
            # The live page faded, the differing pixels in red.
            faded = Image.blend(a, Image.new("RGB", a.size, "white"), 0.7)
            faded.paste(Image.new("RGB", a.size, (255, 0, 0)), mask=bad)
            faded.save(f"{diffs}/{nn}.png")


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    {"serve": serve, "live": live, "mhtml": mhtml, "shoot": shoot, "compare": compare}[cmd](*args)
