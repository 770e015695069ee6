#!/usr/bin/python3
"""An address book server that takes OAuth 2.0 access tokens, as Google's
does: a front on 127.0.0.1 that asks CHECK?token=... (oauth_server.py)
whether the Bearer token is live, and passes the request on to a Radicale
that trusts the user the front names (auth type http_x_remote_user).
Anything without a live token gets 401 with a Bearer challenge.

Usage: bearer_proxy.py CHECK_URL BACKEND_URL
Prints its port, then serves until its standard input closes.
"""
import http.client
import http.server
import json
import sys
import urllib.parse
import urllib.request

import standin

CHECK, BACKEND = sys.argv[1], urllib.parse.urlsplit(sys.argv[2])


class Front(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def user(self):
        auth = self.headers.get("Authorization", "")
        if not auth.startswith("Bearer "):
            return None
        try:
            with urllib.request.urlopen(CHECK + "?" + urllib.parse.urlencode({"token": auth[7:]}), timeout=10) as r:
                said = json.load(r)
        except OSError:
            return None
        return said.get("user") if said.get("active") else None

    def relay(self):
        body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        user = self.user()
        if not user:
            self.send_response(401)
            self.send_header("WWW-Authenticate", 'Bearer realm="contacts", error="invalid_token"')
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        headers = {k: v for k, v in self.headers.items() if k.lower() not in ("authorization", "host")}
        headers["X-Remote-User"] = user
        backend = http.client.HTTPConnection(BACKEND.hostname, BACKEND.port, timeout=30)
        backend.request(self.command, self.path, body=body, headers=headers)
        reply = backend.getresponse()
        data = reply.read()
        self.send_response(reply.status)
        for k, v in reply.getheaders():
            if k.lower() not in ("content-length", "transfer-encoding", "connection"):
                self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)
        backend.close()

    do_GET = do_PUT = do_PROPFIND = do_REPORT = do_DELETE = do_OPTIONS = do_MKCOL = relay


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Front)
    standin.serve(server)


if __name__ == "__main__":
    main()
