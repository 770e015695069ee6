#!/usr/bin/python3
"""An SMTP server on 127.0.0.1 for the tests: aiosmtpd keeps every message it
receives in a Maildir (with the envelope as X-MailFrom and X-RcptTo headers).

Usage: smtp_sink.py MAILDIR. Prints the port it listens on, then serves until
its standard input closes, and never longer than 10 minutes.
"""
import select
import socket
import sys

from aiosmtpd.controller import Controller
from aiosmtpd.handlers import Mailbox


def main():
    with socket.socket() as probe:  # a free port on the loopback address
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    controller = Controller(Mailbox(sys.argv[1]), hostname="127.0.0.1", port=port)
    controller.start()
    print(port, flush=True)
    try:
        select.select([sys.stdin], [], [], 600)
    finally:
        controller.stop()


if __name__ == "__main__":
    main()
