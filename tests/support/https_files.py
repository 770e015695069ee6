#!/usr/bin/python3
"""An https server on 127.0.0.1 serving the files under ROOT, for the
autoconfig documents of the discovery tests.

Usage: https_files.py ROOT CERT KEY
Prints its port, then serves until its standard input closes.
"""
import functools
import http.server
import ssl
import sys

import standin


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def main():
    root, cert, key = sys.argv[1:4]
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=root))
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    standin.serve(server)


if __name__ == "__main__":
    main()
