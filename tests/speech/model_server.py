#!/usr/bin/env python3
"""A model host on 127.0.0.1 for the download tests. Prints its port, then serves:
/big/model, /big/nolength, /big/short, /big/wrong, /big/reset, /small/model, /error, /trickle, and any other *.gguf path (the small body)."""
import socket
import struct
import sys
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

BIG = 3 * 1024 * 1024 + 12345
SMALL = 300000


def body(size, salt=0):
    pattern = bytes(((i * 7 + 3) % 251) ^ salt for i in range(251))
    return (pattern * (size // 251 + 1))[:size]


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, data, length=True):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if length:
            self.send_header("Content-Length", str(len(data)))
        else:
            self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(data)
        if not length:
            self.close_connection = True

    def do_GET(self):
        path = self.path
        if path == "/big/model":
            self.send_body(body(BIG))
        elif path == "/big/nolength":
            self.send_body(body(BIG), length=False)
        elif path == "/big/short":
            self.send_body(body(BIG - 1))
        elif path == "/big/wrong":
            self.send_body(body(BIG, salt=0x55))
        elif path == "/small/model":
            self.send_body(body(SMALL))
        elif path == "/error":
            data = b"server error\n"
            self.send_response(500)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)
        elif path == "/big/reset":
            self.send_response(200)
            self.send_header("Content-Length", str(BIG))
            self.end_headers()
            self.wfile.write(body(BIG)[: 3 * 1024 * 1024 // 2])
            self.wfile.flush()
            # An abortive close: the client sees a reset, not an orderly end.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            self.close_connection = True
        elif path == "/trickle":
            # A byte every 0.2 s of a 300000-byte body, until the client gives up.
            self.send_response(200)
            self.send_header("Content-Length", str(SMALL))
            self.end_headers()
            try:
                for byte in body(SMALL):
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(0.2)
            except OSError:
                pass
            self.close_connection = True
        elif path.endswith(".gguf"):
            self.send_body(body(SMALL))
        else:
            self.send_error(404)


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
