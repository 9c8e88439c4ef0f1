#!/usr/bin/env python3
"""Generates a fixture site of K pages with M images each (mixed sizes), scripts, style sheets and
a frameset page, and serves it on 127.0.0.1, logging every request.

    fixture_site.py --root DIR --pages K --images M [--port P] [--log FILE] [--generate-only]
"""
import argparse
import http.server
import os
import random
import socketserver
import struct
import sys
import zlib


def noise_png(rnd, side):
    """A valid side x side RGB picture of noise: browsers decode and keep it like any photo."""
    raw = b"".join(b"\x00" + rnd.randbytes(side * 3) for _ in range(side))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", side, side, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 1))
            + chunk(b"IEND", b""))


def generate(root, pages, images, seed=7):
    rnd = random.Random(seed)
    os.makedirs(os.path.join(root, "img"), exist_ok=True)
    os.makedirs(os.path.join(root, "js"), exist_ok=True)
    os.makedirs(os.path.join(root, "css"), exist_ok=True)
    total = 0
    for p in range(pages):
        tags = []
        for i in range(images):
            # Mostly small pictures, some medium, a few large: about 30 kB on average.
            side = rnd.choice([26] * 5 + [82] * 3 + [200] * 2)
            name = f"img/p{p}_{i}.png"
            data = noise_png(rnd, side)
            with open(os.path.join(root, name), "wb") as f:
                f.write(data)
            total += len(data)
            tags.append(f'<img src="{name}" alt="picture {i}">')
        for kind, ext, body in (("js", "js", "var page = %d;\n" % p), ("css", "css", "body{margin:%dpx}\n" % p)):
            with open(os.path.join(root, kind, f"p{p}.{ext}"), "w") as f:
                f.write(body * 200)
        with open(os.path.join(root, f"page{p}.htm"), "w") as f:
            f.write(f"<!DOCTYPE html><html><head><title>Fixture page {p}</title>"
                    f'<link rel="stylesheet" href="css/p{p}.css"><script src="js/p{p}.js"></script>'
                    f"</head><body><h1>Page {p}</h1><p>{'Some text. ' * 50}</p>"
                    + "\n".join(tags)
                    + f'<a href="mailto:writer{p}@example.org">mail</a></body></html>')
    with open(os.path.join(root, "frames.htm"), "w") as f:
        f.write('<html><head><title>Fixture frames</title></head><frameset cols="50%,50%">'
                '<frame name="left" src="page0.htm"><frame name="right" src="page1.htm">'
                "</frameset></html>")
    return total


class Handler(http.server.SimpleHTTPRequestHandler):
    log_file = None

    def end_headers(self):
        self.send_header("Cache-Control", "max-age=3600")
        super().end_headers()

    def log_message(self, fmt, *args):
        if self.log_file:
            with open(self.log_file, "a") as f:
                f.write("%s %s\n" % (self.command, self.path))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--pages", type=int, default=10)
    ap.add_argument("--images", type=int, default=100)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--log")
    ap.add_argument("--generate-only", action="store_true")
    a = ap.parse_args()
    total = generate(a.root, a.pages, a.images)
    print(f"generated {a.pages} pages x {a.images} images, {total} image bytes", file=sys.stderr)
    if a.generate_only:
        return
    os.chdir(a.root)
    Handler.log_file = a.log
    with socketserver.ThreadingTCPServer(("127.0.0.1", a.port), Handler) as httpd:
        print(httpd.server_address[1], flush=True)
        httpd.serve_forever()


if __name__ == "__main__":
    main()
