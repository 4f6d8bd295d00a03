#!/usr/bin/env python3
"""Update server for Tindra's start-up update, for tests and local use.

Serves the files of one folder (--root) under the URL path
    /download/자동업데이트_v1/<file name>
whether the client sends the Korean folder name as raw CP949 bytes (what the
program's ANSI WinINet calls send on a Korean system), as raw UTF-8, or
percent-encoded in UTF-8 or CP949. Only bare file names of the folder are served;
anything else gets a 404 error page.

It binds 127.0.0.1 only. With --port 0 it picks a free port. Either way the
first line on standard output is the port number (flushed at once). Every
request line is appended to the log file (--log) with its raw bytes escaped
(\\xNN for bytes outside printable ASCII), followed by " | User-Agent: ..." .
SIGTERM or SIGINT stops it.

Misbehaviour on request, per file name (the name as served, "*" for every file):
  --status NAME=CODE   answer with that HTTP status and a small HTML error page
  --hang NAME          read the request and never answer (until the server stops)
  --cut NAME=BYTES     announce the full Content-Length, send only BYTES bytes of
                       the body and close the connection
  --drip NAME=SECONDS  announce the full Content-Length and send the body one byte
                       every SECONDS
  --drip-head NAME=SECONDS
                       send the status line and the headers one byte every SECONDS,
                       then the body
  --endless NAME       answer 200 without a Content-Length and send zeros for ever
  --redirect NAME=URL  answer 302 Found with Location: URL
The same can be changed while the server runs with a JSON control file
(--control), read again on every request when it exists:
  {"status": {"Vantorel_lastver.txt": 404}, "hang": ["Vantorel.exe"],
   "cut": {"Pellmora.exe": 1000}, "drip": {"Tindra.exe": 2}, "drip_head": {"Tindra.exe": 2},
   "endless": ["Tindra.exe"],
   "redirect": {"Tindra.exe": "http://127.0.0.1:8080/elsewhere/Tindra.exe"}}
Entries of the control file take the place of the command-line ones.
"""

import argparse
import http.server
import json
import os
import re
import signal
import sys
import threading
import urllib.parse

FOLDER = "자동업데이트_v1"
PREFIX = "/download/" + FOLDER + "/"
ERROR_PAGE = ("<html><head><title>{code} {reason}</title></head>"
              "<body><h1>{code} {reason}</h1></body></html>\r\n")


