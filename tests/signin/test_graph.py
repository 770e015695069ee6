#!/usr/bin/python3
"""Microsoft contacts through Microsoft Graph: cheerpost-deliver --sync against
a Graph stand-in (tests/support/graph_server.py) that takes the tokens of a
real OAuth 2.0 server (Authlib), signed in through the scripted browser.
First sync and delta rounds, an expired delta token, throttling, the dates
written back with the change key, and deletions under the one rule.

Usage: test_graph.py CHEERPOST_DELIVER SIGNIN_PROBE
"""
import glob
import json
import os
import socket
import subprocess
import sys
import tempfile
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SUPPORT = os.path.join(HERE, "..", "support")
sys.path.insert(0, HERE)
from test_sign_in import CLIENT, start, stop  # noqa: E402

DELIVER = sys.argv[1] if len(sys.argv) > 1 else "cheerpost-deliver"
PROBE = sys.argv[2] if len(sys.argv) > 2 else "signin_probe"
USER = "anna@contoso.test"


class MicrosoftContacts(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix="cheerpost-graph-")
        cls.oauth, port = start([os.path.join(SUPPORT, "oauth_server.py"), CLIENT])
        cls.issuer = f"http://127.0.0.1:{port}"

    @classmethod
    def tearDownClass(cls):
        stop(cls.oauth)

    def setUp(self):
        self.graph, port = start([os.path.join(SUPPORT, "graph_server.py"), "--check", self.issuer + "/check"],
                                 os.path.join(self.work, "graph.log"))
        self.base = f"http://127.0.0.1:{port}"
        self.root = tempfile.mkdtemp(dir=self.work)
        self.contacts = os.path.join(self.root, "Contacts")
        os.makedirs(self.contacts)
        token_file = os.path.join(self.root, "refresh-token")
        with open(os.path.join(self.root, "providers.json"), "w") as f:
            json.dump({"version": 1, "providers": [{
                "id": "microsoft", "name": "Microsoft", "domains": ["contoso.test"],
                "contacts": {"kind": "graph", "url": self.base + "/v1.0"},
                "signIn": {"authorize": self.issuer + "/authorize", "token": self.issuer + "/token",
                           "mailScopes": ["SMTP.Send", "offline_access"],
                           "contactsScopes": ["Contacts.ReadWrite", "offline_access"]}}]}, f)
        folder = os.path.join(self.root, "config", "cheerpost")
        os.makedirs(folder)
        with open(os.path.join(folder, "host.conf"), "w") as f:
            f.write(f"[General]\nContacts={self.contacts}\nMail={self.root}/Mail\nState={self.root}/State\n"
                    f"[AddressBook]\nKind=graph\nUrl={self.base}/v1.0\nUser={USER}\nSignIn=microsoft\n"
                    f"PasswordCommand=cat {token_file}\n"
                    f"[SignIn]\nProviders={self.root}/providers.json\n"
                    f"Browser=/usr/bin/python3 {os.path.join(SUPPORT, 'scripted_browser.py')}\n"
                    f"[SignIn.microsoft]\nClientId={CLIENT}\n")
        r = subprocess.run([PROBE, "microsoft", USER, token_file], env=self.env(), capture_output=True, text=True,
                           timeout=90)
        self.assertEqual(r.returncode, 0, r.stderr)

    def tearDown(self):
        stop(self.graph)

    def env(self):
        return dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "config"), DBUS_SESSION_BUS_ADDRESS="")

    def call(self, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        r = urllib.request.Request(self.base + path, data=data, method="POST" if data is not None else "GET",
                                   headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(r, timeout=10) as resp:
            text = resp.read()
            return json.loads(text) if text else None

    def put(self, cid, **fields):
        return self.call("/test/put", dict(fields, id=cid))

    def sync(self, *extra):
        return subprocess.run([DELIVER, "--sync", *extra], env=self.env(), capture_output=True, text=True,
                              timeout=120)

    def local(self):
        out = {}
        for path in glob.glob(os.path.join(self.contacts, "*.vcf")):
            with open(path, newline="") as f:
                text = f.read()
            uid = next(l[4:] for l in text.split("\r\n") if l.startswith("UID:"))
            self.assertNotIn(uid, out)  # one file a contact, never two
            out[uid] = (path, text)
        return out

    def fetched(self):
        return [line for line in self.call("/test/log") if line.startswith("GET /v1.0/me/contacts/")]

    def test_first_sync_then_only_the_changes_and_an_expired_delta_loses_nothing(self):
        for n in range(5):
            self.put(f"c{n}", displayName=f"Person {n}", givenName="Person", surname=str(n),
                     birthday=f"198{n}-05-0{n + 1}T11:59:00Z", anniversary=None)
        self.put("c9", displayName="Cousin", folder="AAMkAGI2FAMILY=")  # another folder: not synced
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("5 fetched", r.stdout)
        cards = self.local()
        self.assertEqual(sorted(cards), [f"c{n}" for n in range(5)])
        self.assertIn("BDAY:1983-05-04\r\n", cards["c3"][1])

        # Changed, deleted and added at Microsoft: only those are fetched.
        log = len(self.fetched())
        self.put("c1", spouseName="Tom", anniversary="2001-09-08T22:00:00Z")
        self.call("/test/delete", {"id": "c2"})
        self.put("c5", displayName="Person 5")
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("2 fetched, 0 uploaded, 1 deleted", r.stdout)
        self.assertEqual(sorted(self.fetched()[log:]), ["GET /v1.0/me/contacts/c1", "GET /v1.0/me/contacts/c5"])
        cards = self.local()
        self.assertNotIn("c2", cards)
        self.assertIn("X-ANNIVERSARY:2001-09-09\r\nX-SPOUSE:Tom\r\n", cards["c1"][1])

        # The delta token expires: a full round, the unchanged contacts kept as they are, nothing doubled.
        self.call("/test/expire")
        self.put("c3", displayName="Person Three")
        before = {uid: text for uid, (_, text) in self.local().items()}
        log = len(self.fetched())
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.fetched()[log:], ["GET /v1.0/me/contacts/c3"])
        after = {uid: text for uid, (_, text) in self.local().items()}
        self.assertEqual(sorted(after), sorted(before))
        self.assertEqual({k: v for k, v in after.items() if k != "c3"}, {k: v for k, v in before.items() if k != "c3"})
        self.assertIn("FN:Person Three", after["c3"])

    def test_a_date_written_here_goes_back_with_the_change_key_and_is_merged_after_a_conflict(self):
        self.put("ben", displayName="Ben Berg", birthday="1980-12-24T11:59:00Z", spouseName="Clara", anniversary=None)
        self.assertEqual(self.sync().returncode, 0)
        path, text = self.local()["ben"]
        with open(path, "w", newline="") as f:  # as the reminder run writes a date
            f.write(text.replace("BDAY:1980-12-24\r\n", "BDAY:1980-12-25\r\nX-ANNIVERSARY:2004-05-06\r\n"))
        self.put("ben", spouseName="Clara Berg")  # meanwhile at Microsoft: a new change key
        self.call("/test/throttle", {"count": 2})  # and it throttles twice
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 uploaded", r.stdout)
        server = self.call("/test/contacts")["ben"]
        self.assertEqual(server["birthday"], "1980-12-25T11:59:00Z")
        self.assertEqual(server["spouseName"], "Clara Berg")
        self.assertEqual(server["singleValueExtendedProperties"],
                         [{"id": "SystemTime 0x3A41", "value": "2004-05-06T11:59:00Z"}])
        text = self.local()["ben"][1]
        self.assertIn("BDAY:1980-12-25\r\n", text)
        self.assertIn("X-SPOUSE:Clara Berg\r\n", text)
        methods = {line.split()[0] for line in self.call("/test/log")}
        self.assertEqual(methods, {"GET", "PATCH"})  # never a contact made or deleted there

    def test_contacts_gone_at_microsoft_all_at_once_are_kept_until_the_user_agrees(self):
        for n in range(3):
            self.put(f"c{n}", displayName=f"Person {n}")
        self.assertEqual(self.sync().returncode, 0)
        for n in range(3):
            self.call("/test/delete", {"id": f"c{n}"})
        r = self.sync()
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("no longer has 3 of the 3 contacts here; none was deleted here", r.stderr)
        self.assertEqual(len(self.local()), 3)

    def test_an_oversized_field_is_cut_and_an_oversized_page_fails_the_sync_and_loses_nothing(self):
        self.put("c1", displayName="Person One")
        self.put("c2", displayName="Person Two", givenName="y" * (1536 * 1024))
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        local = self.local()
        self.assertEqual(sorted(local), ["c1", "c2"])
        self.assertLess(os.path.getsize(local["c2"][0]), 64 * 1024)  # what a contact holds is bounded
        self.put("c3", displayName="Person Three")
        self.call("/test/huge", {"bytes": 65 * 1024 * 1024})
        r = self.sync()
        self.assertEqual(r.returncode, 1, r.stdout)
        self.assertIn("larger than 64 MB", r.stderr)
        self.assertEqual(sorted(self.local()), ["c1", "c2"])
        r = self.sync()  # the server behaves again: nothing was lost on the way
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(self.local()), ["c1", "c2", "c3"])

    def test_a_next_page_named_on_another_host_gets_no_token(self):
        for n in range(30):  # more than a page
            self.put(f"c{n:02}", displayName=f"Person {n}")
        self.call("/test/elsewhere", {"host": "127.0.0.2"})
        # Whatever listens there would be handed the token: nothing must go.
        with socket.socket() as trap:
            trap.bind(("127.0.0.2", int(self.base.rsplit(":", 1)[1])))
            trap.listen(1)
            trap.settimeout(0.1)
            r = self.sync()
            with self.assertRaises(socket.timeout):
                trap.accept()
        self.assertNotEqual(r.returncode, 0, r.stdout)
        self.assertIn("127.0.0.2", r.stderr)  # named to the user


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
