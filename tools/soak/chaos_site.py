#!/usr/bin/env python3
"""The chaos wallpaper site of the soak: a scripted HTTP server that, for
each request, either behaves well or misbehaves in one of the ways a real
site or network does.

    chaos_site.py --seed S --pool DIR --record FILE [--chaos F]

It listens on two loopback ports (the first line on standard output is
"ports A B"): number N's page is /wallpapers/get/id/N/resolution/1024x768 on
A, and it names N's picture, /images/N.jpg on A or on B. A redirect sends the
same request to the other port, or to /via/PATH on the same one.

What each request meets comes from the seed, the number, what is asked for
(page or picture) and how often it was asked for before, so the same seed
serves the same faults to the same requests however the client's threads
interleave. The pictures are the pool's JPEGs (soak-pictures make); number
N's picture is one of them, chosen by the seed, with a comment segment that
names N, so that every number's bytes are its own.

Every request leaves one JSON line in the record: the port, the kind
("page", "picture" or "other"), the number, the attempt, the fault, and
"whole": true when the complete picture went out with a status and framing
that tell a client it is complete. The soak's checker reads it.
"""

import argparse
import hashlib
import json
import os
import random
import re
import select
import socket
import struct
import sys
import threading
import time
from email.utils import formatdate

HOST = "127.0.0.1"
MARKER = b'<img class="wallpaper" src="'
PAGE_PATH = re.compile(rb"^(?:/via)*/wallpapers/get/id/(-?\d+)/resolution/1024x768$")
PICTURE_PATH = re.compile(rb"^(?:/via)*/images/(-?\d+)\.jpg$")
# A request head larger than this is no request of the program's.
MAX_REQUEST_HEAD = 256 * 1024
# Longer than the program's page bound on a header line (64 KiB) and
# libcurl's on a whole header (100 KiB).
OVERSIZED_HEADER = 110 * 1024
# Longer than the program's page time-out and its pictures' low-speed time
# (30 s each): a stall that only a time-out ends.
LONG_STALL = 40.0
# An endless picture goes on at about this rate until the client gives up
# (at its size bound) or this many bytes have gone.
ENDLESS_CHUNK = 64 * 1024
ENDLESS_PAUSE = 0.004
ENDLESS_LIMIT = 512 * 1024 * 1024

# Relative weights; "well" is a correct response. Faults that cost a
# time-out (stall-long) or a lot of bytes (endless, big-page) are rare, and
# so are those that end the program's run with an error box whenever they
# reach it (a picture that is no JPEG or is cut where nothing tells it), so
# that most runs last until a kill ends them.
PAGE_FAULTS = {
    "well": 82.0,
    "big-page": 0.5,
    "refused": 1.0,
    "reset": 1.5,
    "reset-mid-body": 1.0,
    "stall": 1.5,
    "stall-long": 0.1,
    "drip": 1.5,
    "cut-header": 1.5,
    "cut-body-length": 1.5,
    "cut-body-close": 0.6,
    "404": 0.8,
    "429": 1.2,
    "500": 0.8,
    "503": 1.2,
    "redirect": 2.0,
    "oversized-header": 0.2,
    "no-marker": 1.0,
}
PICTURE_FAULTS = {
    "well": 82.0,
    "refused": 0.8,
    "reset": 1.2,
    "reset-mid-body": 1.2,
    "stall": 1.2,
    "stall-long": 0.1,
    "drip": 1.5,
    "cut-header": 1.0,
    "cut-body-length": 1.5,
    "cut-body-close": 0.3,
    "404": 0.3,
    "429": 1.0,
    "500": 0.7,
    "503": 1.0,
    "redirect": 2.0,
    "oversized-header": 0.2,
    "html": 0.3,
    "endless": 0.15,
}
REASONS = {
    200: "OK", 301: "Moved Permanently", 302: "Found", 307: "Temporary Redirect",
    404: "Not Found", 429: "Too Many Requests", 500: "Internal Server Error",
    503: "Service Unavailable",
}


def _digest(*parts):
    return hashlib.sha256("/".join(str(p) for p in parts).encode()).digest()


