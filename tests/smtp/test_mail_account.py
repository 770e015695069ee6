#!/usr/bin/python3
"""The delivery agent sending through a mail account, against a real SMTP
server on 127.0.0.1 (aiosmtpd, tests/support/smtp_server.py) with STARTTLS,
TLS from the start and AUTH, on certificates made for the run. What the
server received is read back with Python's email parser.

Usage: test_mail_account.py CHEERPOST_DELIVER
"""
import email
import email.policy
import glob
import os
import subprocess
import sys
import tempfile
import time
import unittest

DELIVER = sys.argv[1] if len(sys.argv) > 1 else "cheerpost-deliver"
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support", "smtp_server.py")
WORK = tempfile.mkdtemp(prefix="cheerpost-smtp-")
CERT, KEY = os.path.join(WORK, "cert.pem"), os.path.join(WORK, "key.pem")


def make_certificate():
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", KEY, "-out", CERT,
                    "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, capture_output=True)
    out = subprocess.run(["openssl", "x509", "-in", CERT, "-noout", "-fingerprint", "-sha256"],
                         check=True, capture_output=True, text=True).stdout
    return out.strip().split("=", 1)[1]


FINGERPRINT = make_certificate()


def make_wrong_name_certificate():
    """A certificate for another host, evil.example, that CaFile vouches for."""
    cert, key = os.path.join(WORK, "evil.pem"), os.path.join(WORK, "evil-key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=evil.example", "-addext", "subjectAltName=DNS:evil.example"],
                   check=True, capture_output=True)
    return cert, key


class Server:
    def __init__(self, root, mode, cert=CERT, key=KEY):
        self.maildir = os.path.join(root, "received")
        self.logins = os.path.join(root, "logins")
        args = [SERVER, self.maildir, mode] + ([cert, key] if mode != "plain" else [])
        self.process = subprocess.Popen(["/usr/bin/python3"] + args, stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(self.process.stdout.readline())

    def stop(self):
        self.process.stdin.close()
        self.process.wait(timeout=30)
        self.process.stdout.close()

    def received(self):
        out = []
        for path in sorted(glob.glob(os.path.join(self.maildir, "new", "*"))):
            with open(path, "rb") as f:
                out.append(email.message_from_binary_file(f, policy=email.policy.default))
        return out

    def login_count(self):
        if not os.path.exists(self.logins):
            return 0
        with open(self.logins) as f:
            return len(f.readlines())


class Store:
    """A store whose Outbox holds the given messages, and a host.conf for it."""

    def __init__(self, root, messages):
        self.root = root
        self.mail = os.path.join(root, "Mail")
        for box in ("Outbox", "Sent"):
            for sub in ("new", "cur", "tmp"):
                os.makedirs(os.path.join(self.mail, box, sub), exist_ok=True)
        os.makedirs(os.path.join(root, "Contacts"), exist_ok=True)
        for i, headers in enumerate(messages, 1):
            head = "".join(f"{k}: {v}\r\n" for k, v in headers.items())
            with open(os.path.join(self.mail, "Outbox", "new", f"17000000{i:02d}.M1P1Q{i}.host"), "w") as f:
                f.write(head + f"Subject: m{i}\r\nMessage-ID: <m{i}@example.org>\r\nMIME-Version: 1.0\r\n"
                        f"Content-Type: text/html; charset=utf-8\r\n\r\n<html><body>Hello {i}</body></html>\r\n")

    def configure(self, **smtp):
        folder = os.path.join(self.root, "config", "cheerpost")
        os.makedirs(folder, exist_ok=True)
        settings = {"User": "anna@example.org", "PasswordCommand": "printf secret"}
        settings.update(smtp)
        with open(os.path.join(folder, "host.conf"), "w") as f:
            f.write("[General]\nDeliveryTimeout=4\n[Smtp]\n")
            f.write("".join(f"{k}={v}\n" for k, v in settings.items()))

    def deliver(self, *extra):
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "config"), DBUS_SESSION_BUS_ADDRESS="")
        started = time.monotonic()
        r = subprocess.run([DELIVER, "--mail", self.mail, "--contacts", os.path.join(self.root, "Contacts"),
                            *extra], env=env, capture_output=True, text=True, timeout=120)
        r.seconds = time.monotonic() - started
        return r

    def count(self, box):
        return sum(len(os.listdir(os.path.join(self.mail, box, s))) for s in ("new", "cur"))

    def log(self):
        path = os.path.join(self.mail, "delivery.log")
        if not os.path.exists(path):
            return ""
        with open(path) as f:
            return f.read()


