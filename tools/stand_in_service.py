#!/usr/bin/env python3
"""Stand-in for the remote file-sharing service, for tests on 127.0.0.1.

Started by a test with a work folder of its own:

    stand_in_service.py --dir WORK [--tls-cert CERT --tls-key KEY] [--quiet]
                        [--account USER:PASSWORD] [--lifetime SECONDS] [--port PORT]

It listens on a free loopback port (or on --port, waiting up to BIND_WAIT_S while another
process holds it), prints the port on the first line of standard output (unless --quiet)
and writes it to WORK/port (written once, by rename, so a reader never sees half of it).
When the port cannot be had it writes the reason to WORK/bind_error instead and ends.
Everything else goes through files in WORK, so a test needs no HTTP client to drive it:

- WORK/script.json (optional, read anew on every request): replies scripted per route,
  {"POST /api/desktop/auth": [reply, reply, ...], "GET /api/me": reply, ...}. The n-th
  request to a route since the script last changed gets the n-th reply; the last one
  repeats. A route without a script gets its default reply (DEFAULT_REPLIES).
  A reply is an object:
    "status"    HTTP status (200)
    "json"      any JSON value, sent as application/json
    "text"      a text, sent as UTF-8 text/plain
    "body_b64"  raw body bytes, base64
    "repeat"    the body is sent this many times over (a large body from a short script)
    "headers"   extra or replacing reply headers, {name: value}
    "delay_ms"  wait this long before answering (slow service, time-outs)
    "hold_until_file"  wait before answering until WORK/<this name> exists (a test keeps
                the request open for as long as it needs, then lets the reply go)
    "drop"      true: close the connection without any reply
- WORK/requests.jsonl: one JSON object per request, appended and flushed before the reply
  goes out: "method", "path" (with the raw query), "headers" ([[name, value], ...] as
  received), "body_size", "body_sha256", "body_b64" (left out above RECORD_BODY_LIMIT),
  "chunked" (whether the body came with chunked transfer coding).
  Upload endpoints also read the body the way a script reply asks, before answering:
    "read_block", "read_pause_ms"   read the body this many bytes at a time with this pause
                                    between reads (a slow service, so progress can be seen)
    "body_holds"                    [[bytes, name], ...]: once this many bytes of the body are
                                    read, read no more until WORK/<name> exists (progress that
                                    a test sees at a point it chose)
    "drop_after_body_bytes"         read only this many bytes of the body, record them, and
                                    close the connection without a reply (a drop mid-body)
  and add "multipart" to the record: the body split as a strict form-data server would
  (boundary from Content-Type, each part's headers and bytes; see parse_multipart), and for a
  file part holding a ZIP archive, its entries as Python's zipfile reads them.
- WORK/connections: one line per connection accepted, written before any TLS handshake,
  so a test sees that a client came even when it refused the certificate and sent nothing.
- WORK/stop, or WORK itself disappearing, ends the service; so does --lifetime (default
  MAX_LIFETIME_S; 0 serves until stopped).
- --account USER:PASSWORD: a login with any other user name or password gets
  WRONG_ACCOUNT_REPLY; the right one gets its scripted or default reply (a refused login
  still takes its turn in a scripted list).

New endpoints or request checks go into ENDPOINTS: each maps "METHOD /path" to a function
that takes the request record and may add fields to it before it is written.
"""

import argparse
import base64
import errno
import hashlib
import http.server
import io
import json
import os
import re
import socket
import ssl
import sys
import threading
import time
import urllib.parse
import zipfile

RECORD_BODY_LIMIT = 16 * 1024 * 1024
MAX_LIFETIME_S = 300
# How long a fixed port may stay taken (by another test's service) before giving up.
BIND_WAIT_S = 120
POLL_INTERVAL_S = 0.1
HOLD_POLL_S = 0.01
WRITE_BLOCK = 64 * 1024

DEFAULT_REPLIES = {
    "POST /api/desktop/auth": {"json": {
        "api_key": "stand-in-key", "username": "stand-in", "org_name": "Stand-in Org",
        "admin_name": "Stand-in Admin", "role": "user"}},
    "GET /api/me": {"json": {"username": "stand-in", "quota": {"used": 0, "limit": 1}}},
    "GET /api/check-code": {"json": {"available": True, "message": "", "suggestions": []}},
    "POST /api/upload-video": {"json": {"short_code": "abc123",
                                        "short_url": "https://stand-in.example/abc123"}},
    "POST /api/upload-document": {"json": {"short_code": "abc123",
                                           "short_url": "https://stand-in.example/abc123"}},
}

LOGIN_ROUTE = "POST /api/desktop/auth"
WRONG_ACCOUNT_REPLY = {"status": 401, "json": {"detail": "아이디 또는 비밀번호가 올바르지 않습니다."}}


