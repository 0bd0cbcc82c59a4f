#!/usr/bin/env python3
"""A throw-away RFC 3161 time-stamp server for the release check: answers each request with
`openssl ts -reply`, signed by the certificate and key its OpenSSL configuration names.

Usage: timestamp_server.py CONFIG PORT_FILE. It listens on a free port of 127.0.0.1, writes
the port to PORT_FILE once it accepts requests, and serves until it is ended."""
import http.server
import subprocess
import sys


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        reply = subprocess.run(
            ["openssl", "ts", "-reply", "-config", sys.argv[1],
             "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
            input=query, capture_output=True)
        if reply.returncode != 0:
            sys.stderr.write(reply.stderr.decode(errors="replace"))
            self.send_error(500)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(sys.argv[2], "w") as port_file:
    port_file.write(str(server.server_address[1]))
server.serve_forever()
