#!/usr/bin/python3
"""Signing in with a provider that takes no password: the browser (a script)
consents on a real OAuth 2.0 server (Authlib, tests/support/oauth_server.py),
the refresh token is kept, and the delivery agent sends through an SMTP
server that takes XOAUTH2 only and syncs an address book that takes Bearer
tokens only. A revoked sign-in sends nothing and says to sign in again.

Usage: test_sign_in.py CHEERPOST_DELIVER SIGNIN_PROBE
"""
import glob
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPORT = os.path.join(HERE, "..", "support")
sys.path.insert(0, os.path.join(HERE, "..", "carddav"))
from test_address_book import Radicale, card, free_port, make_certificate, wait_for  # noqa: E402

DELIVER = sys.argv[1] if len(sys.argv) > 1 else "cheerpost-deliver"
PROBE = sys.argv[2] if len(sys.argv) > 2 else "signin_probe"
CLIENT = "cheerpost-test-client"
USER = "anna@example.org"


def start(args, log=os.devnull):
    with open(log, "a") as errors:  # what a stand-in said when it failed
        p = subprocess.Popen(["/usr/bin/python3"] + args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=errors, text=True)
    return p, int(p.stdout.readline())


def stop(process):
    process.stdin.close()
    process.wait(timeout=30)
    process.stdout.close()