def accept_multipart(record, body):
    """Upload endpoints: notes the declared content type and splits the form-data body."""
    record["content_type"] = record_header(record, "content-type")
    record["multipart"] = parse_multipart(record["content_type"], body)


def parse_multipart(content_type, body):
    """Splits a multipart/form-data body (RFC 7578, RFC 2046 section 5.1.1) strictly.

    Gives {"boundary", "parts": [part, ...], "complete", "error"?}. Each part has "headers"
    ([[name, value], ...] in order), "name", "filename" and "content_type" (None when
    absent), "size", "sha256", and "value" (the UTF-8 text) for a part without a file name,
    "zip" for a file whose bytes are a ZIP archive. "complete" is false when the body ended
    before the closing boundary; "error" names the first thing a strict server would refuse.
    """
    m = re.fullmatch(r'\s*multipart/form-data\s*;\s*boundary=("?)([^";\s]+)\1\s*', content_type or "", re.I)
    if not m:
        return {"boundary": None, "parts": [], "complete": False, "error": "no form-data boundary"}
    boundary = m.group(2)
    delimiter = b"--" + boundary.encode("ascii")
    out = {"boundary": boundary, "parts": [], "complete": False}
    if not body.startswith(delimiter + b"\r\n"):
        out["error"] = "body does not open with the boundary line"
        return out
    pos = 0
    while True:
        pos += len(delimiter)
        if body[pos:pos + 2] == b"--":
            if body[pos + 2:] != b"\r\n":
                out["error"] = "bytes after the closing boundary"
            else:
                out["complete"] = True
            return out
        if body[pos:pos + 2] != b"\r\n":
            out["error"] = "boundary line not ended by CRLF"
            return out
        pos += 2
        head_end = body.find(b"\r\n\r\n", pos)
        if head_end < 0:
            return out  # the body broke off inside a part's head
        part = {"headers": [], "name": None, "filename": None, "content_type": None}
        for line in body[pos:head_end].split(b"\r\n"):
            name, sep, value = line.decode("utf-8", "replace").partition(":")
            if not sep or not re.fullmatch(r"[!#$%&'*+.^_`|~0-9A-Za-z-]+", name):
                out["error"] = "malformed part header line: " + repr(line)
                return out
            part["headers"].append([name, value.strip()])
            if name.lower() == "content-type":
                part["content_type"] = value.strip()
            elif name.lower() == "content-disposition":
                kind, _, params = value.strip().partition(";")
                if kind.strip().lower() != "form-data":
                    out["error"] = "disposition is not form-data"
                    return out
                for key, text in re.findall(r';\s*([A-Za-z0-9_*-]+)="([^"]*)"', ";" + params):
                    if key.lower() in ("name", "filename"):
                        part[key.lower()] = text
        start = head_end + 4
        end = body.find(b"\r\n" + delimiter, start)
        content = body[start:] if end < 0 else body[start:end]
        part["size"] = len(content)
        part["sha256"] = hashlib.sha256(content).hexdigest()
        if part["filename"] is None:
            part["value"] = content.decode("utf-8", "replace")
        elif end >= 0 and content.startswith(b"PK"):
            part["zip"] = zip_listing(content)
        out["parts"].append(part)
        if end < 0:
            return out  # the body broke off inside this part
        pos = end + 2


def zip_listing(data):
    """Entries of a ZIP archive as Python's zipfile reads them, each with its content's digest."""
    try:
        with zipfile.ZipFile(io.BytesIO(data)) as archive:
            entries = []
            for info in archive.infolist():
                content = archive.read(info)  # checks the CRC-32
                entries.append({"name": info.filename, "size": len(content),
                                "sha256": hashlib.sha256(content).hexdigest(),
                                "method": info.compress_type, "flags": info.flag_bits})
            return {"entries": entries}
    except (zipfile.BadZipFile, OSError, ValueError) as e:
        return {"error": str(e)}


def accept_any(record, body):
    pass


ENDPOINTS = {
    "POST /api/desktop/auth": accept_any,
    "GET /api/me": accept_any,
    "GET /api/check-code": accept_any,
    "POST /api/upload-video": accept_multipart,
    "POST /api/upload-document": accept_multipart,
}


UPLOAD_ROUTES = ("POST /api/upload-video", "POST /api/upload-document")


def record_header(record, name):
    for key, value in record["headers"]:
        if key.lower() == name:
            return value
    return None


