#!/usr/bin/env python3
"""Scripted HTTP/1.1 server on 127.0.0.1 for the HTTP client's tests.

Writes the port it listens on to the file named by --port-file (created whole by one
rename, so a reader never sees a partial number). Every reply closes
its connection. The process ends on GET /quit or after IDLE_EXIT_S without a connection,
(5 s with --tls), so a test that cannot wait for it (a Windows test under wine) leaves nothing behind.

  /echo               200, the body is the request exactly as it arrived (head and body)
  /bytes?n=N&status=S status S (200), a body of N bytes "0123456789" repeated
  /redirect/N?code=C  C (302) to /redirect/N-1 while N > 0, then as /echo
  /goto?code=C&to=U   C (302) with "Location: U", U as given
  /slow?ms=M          reads the request, waits M ms, then 200 "late"
  /short-body         200 with Content-Length 100, 10 bytes, then the connection closes
  /no-read            reads the head only and holds the connection, reading nothing more
  /dead-port          200, a port on 127.0.0.1 that was just bound and closed again
  /quit               200, then the process ends

--tls DIR makes a self-signed certificate for 127.0.0.1 in DIR with openssl and serves
every route over TLS.
"""

import argparse
import os
import re
import socket
import ssl
import subprocess
import threading
import time
from urllib.parse import parse_qs, urlsplit

IDLE_EXIT_S = 60
# Nothing can ask a TLS server with an untrusted certificate to quit.
TLS_IDLE_EXIT_S = 5
MAX_HEAD_BYTES = 64 * 1024
last_request = time.monotonic()


def read_request(conn):
    """Returns (method, target, headers, raw bytes) once the whole request has arrived."""
    # A bytearray: adding to bytes copies the whole request on every piece, which made
    # the first 3 MiB request to a fresh server take most of a second.
    raw = bytearray()
    while b"\r\n\r\n" not in raw:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        raw += chunk
        if len(raw) > MAX_HEAD_BYTES:
            return None
    head_end = raw.index(b"\r\n\r\n")
    head = bytes(raw[:head_end])
    body_length = len(raw) - head_end - 4
    lines = head.decode("latin-1").split("\r\n")
    method, target, _ = lines[0].split(" ", 2)
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers[name.strip().lower()] = value.strip()
    if urlsplit(target).path == "/no-read":
        return method, target, headers, bytes(raw)
    if "content-length" in headers:
        want = int(headers["content-length"])
        while body_length < want:
            chunk = conn.recv(65536)
            if not chunk:
                return None
            body_length += len(chunk)
            raw += chunk
    elif headers.get("transfer-encoding", "").lower() == "chunked":
        while not raw.endswith(b"0\r\n\r\n"):
            chunk = conn.recv(65536)
            if not chunk:
                return None
            raw += chunk
    return method, target, headers, bytes(raw)


def reply(conn, status, body, extra=()):
    head = [f"HTTP/1.1 {status} Scripted", f"Content-Length: {len(body)}", "Connection: close"]
    head.extend(extra)
    conn.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)


def serve(conn):
    global last_request
    with conn:
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            request = read_request(conn)
        except (OSError, ValueError):
            return
        if request is None:
            return
        last_request = time.monotonic()
        _, target, _, raw = request
        url = urlsplit(target)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        path = url.path
        try:
            if path == "/echo":
                reply(conn, 200, raw)
            elif path == "/bytes":
                n = int(query.get("n", "0"))
                body = (b"0123456789" * (n // 10 + 1))[:n]
                reply(conn, int(query.get("status", "200")), body)
            elif m := re.fullmatch(r"/redirect/(\d+)", path):
                n = int(m.group(1))
                code = int(query.get("code", "302"))
                if n > 0:
                    location = f"/redirect/{n - 1}" + (f"?code={code}" if code != 302 else "")
                    reply(conn, code, b"", [f"Location: {location}"])
                else:
                    reply(conn, 200, raw)
            elif path == "/goto":
                reply(conn, int(query.get("code", "302")), b"", [f"Location: {query.get('to', '')}"])
            elif path == "/slow":
                time.sleep(int(query.get("ms", "0")) / 1000)
                reply(conn, 200, b"late")
            elif path == "/short-body":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n0123456789")
            elif path == "/no-read":
                time.sleep(30)
            elif path == "/dead-port":
                probe = socket.socket()
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
                probe.close()
                reply(conn, 200, str(port).encode())
            elif path == "/quit":
                reply(conn, 200, b"bye")
                os._exit(0)
            else:
                reply(conn, 404, b"no such route")
        except OSError:
            pass


def make_tls_context(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                    "-keyout", key, "-out", cert],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def watchdog(limit):
    while time.monotonic() - last_request < limit:
        time.sleep(1)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--tls")
    args = parser.parse_args()
    # A detached child keeps the test's output streams open (and CTest waiting) unless it
    # lets go of them; its own messages go to a file beside the port file.
    log = os.open(args.port_file + ".log", os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    null = os.open(os.devnull, os.O_RDONLY)
    os.dup2(null, 0)
    os.dup2(log, 1)
    os.dup2(log, 2)
    tls = make_tls_context(args.tls) if args.tls else None
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(listener.getsockname()[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    limit = TLS_IDLE_EXIT_S if tls else IDLE_EXIT_S
    global last_request
    # Idle from now: making the certificate may have taken seconds on a busy machine.
    last_request = time.monotonic()
    threading.Thread(target=watchdog, args=(limit,), daemon=True).start()
    while True:
        conn, _ = listener.accept()
        # A connection counts as a request: a refused handshake never gets to serve().
        last_request = time.monotonic()
        if tls is not None:
            try:
                conn.settimeout(10)
                conn = tls.wrap_socket(conn, server_side=True)
                conn.settimeout(None)
            except (OSError, ssl.SSLError):
                conn.close()
                continue
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


if __name__ == "__main__":
    main()
