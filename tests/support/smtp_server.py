#!/usr/bin/python3
"""A mail server on 127.0.0.1 for the tests of the mail account: aiosmtpd with
STARTTLS, TLS from the start or plain text, and AUTH (PLAIN, LOGIN).

Usage: smtp_server.py MAILDIR MODE [CERT KEY] [--user U --password P] [--bearer-check URL]
MODE: starttls, tls or plain. The data must be CRLF throughout with no line
over 998 octets, or it is refused. Each message received is kept in MAILDIR with
its envelope as X-MailFrom and X-RcptTo headers. Recipients steer the
server: later@... gets 451 after the data, refused@... 550 at RCPT, and for
drop@... the connection is cut after the data, before any reply. Every
login attempt is appended to MAILDIR/../logins. With --bearer-check the
server takes no password but XOAUTH2 and OAUTHBEARER, as the big providers
do, and asks URL?token=... (tests/support/oauth_server.py) whether the token
is live and the user's. Prints its port, then serves
until its standard input closes, and never longer than 10 minutes
(--serve-seconds).
"""
import argparse
import base64
import json
import mailbox
import os
import select
import socket
import ssl
import sys
import urllib.parse
import urllib.request
import warnings

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword


class Handler:
    def __init__(self, maildir):
        self.box = mailbox.Maildir(maildir, create=True)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.startswith("refused@"):
            return "550 5.1.1 No such user here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        # Strict as RFC 5321 4.5.3.1.6 and 2.3.8 ask: CRLF only, no line over 998 octets.
        for line in envelope.original_content.split(b"\r\n"):
            if b"\n" in line or b"\r" in line:
                return "500 5.6.0 Bare LF or CR in the data"
            if len(line) > 998:
                return "500 5.6.0 Line too long"
        if any(r.startswith("later@") for r in envelope.rcpt_tos):
            return "451 4.3.0 Try again later"
        head = f"X-MailFrom: {envelope.mail_from}\r\nX-RcptTo: {', '.join(envelope.rcpt_tos)}\r\n"
        self.box.add(head.encode() + envelope.original_content)
        if any(r.startswith("drop@") for r in envelope.rcpt_tos):
            server.transport.abort()  # taken, but the client never hears so
        return "250 2.0.0 Accepted"


class BearerHandler(Handler):
    """Takes a login by access token only (RFC 7628 OAUTHBEARER, and XOAUTH2)."""

    def __init__(self, maildir, check, user, logins):
        super().__init__(maildir)
        self.check, self.user, self.logins = check, user, logins

    def verify(self, mechanism, user, token):
        try:
            with urllib.request.urlopen(self.check + "?" + urllib.parse.urlencode({"token": token}), timeout=10) as r:
                said = json.load(r)
        except OSError:
            said = {}
        ok = bool(said.get("active")) and said.get("user") == user == self.user
        with open(self.logins, "a") as f:
            f.write(f"{mechanism} {'ok' if ok else 'refused'}\n")
        return AuthResult(success=ok, handled=False)

    async def take(self, server, args, mechanism):
        try:  # the initial response (SASL-IR), else the answer to an empty challenge, decoded there
            data = base64.b64decode(args[1], validate=True) if len(args) > 1 else await server.challenge_auth("")
            fields = data.decode().split("\x01")
        except Exception:
            return AuthResult(success=False, handled=False)
        values = dict(f.split("=", 1) for f in fields if "=" in f)
        user = values.get("user", "")
        if mechanism == "OAUTHBEARER":  # gs2 header: n,a=user,
            user = next((p[2:] for p in fields[0].split(",") if p.startswith("a=")), "")
        token = values.get("auth", "")
        return self.verify(mechanism, user, token[7:] if token.startswith("Bearer ") else "")

    async def auth_XOAUTH2(self, server, args):
        return await self.take(server, args, "XOAUTH2")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.take(server, args, "OAUTHBEARER")


def main():
    warnings.filterwarnings("ignore")  # aiosmtpd's notes on deprecated fields, one every login
    ap = argparse.ArgumentParser()
    ap.add_argument("maildir")
    ap.add_argument("mode", choices=("starttls", "tls", "plain"))
    ap.add_argument("cert", nargs="?")
    ap.add_argument("key", nargs="?")
    ap.add_argument("--user", default="anna@example.org")
    ap.add_argument("--password", default="secret")
    ap.add_argument("--serve-seconds", type=int, default=600)
    ap.add_argument("--bearer-check")
    ap.add_argument("--xoauth2-only", action="store_true", help="no OAUTHBEARER, as Microsoft's servers")
    a = ap.parse_args()
    logins = os.path.join(os.path.dirname(os.path.abspath(a.maildir)), "logins")

    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login.decode() == a.user \
            and auth_data.password.decode() == a.password
        with open(logins, "a") as f:
            f.write(f"{mechanism} {'ok' if ok else 'refused'}\n")
        return AuthResult(success=ok, handled=False)

    context = None
    if a.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
    with socket.socket() as probe:  # a free port on the loopback address
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    # With TLS from the start the connection is already encrypted, which the
    # server's own check (made for STARTTLS) does not see.
    kwargs = dict(authenticator=authenticate, auth_required=True, auth_require_tls=a.mode == "starttls")
    if a.mode == "starttls":
        kwargs.update(tls_context=context, require_starttls=True)
    handler = Handler(a.maildir)
    if a.bearer_check:
        handler = BearerHandler(a.maildir, a.bearer_check, a.user, logins)
        kwargs.update(auth_exclude_mechanism=["PLAIN", "LOGIN"] + (["OAUTHBEARER"] if a.xoauth2_only else []))
    controller = Controller(handler, hostname="127.0.0.1", port=port,
                            ssl_context=context if a.mode == "tls" else None, **kwargs)
    controller.start()
    print(port, flush=True)
    try:
        select.select([sys.stdin], [], [], a.serve_seconds)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