class Pictures:
    """The pool and which picture each number gets."""

    def __init__(self, pool_dir, seed):
        self.seed = seed
        names = sorted(n for n in os.listdir(pool_dir) if n.endswith(".jpg"))
        if not names:
            raise SystemExit(f"chaos_site: no pictures in {pool_dir}")
        self.names = names
        self.files = []
        for name in names:
            with open(os.path.join(pool_dir, name), "rb") as f:
                self.files.append(f.read())

    def index(self, number):
        # The pool runs from small to large; most numbers get a small one.
        r = int.from_bytes(_digest(self.seed, "picture", number)[:4], "big") / 2**32
        return min(len(self.files) - 1, int(len(self.files) * r**4))

    def progressive(self, number):
        return "progressive" in self.names[self.index(number)]

    def canonical(self, number):
        """Number N's picture, byte for byte: the pool's JPEG with a comment
        segment naming N right after its start marker."""
        data = self.files[self.index(number)]
        text = b"wallpaper %d" % number
        return data[:2] + b"\xff\xfe" + struct.pack(">H", len(text) + 2) + text + data[2:]


def choose_fault(seed, kind, number, attempt, table, chaos):
    rnd = random.Random(_digest(seed, kind, number, attempt))
    names = list(table)
    weights = [table[n] if n == "well" else table[n] * chaos for n in names]
    return rnd.choices(names, weights)[0], rnd


class Listener:
    """One port. A "refused" fault takes it down for a moment: its own accept
    thread closes the socket (so no other thread ever uses a closed one) and
    binds the same port again when the moment is over."""

    def __init__(self, site):
        self.site = site
        self.sock = self._bind(0)
        self.port = self.sock.getsockname()[1]
        self.down_until = 0.0
        self.lock = threading.Lock()
        threading.Thread(target=self._accept_loop, daemon=True).start()

    @staticmethod
    def _bind(port):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        sock.bind((HOST, port))
        sock.listen(64)
        sock.settimeout(0.05)
        return sock

    def refuse(self, seconds):
        with self.lock:
            self.down_until = max(self.down_until, time.monotonic() + seconds)

    def _accept_loop(self):
        while True:
            with self.lock:
                down = time.monotonic() < self.down_until
            if down:
                if self.sock is not None:
                    self.sock.close()
                    self.sock = None
                time.sleep(0.02)
                continue
            if self.sock is None:
                try:
                    self.sock = self._bind(self.port)
                except OSError:
                    time.sleep(0.05)
                    continue
            try:
                conn, _ = self.sock.accept()
            except (socket.timeout, BlockingIOError):
                continue
            except OSError:
                continue
            conn.settimeout(None)
            threading.Thread(target=self.site.serve, args=(conn, self), daemon=True).start()


class Record:
    def __init__(self, path):
        self.file = open(path, "a", buffering=1)
        self.lock = threading.Lock()

    def write(self, **entry):
        entry["t"] = round(time.time(), 3)
        line = json.dumps(entry, separators=(",", ":")) + "\n"
        with self.lock:
            self.file.write(line)
            self.file.flush()


class Cut(Exception):
    """The client went away while we sent."""


def _send(conn, data):
    try:
        conn.sendall(data)
    except OSError as e:
        raise Cut() from e


def _reset(conn):
    try:
        conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    conn.close()


def _wait_or_gone(conn, seconds):
    """Sleeps up to `seconds`; returns early, True, when the client closed."""
    end = time.monotonic() + seconds
    while True:
        left = end - time.monotonic()
        if left <= 0:
            return False
        readable, _, _ = select.select([conn], [], [], min(left, 1.0))
        if readable:
            try:
                if not conn.recv(4096, socket.MSG_PEEK):
                    return True
            except OSError:
                return True
            # Another request pipelined behind: not ours to read now.
            time.sleep(min(left, 0.05))