class MailAccount(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(dir=WORK)
        self.servers = []

    def tearDown(self):
        for s in self.servers:
            s.stop()

    def server(self, mode, *cert):
        s = Server(tempfile.mkdtemp(dir=self.root), mode, *cert)
        self.servers.append(s)
        return s

    def store(self, *messages):
        return Store(os.path.join(self.root, "store"), messages or [{"From": "Anna <anna@example.org>",
                                                                     "To": "bob@example.org"}])

    def test_starttls_sends_every_message_once_on_one_connection_bcc_in_the_envelope_only(self):
        srv = self.server("starttls")
        st = self.store({"From": "Anna <anna@example.org>", "To": "bob@example.org", "Bcc": "carl@example.org"},
                        {"To": "dora@example.org", "Cc": "eve@example.org"},
                        {"From": "anna@example.org", "To": "fred@example.org"})
        st.configure(Host="127.0.0.1", Port=srv.port, Security="starttls", CaFile=CERT)
        r = st.deliver()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("3 delivered, 0 failed", r.stdout)
        got = {m["Message-ID"]: m for m in srv.received()}
        self.assertEqual(len(got), 3)
        first = got["<m1@example.org>"]
        self.assertIsNone(first["Bcc"])
        self.assertEqual(first["X-RcptTo"], "bob@example.org, carl@example.org")
        self.assertEqual(first["X-MailFrom"], "anna@example.org")
        self.assertIn("Hello 1", first.get_body().get_content())
        # No From of its own: the account's address, in the envelope and the header.
        second = got["<m2@example.org>"]
        self.assertEqual((second["X-MailFrom"], second["From"]), ("anna@example.org", "anna@example.org"))
        self.assertEqual(second["X-RcptTo"], "dora@example.org, eve@example.org")
        self.assertEqual(srv.login_count(), 1)
        self.assertEqual((st.count("Outbox"), st.count("Sent")), (0, 3))
        self.assertEqual(st.deliver().returncode, 0)
        self.assertEqual(len(srv.received()), 3)

    def test_tls_from_the_start(self):
        srv = self.server("tls")
        st = self.store()
        st.configure(Host="127.0.0.1", Port=srv.port, Security="tls", CaFile=CERT)
        r = st.deliver()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(srv.received()), 1)

    def test_a_refused_password_stops_the_run_and_keeps_every_message(self):
        srv = self.server("starttls")
        st = self.store({"From": "anna@example.org", "To": "a@example.org"},
                        {"From": "anna@example.org", "To": "b@example.org"})
        st.configure(Host="127.0.0.1", Port=srv.port, CaFile=CERT, PasswordCommand="printf wrong")
        r = st.deliver()
        self.assertEqual(r.returncode, 1)
        self.assertIn("refused the user name or password", r.stderr)
        self.assertNotIn("wrong", r.stderr + r.stdout + st.log())
        # The summary counts what the Outbox shows: both failed, for the one reason.
        self.assertEqual(r.stdout, "0 delivered, 2 failed, 0 waiting; stopped\n")
        self.assertEqual((srv.login_count(), len(srv.received()), st.count("Outbox")), (1, 0, 2))
        with open(os.path.join(st.mail, ".cheerpost-delivery-state")) as f:  # what the Outbox window shows
            self.assertEqual(f.read().count("failed\t0\t0\tThe mail server 127.0.0.1:%d refused the user name or "
                                            "password" % srv.port), 2)
        st.configure(Host="127.0.0.1", Port=srv.port, CaFile=CERT)
        self.assertEqual(st.deliver().returncode, 0)
        self.assertEqual(len(srv.received()), 2)

    def test_an_untrusted_certificate_sends_nothing_and_names_its_fingerprint_until_trusted(self):
        srv = self.server("starttls")
        st = self.store()
        st.configure(Host="127.0.0.1", Port=srv.port)
        r = st.deliver()
        self.assertEqual(r.returncode, 1)
        self.assertIn("could not be verified (SHA-256 fingerprint " + FINGERPRINT, r.stderr)
        self.assertEqual((srv.login_count(), len(srv.received()), st.count("Outbox")), (0, 0, 1))
        st.configure(Host="127.0.0.1", Port=srv.port, TrustedCertificate=FINGERPRINT.lower())
        r = st.deliver()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(srv.received()), 1)

    def test_a_trusted_fingerprint_trusts_that_certificate_alone_and_others_are_checked_by_name(self):
        evil_cert, evil_key = make_wrong_name_certificate()
        srv = self.server("starttls", evil_cert, evil_key)
        st = self.store()
        # Its authority is trusted, but it is issued for another name.
        st.configure(Host="127.0.0.1", Port=srv.port, CaFile=evil_cert, TrustedCertificate=FINGERPRINT)
        r = st.deliver()
        self.assertEqual(r.returncode, 1)
        self.assertIn("could not be verified", r.stderr)
        self.assertEqual((srv.login_count(), len(srv.received()), st.count("Outbox")), (0, 0, 1))

    def test_starttls_required_a_server_without_it_gets_nothing(self):
        srv = self.server("plain")
        st = self.store()
        st.configure(Host="127.0.0.1", Port=srv.port, Security="starttls")
        r = st.deliver()
        self.assertEqual(r.returncode, 1)
        self.assertIn("does not offer STARTTLS, so nothing was sent", r.stderr)
        self.assertEqual((srv.login_count(), len(srv.received()), st.count("Outbox")), (0, 0, 1))
        # Plain text goes to this machine only, never elsewhere.
        st.configure(Host="127.0.0.1", Port=srv.port, Security="none")
        self.assertEqual(st.deliver().returncode, 0)
        st2 = Store(os.path.join(self.root, "other"), [{"From": "anna@example.org", "To": "x@example.org"}])
        st2.configure(Host="mail.example.org", Port=25, Security="none")
        r = st2.deliver()
        self.assertIn('Security "none" is only allowed', r.stderr)

    def test_a_wrong_port_for_the_security_times_out_with_a_clear_message(self):
        srv = self.server("tls")
        st = self.store()
        st.configure(Host="127.0.0.1", Port=srv.port, Security="starttls", CaFile=CERT)
        r = st.deliver()
        self.assertEqual(r.returncode, 1)
        self.assertIn("did not answer within 4 s. Is the port right for the security chosen?", r.stderr)
        self.assertLess(r.seconds, 30)
        self.assertEqual(st.count("Outbox"), 1)

    def test_for_now_refused_retried_later_refused_recipient_named_lost_reply_held(self):
        srv = self.server("starttls")
        st = self.store({"From": "anna@example.org", "To": "later@example.org"},
                        {"From": "anna@example.org", "To": "ok@example.org, refused@example.org"},
                        {"From": "anna@example.org", "To": "drop@example.org"})
        st.configure(Host="127.0.0.1", Port=srv.port, CaFile=CERT)
        r = st.deliver()
        self.assertEqual(r.returncode, 1)
        self.assertIn("1 delivered, 1 failed", r.stdout)
        self.assertIn("1 held", r.stdout)
        self.assertIn("refused it for now: 451 4.3.0 Try again later", r.stderr)
        log = st.log()
        self.assertIn("refused@example.org: 550 5.1.1 No such user here", log)
        self.assertIn("lost after the whole message was sent", log)
        got = srv.received()
        self.assertEqual(sorted(m["X-RcptTo"] for m in got), ["drop@example.org", "ok@example.org"])
        self.assertEqual((st.count("Outbox"), st.count("Sent")), (2, 1))
        # The next run: the held one is not sent again, the other waits for its retry.
        r = st.deliver()
        self.assertEqual(len(srv.received()), 2)
        self.assertIn("(1 to try again), 1 held", r.stdout)

    def test_the_rate_limit_leaves_the_rest_to_the_next_run(self):
        srv = self.server("starttls")
        st = self.store(*[{"From": "anna@example.org", "To": f"p{i}@example.org"} for i in range(3)])
        st.configure(Host="127.0.0.1", Port=srv.port, CaFile=CERT, MaxPerMinute=2)
        r = st.deliver("--rate-wait", "0")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("2 delivered, 0 failed, 1 waiting", r.stdout)
        self.assertEqual(len(srv.received()), 2)
        self.assertEqual(st.deliver("--rate-wait", "0").returncode, 0)
        self.assertEqual(len(srv.received()), 3)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