class BearerRadicale(Radicale):
    """Radicale trusting the user its Bearer-checking front names."""

    def __init__(self, root, check):
        self.port = free_port()
        self.radicale = subprocess.Popen(
            ["/usr/bin/python3", "-m", "radicale", "--config", "", f"--server-hosts=127.0.0.1:{self.port}",
             "--auth-type=http_x_remote_user", f"--storage-filesystem-folder={os.path.join(root, 'collections')}",
             "--rights-type=owner_only"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(self.port)
        self.backend = f"http://127.0.0.1:{self.port}"
        self.front, front_port = start([os.path.join(SUPPORT, "bearer_proxy.py"), check, self.backend])
        self.base = f"http://127.0.0.1:{front_port}"
        self.book = f"/{USER}/contacts/"
        body = ('<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:CR="urn:ietf:params:xml:ns:carddav"><set><prop>'
                "<resourcetype><collection/><CR:addressbook/></resourcetype><displayname>contacts</displayname>"
                "</prop></set></mkcol>")
        self.request("MKCOL", self.book, body.encode())

    def request(self, method, path, body=None, headers=None, timeout=30):
        # The test itself goes to the back, as the user.
        r = urllib.request.Request(self.backend + path, data=body, method=method,
                                   headers=dict(headers or {}, **{"X-Remote-User": USER}))
        try:
            with urllib.request.urlopen(r, timeout=timeout) as resp:
                return resp.status, resp.read(), resp.headers.get("ETag")
        except urllib.error.HTTPError as e:
            return e.code, e.read(), None

    def stop(self):
        stop(self.front)
        self.radicale.terminate()
        self.radicale.wait(timeout=30)


class SignIn(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="cheerpost-signin-")
        cls.oauth, port = start([os.path.join(SUPPORT, "oauth_server.py"), CLIENT],
                               os.path.join(cls.work, "oauth.log"))
        cls.issuer = f"http://127.0.0.1:{port}"
        cert, key, _ = make_certificate(cls.work)
        cls.cert = cert
        cls.smtp, cls.smtp_port = start([os.path.join(SUPPORT, "smtp_server.py"), os.path.join(cls.work, "received"),
                                         "starttls", cert, key, "--user", USER,
                                         "--bearer-check", cls.issuer + "/check"], os.path.join(cls.work, "smtp.log"))
        cls.dav = BearerRadicale(cls.work, cls.issuer + "/check")
        cls.dav.put("ben", card("ben", "Ben Miller", "BDAY:1980-12-24\r\n"))

    @classmethod
    def tearDownClass(cls):
        cls.dav.stop()
        stop(cls.smtp)
        stop(cls.oauth)

    def setUp(self):
        self.root = tempfile.mkdtemp(dir=self.work)
        self.token_file = os.path.join(self.root, "refresh-token")
        self.browser_log = os.path.join(self.root, "browser.log")
        with open(os.path.join(self.root, "providers.json"), "w") as f:
            json.dump({"version": 1, "providers": [{
                "id": "google", "name": "Google", "domains": ["example.org"],
                "smtp": {"host": "127.0.0.1", "port": self.smtp_port, "security": "starttls"},
                "contacts": {"kind": "carddav", "url": self.dav.base + "/"},
                "signIn": {"authorize": self.issuer + "/authorize", "token": self.issuer + "/token",
                           "mailScopes": ["mail"], "contactsScopes": ["contacts"]}}]}, f)
        for box in ("Outbox", "Sent"):
            for sub in ("cur", "new", "tmp"):
                os.makedirs(os.path.join(self.root, "Mail", box, sub))
        os.makedirs(os.path.join(self.root, "Contacts"))
        self.configure()

    def configure(self, client=CLIENT, smtp_port=None):
        folder = os.path.join(self.root, "config", "cheerpost")
        os.makedirs(folder, exist_ok=True)
        browser = f"/usr/bin/python3 {os.path.join(SUPPORT, 'scripted_browser.py')}"
        with open(os.path.join(folder, "host.conf"), "w") as f:
            f.write(f"[General]\nContacts={self.root}/Contacts\nMail={self.root}/Mail\nState={self.root}/State\n"
                    f"[Smtp]\nHost=127.0.0.1\nPort={smtp_port or self.smtp_port}\nSecurity=starttls\nUser={USER}\n"
                    f"SignIn=google\nPasswordCommand=cat {self.token_file}\nCaFile={self.cert}\n"
                    f"[AddressBook]\nUrl={self.dav.base}/\nUser={USER}\nSignIn=google\n"
                    f"PasswordCommand=cat {self.token_file}\n"
                    f"[SignIn]\nProviders={self.root}/providers.json\nBrowser={browser}\n"
                    f"[SignIn.google]\nClientId={client}\n")

    def env(self, **extra):
        return dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "config"), DBUS_SESSION_BUS_ADDRESS="",
                    CHEERPOST_TEST_BROWSER_LOG=self.browser_log, **extra)

    def sign_in(self, **extra):
        return subprocess.run([PROBE, "google", USER, self.token_file], env=self.env(**extra), capture_output=True,
                              text=True, timeout=90)

    def queue(self, subject):
        message = (f"From: {USER}\nTo: ben@example.org\nSubject: {subject}\nMIME-Version: 1.0\n"
                   "Content-Type: text/plain; charset=utf-8\n\nHappy birthday!\n")
        path = os.path.join(self.root, "Mail", "Outbox", "new", f"{time.time()}.{subject}.host")
        with open(path, "w") as f:
            f.write(message)

    def deliver(self, *args):
        return subprocess.run([DELIVER] + list(args), env=self.env(), capture_output=True, text=True, timeout=120)

    def received(self, subject):
        for path in glob.glob(os.path.join(self.work, "received", "new", "*")):
            with open(path, "rb") as f:
                if f"Subject: {subject}".encode() in f.read():
                    return True
        return False

    def test_one_sign_in_in_the_browser_sends_mail_and_syncs_contacts_by_token(self):
        r = self.sign_in()
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.browser_log) as f:
            opened = urllib.parse.parse_qs(urllib.parse.urlsplit(f.read().strip()).query)
        self.assertEqual(opened["code_challenge_method"], ["S256"])
        self.assertEqual(opened["scope"], ["mail contacts"])
        self.assertEqual(opened["login_hint"], [USER])
        self.assertTrue(opened["redirect_uri"][0].startswith("http://127.0.0.1:"))

        self.queue("by-token")
        r = self.deliver()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(self.received("by-token"))
        self.assertEqual(glob.glob(os.path.join(self.root, "Mail", "Outbox", "new", "*")), [])
        # A server that offers XOAUTH2 alone, as Microsoft's do, takes the same token.
        received = os.path.join(self.root, "received")
        other, port = start([os.path.join(SUPPORT, "smtp_server.py"), received, "starttls", self.cert,
                             self.cert.replace("cert.pem", "key.pem"), "--user", USER, "--bearer-check",
                             self.issuer + "/check", "--xoauth2-only"])
        try:
            self.configure(smtp_port=port)
            self.queue("by-xoauth2")
            r = self.deliver()
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(len(glob.glob(os.path.join(received, "new", "*"))), 1)
        finally:
            stop(other)
        with open(os.path.join(self.work, "logins")) as f:
            self.assertIn("OAUTHBEARER ok", f.read())
        with open(os.path.join(self.root, "logins")) as f:
            self.assertEqual(f.read(), "XOAUTH2 ok\n")

        r = self.deliver("--sync")
        self.assertEqual(r.returncode, 0, r.stderr)
        cards = glob.glob(os.path.join(self.root, "Contacts", "*.vcf"))
        self.assertEqual(len(cards), 1)
        with open(cards[0]) as f:
            self.assertIn("FN:Ben Miller", f.read())

    def test_a_revoked_sign_in_sends_nothing_and_says_to_sign_in_again(self):
        self.assertEqual(self.sign_in().returncode, 0)
        with open(self.token_file) as f:
            refresh = f.read()
        body = urllib.parse.urlencode({"token": refresh, "token_type_hint": "refresh_token",
                                       "client_id": CLIENT}).encode()
        urllib.request.urlopen(self.issuer + "/revoke", data=body, timeout=10).read()
        self.queue("after-revoke")
        r = self.deliver()
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("sign in again", r.stderr)
        self.assertNotIn(refresh, r.stderr + r.stdout)
        self.assertFalse(self.received("after-revoke"))
        self.assertEqual(len(glob.glob(os.path.join(self.root, "Mail", "Outbox", "new", "*"))), 1)
        r = self.deliver("--sync")
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("sign in again", r.stderr)
        self.assertEqual(glob.glob(os.path.join(self.root, "Contacts", "*.vcf")), [])

    def test_a_declined_consent_or_no_client_id_is_told_and_keeps_nothing(self):
        r = self.sign_in(CHEERPOST_TEST_CONSENT="no")
        self.assertEqual(r.returncode, 1)
        self.assertIn("access_denied", r.stderr)
        self.assertFalse(os.path.exists(self.token_file))
        os.remove(self.browser_log)
        self.configure(client="")
        r = self.sign_in()
        self.assertEqual(r.returncode, 1)
        self.assertIn("No client ID is set for signing in with Google", r.stderr)
        self.assertFalse(os.path.exists(self.browser_log))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