class Site:
    def __init__(self, seed, pictures, record, chaos):
        self.seed = seed
        self.pictures = pictures
        self.record = record
        self.chaos = chaos
        self.attempts = {}
        self.lock = threading.Lock()
        self.listeners = [Listener(self), Listener(self)]

    def _attempt(self, kind, number):
        with self.lock:
            n = self.attempts.get((kind, number), 0)
            self.attempts[(kind, number)] = n + 1
            return n

    def _other(self, listener):
        return self.listeners[1] if listener is self.listeners[0] else self.listeners[0]

    def picture_url(self, number):
        port = self.listeners[_digest(self.seed, "port", number)[0] & 1].port
        return f"http://{HOST}:{port}/images/{number}.jpg"

    def page(self, number, marker=True):
        url = self.picture_url(number).encode()
        tag = MARKER + url + b'" alt="Wallpaper %d">' % number if marker else b""
        return (b"<html>\r\n<head><title>Wallpaper %d</title></head>\r\n<body>\r\n"
                b"<p>Wallpaper %d, 1024x768</p>\r\n%s\r\n</body>\r\n</html>\r\n"
                % (number, number, tag))

    # -- the connection -------------------------------------------------

    def serve(self, conn, listener):
        buffer = b""
        try:
            while True:
                while b"\r\n\r\n" not in buffer:
                    if len(buffer) > MAX_REQUEST_HEAD:
                        return
                    chunk = conn.recv(65536)
                    if not chunk:
                        return
                    buffer += chunk
                head, buffer = buffer.split(b"\r\n\r\n", 1)
                lines = head.split(b"\r\n")
                parts = lines[0].split(b" ")
                if len(parts) != 3:
                    return
                path, version = parts[1], parts[2]
                headers = {}
                for line in lines[1:]:
                    name, _, value = line.partition(b":")
                    headers[name.strip().lower()] = value.strip().lower()
                keep = version == b"HTTP/1.1" and headers.get(b"connection") != b"close"
                if not self.respond(conn, listener, path, keep):
                    return
        except (OSError, Cut):
            pass
        finally:
            try:
                conn.close()
            except OSError:
                pass

    def respond(self, conn, listener, path, keep):
        """Answers one request; False when the connection is to end."""
        page = PAGE_PATH.match(path)
        picture = PICTURE_PATH.match(path)
        if page:
            kind, number = "page", int(page.group(1))
            table = PAGE_FAULTS
        elif picture:
            kind, number = "picture", int(picture.group(1))
            table = PICTURE_FAULTS
        else:
            self.record.write(port=listener.port, kind="other", path=path.decode("latin-1"),
                              fault="404", whole=False)
            return self._status(conn, 404, keep)
        attempt = self._attempt(kind, number)
        fault, rnd = choose_fault(self.seed, kind, number, attempt, table, self.chaos)
        entry = {"port": listener.port, "kind": kind, "number": number, "attempt": attempt,
                 "fault": fault, "whole": False}
        if kind == "picture":
            body = self.pictures.canonical(number)
            entry["progressive"] = self.pictures.progressive(number)
        else:
            body = self.page(number, marker=fault != "no-marker")
            if fault == "big-page":
                # Well over a megabyte ahead of the picture tag.
                filler = b"<!-- %s -->\r\n" % (b"x" * 1000)
                body = body.replace(b"<body>\r\n", b"<body>\r\n" + filler * 1500, 1)
        try:
            keep = self._play(conn, listener, path, keep, fault, rnd, body, kind, entry)
        except Cut:
            keep = False
        self.record.write(**entry)
        return keep

    # -- the faults ------------------------------------------------------

    def _head(self, status, headers):
        lines = [b"HTTP/1.1 %d %s" % (status, REASONS[status].encode())]
        lines += [b"%s: %s" % (n.encode(), v.encode()) for n, v in headers]
        return b"\r\n".join(lines) + b"\r\n\r\n"

    def _status(self, conn, status, keep, extra=()):
        body = b"<html><body><h1>%d %s</h1></body></html>\r\n" % (status, REASONS[status].encode())
        headers = [("Content-Type", "text/html"), ("Content-Length", str(len(body)))]
        headers += list(extra)
        if not keep:
            headers.append(("Connection", "close"))
        _send(conn, self._head(status, headers) + body)
        return keep

    def _play(self, conn, listener, path, keep, fault, rnd, body, kind, entry):
        content_type = "image/jpeg" if kind == "picture" else "text/html"
        if fault in ("well", "big-page", "no-marker", "stall", "drip"):
            if fault == "stall":
                if _wait_or_gone(conn, rnd.uniform(1.0, 5.0)):
                    return False
            framing = rnd.choices(["length", "close", "chunked"],
                                  [75, 15, 10] if kind == "picture" else [75, 25, 0])[0]
            entry["framing"] = framing
            headers = [("Content-Type", content_type)]
            if framing == "length":
                headers.append(("Content-Length", str(len(body))))
                payload = body
            elif framing == "chunked":
                headers.append(("Transfer-Encoding", "chunked"))
                payload = b"".join(b"%x\r\n%s\r\n" % (len(body[i:i + 8192]), body[i:i + 8192])
                                   for i in range(0, len(body), 8192)) + b"0\r\n\r\n"
            else:
                keep = False
            if not keep:
                headers.append(("Connection", "close"))
            if framing == "close":
                payload = body
            data = self._head(200, headers) + payload
            if fault == "drip":
                piece, pause = (8, 0.02) if kind == "page" else (1460, 0.01)
                for i in range(0, len(data), piece):
                    _send(conn, data[i:i + piece])
                    time.sleep(pause)
            else:
                _send(conn, data)
            entry["whole"] = kind == "picture"
            return keep
        if fault == "refused":
            listener.refuse(rnd.uniform(0.3, 1.5))
            _reset(conn)
            return False
        if fault == "reset":
            _reset(conn)
            return False
        if fault == "reset-mid-body":
            head = self._head(200, [("Content-Type", content_type),
                                    ("Content-Length", str(len(body)))])
            _send(conn, head + body[:rnd.randrange(1, len(body))])
            _reset(conn)
            return False
        if fault == "stall-long":
            _wait_or_gone(conn, LONG_STALL)
            return False
        if fault == "cut-header":
            head = self._head(200, [("Content-Type", content_type),
                                    ("Content-Length", str(len(body)))])
            _send(conn, head[:rnd.randrange(1, len(head) - 2)])
            return False
        if fault == "cut-body-length":
            head = self._head(200, [("Content-Type", content_type),
                                    ("Content-Length", str(len(body))), ("Connection", "close")])
            _send(conn, head + body[:rnd.randrange(1, len(body))])
            return False
        if fault == "cut-body-close":
            head = self._head(200, [("Content-Type", content_type), ("Connection", "close")])
            _send(conn, head + body[:self._cut_point(rnd, body, kind)])
            return False
        if fault in ("404", "500"):
            return self._status(conn, int(fault), keep)
        if fault in ("429", "503"):
            extra = []
            form = rnd.choice(["none", "seconds", "date"])
            entry["retry_after"] = form
            if form == "seconds":
                extra.append(("Retry-After", str(rnd.randrange(0, 3))))
            elif form == "date":
                extra.append(("Retry-After", formatdate(time.time() + rnd.uniform(1, 3),
                                                        usegmt=True)))
            return self._status(conn, int(fault), keep, extra)
        if fault == "redirect":
            status = rnd.choice([301, 302, 307])
            if rnd.random() < 0.5:
                location = f"http://{HOST}:{self._other(listener).port}{path.decode()}"
                entry["to"] = "other port"
            else:
                location = "/via" + path.decode()
                entry["to"] = "same port"
            return self._status(conn, status, keep, [("Location", location)])
        if fault == "oversized-header":
            head = self._head(200, [("Content-Type", content_type),
                                    ("X-Padding", "p" * OVERSIZED_HEADER),
                                    ("Content-Length", str(len(body))), ("Connection", "close")])
            _send(conn, head + body)
            return False
        if fault == "html":
            page = b"<html><body><p>Sorry, this wallpaper has moved.</p></body></html>\r\n"
            _send(conn, self._head(200, [("Content-Type", "text/html"),
                                         ("Content-Length", str(len(page)))]) + page)
            return keep
        if fault == "endless":
            announced = rnd.random() < 0.3
            entry["announced"] = announced
            headers = [("Content-Type", "image/jpeg"), ("Connection", "close")]
            if announced:
                headers.append(("Content-Length", str(1 << 40)))
            _send(conn, self._head(200, headers) + body[:2])
            filler = bytes(rnd.getrandbits(8) for _ in range(256)) * (ENDLESS_CHUNK // 256)
            sent = 0
            while sent < ENDLESS_LIMIT:
                _send(conn, filler)
                sent += len(filler)
                time.sleep(ENDLESS_PAUSE)
            return False
        raise AssertionError(fault)

    @staticmethod
    def _cut_point(rnd, body, kind):
        """Where a body without a length is cut. Never inside a page's picture
        address before its path: a client cannot tell that address is cut,
        and a cut host or port would send it elsewhere (a name to look up, a
        port of another program); a cut path only asks this site for a
        picture it does not have."""
        cut = rnd.randrange(1, len(body))
        if kind == "page":
            start = body.find(MARKER)
            if start >= 0:
                address = start + len(MARKER)
                path = body.index(b"/", address + len("http://")) + 1
                if address <= cut < path:
                    cut = path
        return cut


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seed", required=True)
    parser.add_argument("--pool", required=True, help="folder of soak-pictures make")
    parser.add_argument("--record", required=True, help="file to append the record to")
    parser.add_argument("--chaos", type=float, default=1.0,
                        help="scales the weight of every fault (0: a well-behaved site)")
    args = parser.parse_args()
    site = Site(args.seed, Pictures(args.pool, args.seed), Record(args.record), args.chaos)
    print("ports %d %d" % (site.listeners[0].port, site.listeners[1].port), flush=True)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
