#!/usr/bin/env python3
"""Stand-in portal server for orlimo's tests and demo.

Serves the portal pages under /velsa/ on 127.0.0.1 and answers the
notification query /velsa/home/notifyMsg.jsp with replies that a test can
script. Every portal request is logged as one JSON line (to --log and in
memory); control requests under /_control/ are not.

    python3 tools/portal.py --port 0 --log portal.log [--control-port 0]
                            [--tls-cert server.pem --tls-key server.key]

Prints the bound port on the first line of stdout (and the control port on
the second when --control-port is given), then serves until SIGINT/SIGTERM.

With --tls-cert and --tls-key the portal port speaks HTTPS (the control
port, when given, stays plain HTTP); each logged request then says
"tls": true, and a client that gives up during the handshake (it refused
the certificate) is logged as {"tls_error": ...} with no path.

Control interface (JSON in, JSON out; GET with query parameters works too):

    GET  /_control/ping                   -> {"ok": true}
    GET  /_control/log                    -> [request, ...]
    POST /_control/clear                  clear the request log
    POST /_control/reset                  clear log, queues and defaults
    POST /_control/default  {reply}       default reply (optionally "usr_id")
    POST /_control/queue    {reply}       queue a one-shot reply ("count": n
                                          queues n copies; "usr_id" limits it
                                          to that user)
    GET  /_control/state                  defaults and queue lengths

A reply is a JSON object with "kind" and options:

    text      "body" (default "0\\r\\n"), "status" (200)
    has       body "\\r\\nhas\\r\\n"          update   body "\\r\\nupdate\\r\\n"
    socket    body "\\r\\nsocket\\r\\n"
    status    "status" (e.g. 404, 500) and "body"
    silent    accept, read the request, never answer; the socket stays open
              until the server stops or "timeout" seconds (60) pass
    drip      headers, then "body" one byte every "interval" seconds (1.0)
    endless   endless body of short lines ("line", default "0"), until the
              client goes away, the server stops or "timeout" (600 s)
    hugeline  one line of "size" bytes (50 MB) without a line end, made of
              "prefix" then "fill" ("x"), streamed
    reset     close the connection at once with a TCP reset, no answer
    close     close the connection at once (orderly), no answer
    redirect  "status" (302) with Location "location" + the request's own
              path and query (e.g. "https://127.0.0.1:8443")

"body" is text encoded as "encoding" (default "latin-1", which maps code
points 0-255 to the same bytes) or, with "body_hex", exact bytes.
"""

import argparse
import html
import json
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

NOTIFY_PATH = "/velsa/home/notifyMsg.jsp"

CANNED = {
    "has": "\r\nhas\r\n",
    "update": "\r\nupdate\r\n",
    "socket": "\r\nsocket\r\n",
}

KINDS = {"text", "has", "update", "socket", "status", "silent", "drip",
         "endless", "hugeline", "reset", "close", "redirect"}


class BadReply(ValueError):
    pass


def normalise_reply(desc):
    """Checks a reply description and fills in its defaults."""
    if not isinstance(desc, dict):
        raise BadReply("reply must be a JSON object")
    kind = desc.get("kind", "text")
    if kind not in KINDS:
        raise BadReply("unknown reply kind %r" % kind)
    r = dict(desc)
    r["kind"] = kind
    if "body_hex" in r:
        body = bytes.fromhex(r.pop("body_hex"))
    elif "body" in r:
        body = str(r["body"]).encode(r.get("encoding", "latin-1"))
    elif kind in CANNED:
        body = CANNED[kind].encode("ascii")
    elif kind == "status":
        body = ("<html><body>error %s</body></html>\r\n"
                % r.get("status", 500)).encode("ascii")
    else:
        body = b"0\r\n"
    r["body"] = body
    r["status"] = int(r.get("status", {"status": 500, "redirect": 302}.get(kind, 200)))
    r["location"] = str(r.get("location", ""))
    r["timeout"] = float(r.get("timeout", 600 if kind == "endless" else 60))
    r["interval"] = float(r.get("interval", 1.0))
    r["size"] = int(r.get("size", 50 * 1024 * 1024))
    r["fill"] = str(r.get("fill", "x")).encode("latin-1") or b"x"
    r["prefix"] = str(r.get("prefix", "")).encode("latin-1")
    r["line"] = str(r.get("line", "0")).encode("latin-1")
    r.pop("encoding", None)
    if "usr_id" in r and r["usr_id"] is not None:
        r["usr_id"] = str(r["usr_id"])
    return r


def describe(reply):
    """The JSON-safe form of a reply, for the log and the state."""
    out = {k: v for k, v in reply.items() if k != "body"}
    for k in ("fill", "prefix", "line"):
        out[k] = out[k].decode("latin-1")
    out["body"] = reply["body"].decode("latin-1")
    return out


