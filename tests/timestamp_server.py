#!/usr/bin/env python3
"""timestamp_server.py CONFIG PORT_FILE -- an RFC 3161 time-stamping authority on 127.0.0.1 for the release tests:
each POSTed query is answered by `openssl ts -reply` with the TSA of CONFIG, at the clock this process runs on
(faketime sets it). The port it listens on goes to PORT_FILE; it runs until it is ended."""
import http.server
import subprocess
import sys


class Answer(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], input=query, capture_output=True)
        self.send_response(200 if reply.returncode == 0 else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)


server = http.server.HTTPServer(("127.0.0.1", 0), Answer)
with open(sys.argv[2], "w") as port:
    port.write(str(server.server_port))
server.serve_forever()
