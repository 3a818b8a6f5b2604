#!/usr/bin/python3
"""HTTP server for the support-file upload tests, on a free loopback port.

Prints "PORT <n>" once it listens and runs until its standard input closes. Each POST's body
goes into the output folder as <n>.body, its headers as <n>.headers.

The path chooses the answer: /email-invalid, /email-blocked and /orvuid-blocked answer 403 with
EMAIL-INVALID, EMAIL-BLOCKED or ORVUID-BLOCKED; /broken answers 500; anything else 200.
"""

import argparse
import http.server
import os
import sys
import threading

ANSWERS = {
    "/email-invalid": (403, b"EMAIL-INVALID\n"),
    "/email-blocked": (403, b"EMAIL-BLOCKED\n"),
    "/orvuid-blocked": (403, b"ORVUID-BLOCKED\n"),
    "/broken": (500, b"Something broke\n"),
}


def make_handler(folder):
    count = [0]
    lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            with lock:
                count[0] += 1
                base = os.path.join(folder, str(count[0]))
            with open(base + ".headers", "w") as f:
                f.write("POST %s\n%s" % (self.path, self.headers))
            with open(base + ".body", "wb") as f:
                f.write(body)
            status, answer = ANSWERS.get(self.path, (200, b"OK\n"))
            self.send_response(status)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(answer)))
            self.end_headers()
            self.wfile.write(answer)

        def log_message(self, format, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(args.out))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    sys.stdin.read()
    server.shutdown()


if __name__ == "__main__":
    main()