class Portal:
    """The shared state: request log and reply scripts."""

    def __init__(self, log_path=None):
        self.lock = threading.Lock()
        self.log_path = log_path
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None
        self.stopping = threading.Event()
        self.reset()

    def reset(self):
        with self.lock:
            self.requests = []
            self.defaults = {None: normalise_reply({"kind": "text"})}
            self.queues = {}

    def clear_log(self):
        with self.lock:
            self.requests = []

    def record(self, entry):
        line = json.dumps(entry, ensure_ascii=False)
        with self.lock:
            self.requests.append(entry)
            if self.log_file:
                self.log_file.write(line + "\n")
                self.log_file.flush()

    def set_default(self, reply):
        with self.lock:
            self.defaults[reply.get("usr_id")] = reply

    def enqueue(self, reply, count=1):
        with self.lock:
            q = self.queues.setdefault(reply.get("usr_id"), [])
            q.extend([reply] * count)

    def next_reply(self, usr_id):
        """A queued reply for this user, else one for anyone, else the
        user's default, else the general default."""
        with self.lock:
            for key in (usr_id, None):
                q = self.queues.get(key)
                if key in self.queues and q:
                    return q.pop(0)
            return self.defaults.get(usr_id, self.defaults[None])

    def state(self):
        with self.lock:
            return {
                "defaults": {str(k): describe(v) for k, v in self.defaults.items()},
                "queues": {str(k): [describe(r) for r in q] for k, q in self.queues.items()},
                "requests": len(self.requests),
            }