class Script:
    """The replies of WORK/script.json, with a per-route count of requests served."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        self.text = None
        self.routes = {}
        self.served = {}

    def next_reply(self, route):
        with self.lock:
            try:
                with open(self.path, "rb") as f:
                    text = f.read()
            except FileNotFoundError:
                text = b""
            if text != self.text:
                self.text = text
                self.routes = json.loads(text) if text.strip() else {}
                self.served = {}
            replies = self.routes.get(route)
            if replies is None:
                return DEFAULT_REPLIES.get(route, {"status": 404, "json": {"detail": "Not Found"}})
            if isinstance(replies, dict):
                return replies
            n = self.served.get(route, 0)
            self.served[route] = n + 1
            return replies[min(n, len(replies) - 1)]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Python sends the head and the body in two writes; without this every reply
    # waits for the peer's delayed ACK.
    disable_nagle_algorithm = True

    def do_GET(self):
        self.serve()

    def do_POST(self):
        self.serve()

    def do_PUT(self):
        self.serve()

    def do_DELETE(self):
        self.serve()

    def log_message(self, format, *args):
        pass

    def read_body(self, reply=None):
        """The body and whether it came chunked; None for the body after a scripted drop."""
        reply = reply or {}
        if "read_block" in reply or "drop_after_body_bytes" in reply or "body_holds" in reply:
            return self.read_body_as_scripted(reply), False
        if "chunked" in (self.headers.get("Transfer-Encoding") or "").lower():
            body = bytearray()
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return bytes(body), True
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length), False

    def read_body_as_scripted(self, reply):
        left = int(self.headers.get("Content-Length") or 0)
        if "drop_after_body_bytes" in reply:
            left = min(left, int(reply["drop_after_body_bytes"]))
        block = int(reply.get("read_block", WRITE_BLOCK))
        pause = reply.get("read_pause_ms", 0) / 1000.0
        holds = sorted((int(at), name) for at, name in reply.get("body_holds", []))
        body = bytearray()
        while left > 0:
            while holds and len(body) >= holds[0][0]:
                self.server.wait_for_file(holds.pop(0)[1])
            want = min(block, left)
            if holds:
                want = min(want, holds[0][0] - len(body))
            piece = self.rfile.read(want)
            if not piece:
                break
            body += piece
            left -= len(piece)
            if pause and left > 0:
                time.sleep(pause)
        return bytes(body)

    def serve(self):
        server = self.server
        route = self.command + " " + urllib.parse.urlsplit(self.path).path
        # Upload endpoints read their body the way the scripted reply says.
        reply = server.script.next_reply(route)
        body, chunked = self.read_body(reply if route in UPLOAD_ROUTES else None)
        if route == LOGIN_ROUTE and not server.account_accepts(body):
            reply = WRONG_ACCOUNT_REPLY
        record = {
            "method": self.command,
            "path": self.path,
            "headers": [[k, v] for k, v in self.headers.raw_items()],
            "body_size": len(body),
            "body_sha256": hashlib.sha256(body).hexdigest(),
            "chunked": chunked,
        }
        if len(body) <= RECORD_BODY_LIMIT:
            record["body_b64"] = base64.b64encode(body).decode("ascii")
            try:
                record["body_text"] = body.decode("utf-8")
            except UnicodeDecodeError:
                pass
        ENDPOINTS.get(route, accept_any)(record, body)
        if "drop_after_body_bytes" in reply:
            record["dropped_mid_body"] = True
        server.write_record(record)

        if reply.get("hold_until_file"):
            server.wait_for_file(reply["hold_until_file"])
        if reply.get("delay_ms"):
            time.sleep(reply["delay_ms"] / 1000.0)
        if reply.get("drop") or "drop_after_body_bytes" in reply:
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        if "json" in reply:
            payload = json.dumps(reply["json"], ensure_ascii=False).encode("utf-8")
            content_type = "application/json"
        elif "text" in reply:
            payload = reply["text"].encode("utf-8")
            content_type = "text/plain; charset=utf-8"
        else:
            payload = base64.b64decode(reply.get("body_b64", ""))
            content_type = "application/octet-stream"
        repeat = int(reply.get("repeat", 1))
        headers = {"Content-Type": content_type,
                   "Content-Length": str(len(payload) * repeat),
                   "Connection": "close"}
        headers.update(reply.get("headers", {}))
        self.send_response_only(int(reply.get("status", 200)))
        for name, value in headers.items():
            self.send_header(name, value)
        self.end_headers()
        try:
            self.write_repeated(payload, repeat)
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass  # the client stopped reading (a capped body); nothing to record
        self.close_connection = True


    def write_repeated(self, payload, repeat):
        if not payload:
            return
        per_block = max(1, WRITE_BLOCK // len(payload))
        block = payload * per_block
        for _ in range(repeat // per_block):
            self.wfile.write(block)
        self.wfile.write(payload * (repeat % per_block))


class StandInServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # What a held body may leave in flight: a receive buffer of a fixed size (the kernel
    # doubles it) instead of one that grows up to tcp_rmem's largest (32 MiB on some
    # machines), so that a hold stops the client a few MiB past it, as tests expect.
    receive_buffer_bytes = 1 << 20

    def server_bind(self):
        # Set before listen: accepted connections take it, and the window scale with it.
        self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, self.receive_buffer_bytes)
        super().server_bind()

    def __init__(self, work, tls_context, account=None, port=0):
        super().__init__(("127.0.0.1", port), Handler)
        self.work = work
        self.account = account
        self.tls_context = tls_context
        self.script = Script(os.path.join(work, "script.json"))
        self.record_lock = threading.Lock()

    def finish_request(self, request, client_address):
        with self.record_lock:
            with open(os.path.join(self.work, "connections"), "a") as f:
                f.write("accepted\n")
        if self.tls_context is not None:
            try:
                request = self.tls_context.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError):
                return  # the client refused the certificate
        super().finish_request(request, client_address)

    def account_accepts(self, body):
        """Without --account every login is accepted; with it, only its user and password."""
        if self.account is None:
            return True
        try:
            sent = json.loads(body)
        except ValueError:
            return False
        return isinstance(sent, dict) and (sent.get("username"), sent.get("password")) == self.account

    def handle_error(self, request, client_address):
        pass  # a client that hangs up early is part of the tests

    def wait_for_file(self, name):
        """Returns once WORK/<name> exists; the service ends anyway when the test stops it."""
        path = os.path.join(self.work, name)
        while not os.path.exists(path):
            time.sleep(HOLD_POLL_S)

    def write_record(self, record):
        line = json.dumps(record, ensure_ascii=False) + "\n"
        with self.record_lock:
            with open(os.path.join(self.work, "requests.jsonl"), "a", encoding="utf-8") as f:
                f.write(line)


def watch_for_stop(server, work, started, lifetime):
    while True:
        time.sleep(POLL_INTERVAL_S)
        if (not os.path.isdir(work) or os.path.exists(os.path.join(work, "stop"))
                or (lifetime > 0 and time.monotonic() - started > lifetime)):
            os._exit(0)


def bind_server(args, tls_context, account):
    """The server on its port; None, with WORK/bind_error written, when the port cannot be had."""
    deadline = time.monotonic() + BIND_WAIT_S
    while True:
        try:
            return StandInServer(args.dir, tls_context, account, args.port)
        except OSError as e:
            # A fixed port that another test's service holds is free again once it ends.
            if (e.errno == errno.EADDRINUSE and args.port and time.monotonic() < deadline
                    and os.path.isdir(args.dir)):
                time.sleep(0.05)
                continue
            try:
                tmp = os.path.join(args.dir, "bind_error.tmp")
                with open(tmp, "w") as f:
                    f.write(f"port {args.port}: {e}")
                os.replace(tmp, os.path.join(args.dir, "bind_error"))
            except OSError:
                pass  # the test has gone
            return None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dir", required=True, help="work folder (script, records, port)")
    parser.add_argument("--tls-cert", help="serve HTTPS with this certificate (PEM)")
    parser.add_argument("--tls-key", help="the certificate's private key (PEM)")
    parser.add_argument("--quiet", action="store_true", help="do not print the port")
    parser.add_argument("--account", metavar="USER:PASSWORD",
                        help="accept only this login (the user name has no colon)")
    parser.add_argument("--lifetime", type=float, default=MAX_LIFETIME_S,
                        help="end after this many seconds; 0 serves until stopped")
    parser.add_argument("--port", type=int, default=0, help="listen on this port (0: a free one)")
    args = parser.parse_args()
    account = tuple(args.account.split(":", 1)) if args.account else None
    if account is not None and len(account) != 2:
        parser.error("--account takes USER:PASSWORD")

    tls_context = None
    if args.tls_cert:
        tls_context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls_context.load_cert_chain(args.tls_cert, args.tls_key)

    server = bind_server(args, tls_context, account)
    if server is None:
        return 1
    port = server.server_address[1]
    tmp = os.path.join(args.dir, "port.tmp")
    with open(tmp, "w") as f:
        f.write(str(port))
    os.replace(tmp, os.path.join(args.dir, "port"))
    if not args.quiet:
        print(port, flush=True)
    # A test starts the service detached with inherited streams: let go of them, so that
    # the test runner's pipes close when the test ends.
    devnull = os.open(os.devnull, os.O_RDWR)
    for fd in (0, 1, 2):
        os.dup2(devnull, fd)

    threading.Thread(target=watch_for_stop, args=(server, args.dir, time.monotonic(), args.lifetime),
                     daemon=True).start()
    server.serve_forever(poll_interval=POLL_INTERVAL_S)


if __name__ == "__main__":
    sys.exit(main())
