#!/usr/bin/python3
"""A mail server on 127.0.0.1 for the tests of the mail account: aiosmtpd with
STARTTLS, TLS from the start or plain text, and AUTH (PLAIN, LOGIN).

Usage: smtp_server.py MAILDIR MODE [CERT KEY] [--user U --password P]
MODE: starttls, tls or plain. The data must be CRLF throughout with no line
over 998 octets, or it is refused. Each message received is kept in MAILDIR with
its envelope as X-MailFrom and X-RcptTo headers. Recipients steer the
server: later@... gets 451 after the data, refused@... 550 at RCPT, and for
drop@... the connection is cut after the data, before any reply. Every
login attempt is appended to MAILDIR/../logins. Prints its port, then serves
until its standard input closes, and never longer than 10 minutes
(--serve-seconds).
"""
import argparse
import mailbox
import os
import select
import socket
import ssl
import sys
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
    controller = Controller(Handler(a.maildir), hostname="127.0.0.1", port=port,
                            ssl_context=context if a.mode == "tls" else None, **kwargs)
    controller.start()
    print(port, flush=True)
    try:
        select.select([sys.stdin], [], [], a.serve_seconds)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