class Handler(BaseHTTPRequestHandler):
    server_version = "velsa-standin/1.0"
    sys_version = ""
    protocol_version = "HTTP/1.0"
    # Set per server instance.
    portal = None
    control_only = False

    def log_message(self, fmt, *args):  # keep stderr quiet
        pass

    # -- dispatch ---------------------------------------------------------

    def do_GET(self):
        self.dispatch()

    def do_POST(self):
        self.dispatch()

    def do_HEAD(self):
        self.dispatch()

    def do_PUT(self):
        self.dispatch()

    def do_DELETE(self):
        self.dispatch()

    def dispatch(self):
        parts = urlsplit(self.path)
        if parts.path.startswith("/_control/"):
            self.control(parts)
            return
        if self.control_only:
            self.send_plain(404, b"control port\r\n")
            return
        body = self.read_body()
        entry = {
            "time": time.time(),
            "method": self.command,
            "path": parts.path,
            "query": parts.query,
            "user_agent": self.headers.get("User-Agent", ""),
            "target": self.path,
            "headers": {k: v for k, v in self.headers.items()},
            "client": "%s:%d" % self.client_address[:2],
        }
        if isinstance(self.connection, ssl.SSLSocket):
            entry["tls"] = True
            entry["tls_version"] = self.connection.version()
        if body:
            entry["body"] = body.decode("latin-1")
        if parts.path == NOTIFY_PATH:
            usr = parse_qs(parts.query, keep_blank_values=True).get("usr_id", [None])[0]
            reply = self.portal.next_reply(usr)
            entry["reply"] = reply["kind"]
            self.portal.record(entry)
            self.answer(reply)
        elif parts.path.startswith("/velsa/"):
            self.portal.record(entry)
            self.page(parts)
        else:
            self.portal.record(entry)
            self.send_plain(404, b"not found\r\n")

    def read_body(self):
        try:
            n = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            n = 0
        return self.rfile.read(n) if n > 0 else b""

    # -- portal pages -----------------------------------------------------

    def page(self, parts):
        name = parts.path[len("/velsa/"):]
        text = ("<html><head><meta charset=\"utf-8\"><title>%s</title></head>"
                "<body><h1>%s</h1><p>query: <code>%s</code></p></body></html>\r\n"
                % (html.escape(name), html.escape(parts.path), html.escape(parts.query)))
        data = text.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    def send_plain(self, status, data):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

    # -- scripted replies -------------------------------------------------

    def headers_for(self, reply, length=None):
        self.send_response(reply["status"])
        self.send_header("Content-Type", "text/html")
        if length is not None:
            self.send_header("Content-Length", str(length))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.flush()

    def wait(self, seconds):
        """Sleeps, but returns True at once when the server stops."""
        return self.portal.stopping.wait(seconds)

    def answer(self, reply):
        kind = reply["kind"]
        try:
            if kind in ("text", "has", "update", "socket", "status"):
                self.headers_for(reply, len(reply["body"]))
                if self.command != "HEAD":
                    self.wfile.write(reply["body"])
            elif kind == "silent":
                self.wait(reply["timeout"])
                self.close_connection = True
            elif kind == "drip":
                self.headers_for(reply, len(reply["body"]))
                for i in range(len(reply["body"])):
                    if self.wait(reply["interval"]):
                        break
                    self.wfile.write(reply["body"][i:i + 1])
                    self.wfile.flush()
            elif kind == "endless":
                self.headers_for(reply)
                deadline = time.monotonic() + reply["timeout"]
                n = 0
                while time.monotonic() < deadline and not self.portal.stopping.is_set():
                    chunk = b"".join(reply["line"] + b" %d\r\n" % (n + i) for i in range(256))
                    n += 256
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    time.sleep(0.001)
            elif kind == "hugeline":
                size = reply["size"]
                self.headers_for(reply, size)
                head = reply["prefix"][:size]
                self.wfile.write(head)
                left = size - len(head)
                block = (reply["fill"] * (65536 // len(reply["fill"]) + 1))[:65536]
                while left > 0 and not self.portal.stopping.is_set():
                    part = block[:min(left, len(block))]
                    self.wfile.write(part)
                    left -= len(part)
                self.wfile.flush()
            elif kind == "reset":
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
                self.connection.close()
                self.close_connection = True
            elif kind == "redirect":
                self.send_response(reply["status"])
                self.send_header("Location", reply["location"] + self.path)
                self.send_header("Content-Length", "0")
                self.send_header("Connection", "close")
                self.end_headers()
            elif kind == "close":
                self.connection.shutdown(socket.SHUT_RDWR)
                self.close_connection = True
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError, OSError):
            self.close_connection = True

    # -- control ----------------------------------------------------------

    def control(self, parts):
        portal = self.portal
        cmd = parts.path[len("/_control/"):].strip("/")
        raw = self.read_body()
        try:
            if raw.strip():
                args = json.loads(raw.decode("utf-8"))
            else:
                args = {k: v[-1] for k, v in parse_qs(parts.query, keep_blank_values=True).items()}
            if cmd == "ping":
                result = {"ok": True, "pid": os.getpid()}
            elif cmd == "log":
                with portal.lock:
                    result = list(portal.requests)
            elif cmd == "clear":
                portal.clear_log()
                result = {"ok": True}
            elif cmd == "reset":
                portal.reset()
                result = {"ok": True}
            elif cmd == "default":
                portal.set_default(normalise_reply(args))
                result = {"ok": True}
            elif cmd == "queue":
                items = args if isinstance(args, list) else [args]
                for item in items:
                    count = int(item.get("count", 1)) if isinstance(item, dict) else 1
                    desc = {k: v for k, v in item.items() if k != "count"} if isinstance(item, dict) else item
                    portal.enqueue(normalise_reply(desc), count)
                result = {"ok": True}
            elif cmd == "state":
                result = portal.state()
            else:
                self.send_json(404, {"error": "unknown control command %r" % cmd})
                return
        except (BadReply, ValueError, TypeError) as e:
            self.send_json(400, {"error": str(e)})
            return
        self.send_json(200, result)

    def send_json(self, status, obj):
        data = json.dumps(obj, ensure_ascii=False).encode("utf-8")
        self.send_response(status)
        self.send_header("Content-Type", "application/json; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64
    tls = None  # an ssl.SSLContext for HTTPS

    def finish_request(self, request, client_address):
        if self.tls is not None:
            # The handshake runs on the request's own thread, so a client
            # that never completes it holds up no one else.
            request.settimeout(30)
            try:
                request = self.tls.wrap_socket(request, server_side=True)
            except (ssl.SSLError, OSError) as e:
                self.RequestHandlerClass.portal.record({
                    "time": time.time(), "path": None, "tls_error": str(e),
                    "client": "%s:%d" % client_address[:2]})
                return
            request.settimeout(None)
        super().finish_request(request, client_address)


def make_server(portal, port, control_only=False, tls=None):
    handler = type("BoundHandler", (Handler,), {"portal": portal, "control_only": control_only})
    server = Server(("127.0.0.1", port), handler)
    server.tls = tls
    return server


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--port", type=int, default=0, help="port on 127.0.0.1 (0: any free one)")
    ap.add_argument("--log", help="append every portal request as a JSON line to this file")
    ap.add_argument("--control-port", type=int, default=None,
                    help="also serve the control interface alone on this port")
    ap.add_argument("--default", help="default reply as JSON, e.g. '{\"kind\": \"has\"}'")
    ap.add_argument("--tls-cert", help="serve the portal port over HTTPS with this certificate (PEM)")
    ap.add_argument("--tls-key", help="the certificate's private key (PEM)")
    opts = ap.parse_args(argv)
    tls = None
    if opts.tls_cert:
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(opts.tls_cert, opts.tls_key)

    portal = Portal(opts.log)
    if opts.default:
        portal.set_default(normalise_reply(json.loads(opts.default)))
    servers = [make_server(portal, opts.port, tls=tls)]
    if opts.control_port is not None:
        servers.append(make_server(portal, opts.control_port, control_only=True))
    for s in servers:
        print(s.server_address[1], flush=True)

    def stop(signum, frame):
        portal.stopping.set()
        for s in servers:
            threading.Thread(target=s.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    threads = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for s in servers]
    for t in threads:
        t.start()
    while any(t.is_alive() for t in threads):
        for t in threads:
            t.join(0.5)
    portal.stopping.set()
    for s in servers:
        s.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