def escape_bytes(raw):
    """Printable ASCII as is, every other byte as \\xNN."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and b != 0x5C else "\\x%02x" % b for b in raw)


def decode_path(raw):
    """The request path as text, from its raw bytes (query string dropped)."""
    raw = raw.split(b"?", 1)[0]
    if b"%" in raw:
        raw = urllib.parse.unquote_to_bytes(raw)
    for encoding in ("utf-8", "cp949"):
        try:
            return raw.decode(encoding)
        except UnicodeDecodeError:
            pass
    return None


def served_name(path):
    """The bare file name under the update folder, or None."""
    if path is None or not path.startswith(PREFIX):
        return None
    name = path[len(PREFIX):]
    if not name or "/" in name or "\\" in name or ".." in name or "\0" in name:
        return None
    return name


class Behaviour:
    """What to do for each file name: command-line settings, overridden by the control file."""

    def __init__(self, args):
        self.settings = {"status": dict(args.status), "hang": set(args.hang),
                         "cut": dict(args.cut), "drip": dict(args.drip),
                         "drip_head": dict(args.drip_head),
                         "endless": set(args.endless), "redirect": dict(args.redirect)}
        self.control = args.control

    def current(self):
        """The settings: tables of name -> number for status, cut, drip and drip_head,
        sets of names for hang and endless."""
        settings = {k: v.copy() for k, v in self.settings.items()}
        if self.control and os.path.exists(self.control):
            try:
                with open(self.control, encoding="utf-8") as f:
                    data = json.load(f)
                for key in ("status", "cut", "drip", "drip_head"):
                    settings[key] = {k: float(v) if key.startswith("drip") else int(v)
                                     for k, v in data.get(key, {}).items()}
                for key in ("hang", "endless"):
                    settings[key] = set(data.get(key, []))
                settings["redirect"] = {k: str(v) for k, v in data.get("redirect", {}).items()}
            except (OSError, ValueError, AttributeError, TypeError) as e:
                print("update_server: bad control file: %s" % e, file=sys.stderr, flush=True)
        return settings


def lookup(table, name):
    if name in table:
        return table[name]
    return table.get("*")


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "TindraUpdate/1.0"
    protocol_version = "HTTP/1.0"

    def log_message(self, fmt, *args):  # quiet on stderr; the log file has the requests
        pass

    def parse_request(self):
        # The request line is split at whitespace after a Latin-1 decoding, where the
        # bytes 0x85 and 0xA0 (common in CP949 and UTF-8 text) count as whitespace:
        # raw non-ASCII bytes are percent-encoded first and decoded again with the path.
        self.original_requestline = self.raw_requestline
        self.raw_requestline = re.sub(rb"[\x80-\xff]", lambda m: b"%%%02X" % m[0][0],
                                      self.raw_requestline)
        return super().parse_request()

    def log_request_line(self):
        raw = getattr(self, "original_requestline", self.raw_requestline).rstrip(b"\r\n")
        agent = self.headers.get("User-Agent", "") if self.headers else ""
        line = "%s | User-Agent: %s\n" % (escape_bytes(raw), agent)
        with self.server.log_lock:
            if self.server.log_path:
                with open(self.server.log_path, "a", encoding="utf-8") as f:
                    f.write(line)

    def send_page(self, code, headers=()):
        """A small HTML page with that status, and the given extra headers."""
        reason = http.server.BaseHTTPRequestHandler.responses.get(code, ("Error",))[0]
        body = ERROR_PAGE.format(code=code, reason=reason).encode("ascii")
        self.send_response(code, reason)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_GET(self):
        self.log_request_line()
        name = served_name(decode_path(self.path.encode("latin-1", "replace")))
        settings = self.server.behaviour.current()
        status, hang, cut = settings["status"], settings["hang"], settings["cut"]
        if name is not None and (name in hang or "*" in hang):
            self.server.stopping.wait(600)
            self.close_connection = True
            return
        target = lookup(settings["redirect"], name) if name is not None else None
        if target is not None:
            self.send_page(302, [("Location", target)])
            return
        code = lookup(status, name) if name is not None else None
        if code is not None:
            self.send_page(code)
            return
        path = os.path.join(self.server.root, name) if name is not None else None
        if path is None or not os.path.isfile(path):
            self.send_page(404)
            return
        if name in settings["endless"] or "*" in settings["endless"]:
            self.send_endless()
            return
        with open(path, "rb") as f:
            data = f.read()
        head_interval = lookup(settings["drip_head"], name)
        if head_interval is not None:
            self.close_connection = True
            head = ("HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
                    "Content-Length: %d\r\nConnection: close\r\n\r\n" % len(data)).encode("ascii")
            if not self.drip_bytes(head, head_interval):
                return
            if self.command != "HEAD":
                self.wfile.write(data)
            return
        self.send_response(200)
        self.send_header("Content-Type",
                         "text/plain" if name.endswith(".txt") else "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        limit = lookup(cut, name)
        if limit is not None and limit < len(data):
            self.wfile.write(data[:max(0, limit)])
            self.wfile.flush()
            self.close_connection = True
            return
        interval = lookup(settings["drip"], name)
        if interval is not None:
            self.close_connection = True
            self.drip_bytes(data, interval)
            return
        self.wfile.write(data)

    def drip_bytes(self, data, interval):
        """Sends `data` one byte every `interval` seconds; False when the server stops
        or the client has gone meanwhile."""
        for i in range(len(data)):
            if self.server.stopping.wait(interval):
                return False
            try:
                self.wfile.write(data[i:i + 1])
                self.wfile.flush()
            except OSError:
                return False
        return True

    def send_endless(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.command == "HEAD":
            return
        chunk = bytes(64 * 1024)
        while not self.server.stopping.is_set():
            self.wfile.write(chunk)

    do_HEAD = do_GET


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False


def name_value(text):
    name, sep, value = text.rpartition("=")
    if not sep or not name:
        raise argparse.ArgumentTypeError("expected NAME=NUMBER, got %r" % text)
    try:
        return name, int(value)
    except ValueError:
        raise argparse.ArgumentTypeError("expected NAME=NUMBER, got %r" % text)


def name_text(text):
    name, sep, value = text.partition("=")
    if not sep or not name or not value:
        raise argparse.ArgumentTypeError("expected NAME=URL, got %r" % text)
    return name, value


def main(argv=None):
    parser = argparse.ArgumentParser(
        description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True, help="folder whose files are served")
    parser.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: a free one)")
    parser.add_argument("--log", help="file that receives one line per request")
    parser.add_argument("--control", help="JSON control file, read on every request")
    parser.add_argument("--status", type=name_value, action="append", default=[],
                        metavar="NAME=CODE")
    parser.add_argument("--hang", action="append", default=[], metavar="NAME")
    parser.add_argument("--cut", type=name_value, action="append", default=[],
                        metavar="NAME=BYTES")
    parser.add_argument("--drip", type=name_value, action="append", default=[],
                        metavar="NAME=SECONDS")
    parser.add_argument("--drip-head", type=name_value, action="append", default=[],
                        metavar="NAME=SECONDS")
    parser.add_argument("--endless", action="append", default=[], metavar="NAME")
    parser.add_argument("--redirect", type=name_text, action="append", default=[],
                        metavar="NAME=URL")
    args = parser.parse_args(argv)
    if not os.path.isdir(args.root):
        parser.error("--root %s is not a folder" % args.root)

    server = Server(("127.0.0.1", args.port), Handler)
    server.root = os.path.abspath(args.root)
    server.log_path = args.log
    server.log_lock = threading.Lock()
    server.behaviour = Behaviour(args)
    server.stopping = threading.Event()

    def stop(signum, frame):
        server.stopping.set()
        raise SystemExit(0)

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except SystemExit:
        pass
    finally:
        server.stopping.set()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
