#!/usr/bin/env python3
"""A loopback report server for tests and demos.

    report_server.py STATE_DIR [--lifetime SECONDS]

Listens on 127.0.0.1 on a free port, which it writes to STATE_DIR/port.
Before every request it reads STATE_DIR/config.json (when present):

    {"version": "current" | "outdated" | "neither" | "404" | "silent"
                | "current_in_pieces" | "current_big",
     "report":  "ok" | "request_ok_only" | "404" | "silent" | "ok_in_pieces"}

"..._in_pieces" sends the body in five pieces 400 ms apart, its keyword in
the last, so a client's reads wait for data; "current_big" answers with a
body of 1 MiB before the keyword.

Every raw request is stored as STATE_DIR/requests/NNNN.raw. A multipart
report is parsed with the standard library's email parser; its fields go to
STATE_DIR/reports/NNNN/fields.json and the uploaded archive to
STATE_DIR/reports/NNNN/archive. It stops by itself after its lifetime.
"""
import argparse
import email.parser
import email.policy
import http.server
import json
import os
import threading
import time
import urllib.parse

ANSWERS = {
    "current": (200, b"<html>STATUS_REQUEST_OK</html>"),
    "outdated": (200, b"<html>STATUS_VERSION_OUT_OF_DATE</html>"),
    "neither": (200, b"<html>nothing to say</html>"),
    "404": (404, b"<html>STATUS_REQUEST_OK STATUS_REPORT_OK</html>"),
    "ok": (200, b"<html>STATUS_REPORT_OK</html>"),
    "request_ok_only": (200, b"<html>STATUS_REQUEST_OK</html>"),
    "current_in_pieces": (200, b"<html>" + b"." * 230 + b"STATUS_REQUEST_OK</html>"),
    "ok_in_pieces": (200, b"<html>" + b"." * 230 + b"STATUS_REPORT_OK</html>"),
    "current_big": (200, b"<html>" + b"." * (1 << 20) + b"STATUS_REQUEST_OK</html>"),
}


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, state_dir):
        super().__init__(("127.0.0.1", 0), Handler)
        self.state_dir = state_dir
        self.counter = 0
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def next_number(self):
        with self.lock:
            self.counter += 1
            return self.counter

    def config(self):
        try:
            with open(os.path.join(self.state_dir, "config.json")) as f:
                return json.load(f)
        except (OSError, ValueError):
            return {}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def record(self, body):
        number = self.server.next_number()
        folder = os.path.join(self.server.state_dir, "requests")
        os.makedirs(folder, exist_ok=True)
        head = f"{self.requestline}\r\n{self.headers}".encode("latin-1").replace(b"\n", b"\r\n").replace(b"\r\r\n", b"\r\n")
        with open(os.path.join(folder, f"{number:04d}.raw"), "wb") as f:
            f.write(head + body)
        return number

    def answer(self, mode):
        if mode == "silent":
            # Accept the request and never answer, until the server stops.
            self.server.stopping.wait()
            return
        status, body = ANSWERS.get(mode, (500, b"unknown mode"))
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if not mode.endswith("_in_pieces"):
            self.wfile.write(body)
            return
        piece = -(-len(body) // 5)
        for start in range(0, len(body), piece):
            self.wfile.flush()
            time.sleep(0.4)
            self.wfile.write(body[start:start + piece])

    def do_GET(self):
        self.record(b"")
        self.answer(self.server.config().get("version", "current"))

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        number = self.record(body)
        self.store_report(number, body)
        self.answer(self.server.config().get("report", "ok"))

    def store_report(self, number, body):
        content_type = self.headers.get("Content-Type", "")
        message = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
            b"Content-Type: " + content_type.encode("latin-1") + b"\r\n\r\n" + body)
        fields = {"query": urllib.parse.urlsplit(self.path).query, "path": urllib.parse.urlsplit(self.path).path}
        folder = os.path.join(self.server.state_dir, "reports", f"{number:04d}")
        os.makedirs(folder, exist_ok=True)
        if message.is_multipart():
            for part in message.iter_parts():
                name = part.get_param("name", header="content-disposition")
                payload = part.get_payload(decode=True) or b""
                filename = part.get_param("filename", header="content-disposition")
                if filename is not None:
                    fields[name + ".filename"] = filename
                    with open(os.path.join(folder, "archive"), "wb") as f:
                        f.write(payload)
                else:
                    fields[name] = payload.decode("utf-8", "replace")
        with open(os.path.join(folder, "fields.json"), "w", encoding="utf-8") as f:
            json.dump(fields, f, ensure_ascii=False)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("state_dir")
    parser.add_argument("--lifetime", type=float, default=600)
    args = parser.parse_args()
    os.makedirs(args.state_dir, exist_ok=True)
    server = Server(args.state_dir)
    with open(os.path.join(args.state_dir, "port.tmp"), "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(os.path.join(args.state_dir, "port.tmp"), os.path.join(args.state_dir, "port"))

    def stop_later():
        time.sleep(args.lifetime)
        server.stopping.set()
        server.shutdown()

    threading.Thread(target=stop_later, daemon=True).start()
    try:
        server.serve_forever()
    finally:
        server.stopping.set()
        server.server_close()


if __name__ == "__main__":
    main()
