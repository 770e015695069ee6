#!/usr/bin/python3
"""An address book server that misbehaves, run here on 127.0.0.1: replies
that are malformed, too large, cut off or redirected without end, hrefs
outside the address book, a card that is no vCard, a server that dies in an
upload. Each gives one clear line, leaves whole files only in the Contacts
folder, loses no change made here, and a rerun on a sound server completes.

Usage: test_hostile_server.py CHEERPOST_DELIVER
"""
import hashlib
import html
import http.server
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import test_address_book as base  # noqa: E402

DELIVER = sys.argv[1] if len(sys.argv) > 1 else "cheerpost-deliver"
BOOK = "/book/"


class Dav(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", 0)))

    def answer(self, status, data=b"", headers=()):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def multistatus(self, responses):
        xml = ('<?xml version="1.0" encoding="utf-8"?>\n<d:multistatus xmlns:d="DAV:" '
               'xmlns:c="urn:ietf:params:xml:ns:carddav">' + "".join(responses) + "</d:multistatus>")
        return xml.encode()

    @staticmethod
    def response(href, props):
        return (f"<d:response><d:href>{html.escape(href)}</d:href><d:propstat><d:prop>{props}</d:prop>"
                "<d:status>HTTP/1.1 200 OK</d:status></d:propstat></d:response>")

    def common_fault(self):
        fault = self.server.fault
        self.server.authorizations.append((self.headers.get("Host"), self.headers.get("Authorization")))
        if fault == "loop":
            self.answer(301, headers=[("Location", self.path)])
        elif fault.startswith("redirect "):  # the address book moved, elsewhere
            self.answer(301, headers=[("Location", fault.split(" ", 1)[1] + self.path)])
        elif fault == "trickle":  # a byte every 2 seconds, for ever
            self.send_response(207)
            self.send_header("Content-Length", "100000")
            self.end_headers()
            try:
                for _ in range(100):
                    self.wfile.write(b" ")
                    self.wfile.flush()
                    time.sleep(2)
            except OSError:
                pass
        elif fault == "forbidden":
            self.answer(403, b"Forbidden")
        else:
            return False
        return True

    def do_PROPFIND(self):
        request = self.body()
        if self.common_fault():
            return
        cards = self.server.cards
        if self.headers.get("Depth") == "0":
            if b"sync-token" in request:  # no tokens here unless asked for: the ETags are compared
                if not self.server.tokens:
                    return self.answer(207, self.multistatus([]))
                return self.answer(207, self.multistatus([self.response(
                    BOOK, f"<d:sync-token>t{self.server.serial}</d:sync-token>")]))
            return self.answer(207, self.multistatus([self.response(
                BOOK, "<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>")]))
        if self.server.during_listing:
            self.server.during_listing()  # another program at work on the contacts meanwhile
        listed = [self.response(BOOK, "<d:resourcetype><d:collection/><c:addressbook/></d:resourcetype>")]
        listed += [self.response(BOOK + name, f'<d:getetag>"{etag}"</d:getetag>') for name, (etag, _) in cards.items()]
        if self.server.fault == "foreign":
            listed += [self.response(h, '<d:getetag>"x"</d:getetag>')
                       for h in ("/other/c9.vcf", "http://elsewhere.example/book/c9.vcf", "/book/../etc/c9.vcf")]
        self.answer(207, self.multistatus(listed))

    def do_REPORT(self):
        request = self.body().decode()
        if self.common_fault():
            return
        fault = self.server.fault
        if "sync-collection" in request:
            if not self.server.tokens:
                return self.answer(403, b'<error xmlns="DAV:"><valid-sync-token/></error>')
            gone = fault == "report-deletes-all"
            listed = [f"<d:response><d:href>{BOOK}{name}</d:href><d:status>HTTP/1.1 404 Not Found</d:status>"
                      "</d:response>" if gone else self.response(BOOK + name, f'<d:getetag>"{etag}"</d:getetag>')
                      for name, (etag, _) in self.server.cards.items()]
            xml = self.multistatus(listed).replace(b"</d:multistatus>", b"<d:sync-token>t%d</d:sync-token>"
                                                   b"</d:multistatus>" % self.server.serial)
            return self.answer(207, xml)
        if fault == "huge":
            self.send_response(207)
            self.send_header("Content-Length", str(65 << 20))
            self.end_headers()
            try:
                for _ in range(65):
                    self.wfile.write(b" " * (1 << 20))
            except OSError:
                pass
            return
        if self.server.during_fetch:
            self.server.during_fetch()  # another program at work on the contacts meanwhile
        answered = []
        for href in re.findall(r"<d:href>([^<]*)</d:href>", request):
            name = html.unescape(href)[len(BOOK):]
            if name in self.server.cards:
                etag, data = self.server.cards[name]
                answered.append(self.response(href, f'<d:getetag>"{etag}"</d:getetag>'
                                                    f"<c:address-data>{html.escape(data)}</c:address-data>"))
        if fault == "foreign":  # cards nobody asked for, some outside the address book
            for h in ("/other/c9.vcf", "/book/../etc/c9.vcf", "/book/unasked.vcf"):
                answered.append(self.response(h, '<d:getetag>"x"</d:getetag><c:address-data>'
                                                  + html.escape(base.card("c9", "Intruder")) + "</c:address-data>"))
        data = self.multistatus(answered)
        if fault == "malformed":
            return self.answer(207, data[: len(data) // 2])
        if fault == "cut-off":  # says how long its answer is, and stops halfway
            self.send_response(207)
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data[: len(data) // 2])
            self.close_connection = True
            return
        self.answer(207, data)

    def do_GET(self):
        if self.common_fault():
            return
        name = self.path[len(BOOK):]
        if name not in self.server.cards:
            return self.answer(404)
        etag, data = self.server.cards[name]
        self.answer(200, data.encode(), [("ETag", f'"{etag}"'), ("Content-Type", "text/vcard")])

    def do_PUT(self):
        data = self.body().decode()
        if self.common_fault():
            return
        if self.server.fault == "dies-in-upload":  # takes the card and is gone before it answers
            self.close_connection = True
            self.connection.shutdown(2)
            return
        name = self.path[len(BOOK):]
        if name not in self.server.cards:
            return self.answer(412)
        if self.headers.get("If-Match") != f'"{self.server.cards[name][0]}"':
            return self.answer(412)
        self.server.put(name, data)
        self.answer(204, headers=[("ETag", f'"{self.server.cards[name][0]}"')])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, host="127.0.0.1"):
        super().__init__((host, 0), Dav)
        self.cards, self.fault, self.serial, self.tokens = {}, "", 0, False
        self.during_fetch = self.during_listing = None
        self.odd_etags = False  # ETags holding a tab, a backslash and a quote
        self.authorizations = []
        self.base = f"http://{host}:{self.server_address[1]}"
        threading.Thread(target=self.serve_forever, daemon=True).start()

    def handle_error(self, request, client_address):
        pass  # the program hung up on a reply it would not read: as meant

    def put(self, name, data):
        self.serial += 1
        self.cards[name] = (f'{self.serial}\t\\"q' if self.odd_etags else str(self.serial), data)


class HostileServer(base.SyncCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="cheerpost-carddav-hostile-")
        self.server = Server()
        self.contacts = os.path.join(self.root, "Contacts")
        self.configure(url=self.server.base + BOOK)
        for i in (1, 2):
            self.server.put(f"c{i}.vcf", base.card(f"c{i}", f"Person {i}", "BDAY:1980-05-0%d\r\n" % i))
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()
        shutil.rmtree(self.root, ignore_errors=True)

    def assertWholeFilesOnly(self):
        names = os.listdir(self.contacts)
        self.assertEqual([n for n in names if not n.endswith(".vcf")], [], "a temporary file is left")
        for name in names:
            with open(os.path.join(self.contacts, name), newline="") as f:
                text = f.read()
            self.assertTrue(text.startswith("BEGIN:VCARD\r\n") and text.endswith("END:VCARD\r\n"), name)
        # Nothing written anywhere but the Contacts folder and the state folder.
        for top in os.listdir(self.root):
            self.assertIn(top, ("Contacts", "State", "config"))

    def test_a_reply_that_breaks_off_or_is_bad_changes_nothing_and_a_rerun_completes(self):
        faults = {
            "malformed": "answered 207 to the cards asked for",
            "huge": "larger than 64 MB",
            "cut-off": "closed the connection before its answer was complete",
            "loop": "without end",
            "forbidden": "does not let this user reach",
        }
        for serial, (fault, words) in enumerate(faults.items()):
            with self.subTest(fault=fault):
                self.server.put("c1.vcf", base.card("c1", f"Person One {serial}", "BDAY:1980-05-01\r\n"))
                self.server.fault = fault
                r = self.sync()
                self.assertEqual(r.returncode, 1, r.stdout)
                self.assertIn(words, r.stderr)
                self.assertEqual(len(r.stderr.strip().splitlines()), 1, r.stderr)
                self.assertWholeFilesOnly()
                self.assertEqual(sorted(self.local()), ["c1", "c2"])
                self.server.fault = ""
                r = self.sync()
                self.assertEqual(r.returncode, 0, r.stderr)
                self.assertIn("1 fetched", r.stdout)
                self.assertIn(f"FN:Person One {serial}", self.local()["c1"][1])

    def test_cards_outside_the_address_book_and_a_card_that_is_no_vcard_are_left_out(self):
        self.server.fault = "foreign"
        self.server.put("c3.vcf", "<html><body>Not a card</body></html>")
        self.server.put("c2.vcf", base.card("c2", "Person Two"))
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 fetched, 0 uploaded, 0 deleted, 1 skipped", r.stdout)
        self.assertIn("/book/c3.vcf: what the server holds there is not a vCard", r.stdout)
        self.assertEqual(sorted(self.local()), ["c1", "c2"])
        self.assertNotIn("Intruder", "".join(text for _, text in self.local().values()))
        self.assertWholeFilesOnly()

    def test_an_address_book_that_suddenly_lists_nothing_deletes_nothing_here(self):
        cards = dict(self.server.cards)
        self.server.cards.clear()
        r = self.sync()
        self.assertEqual(r.returncode, 1)
        self.assertIn("lists no contact now; the 2 contacts here were kept", r.stderr)
        self.assertEqual(sorted(self.local()), ["c1", "c2"])
        self.server.cards.update(cards)
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("0 fetched, 0 uploaded, 0 deleted", r.stdout)

    def test_etags_that_need_escaping_come_back_from_the_state_as_the_server_wrote_them(self):
        self.server.odd_etags = True
        self.server.put("c1.vcf", base.card("c1", "Person One", "BDAY:1980-05-01\r\n"))
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 fetched", r.stdout)
        r = self.sync()  # the state read back: the same ETags, nothing to fetch
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("0 fetched, 0 uploaded, 0 deleted", r.stdout)
        self.edit_locally("c1", "BDAY:1980-05-01", "BDAY:1980-05-11")
        r = self.sync()  # If-Match carries the ETag as it was given
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("0 fetched, 1 uploaded", r.stdout)
        self.assertIn("BDAY:1980-05-11", self.server.cards["c1.vcf"][1])

    def test_two_cards_of_the_same_bytes_keep_what_the_merge_needs(self):
        twin = base.card("dup", "Dup Licate", "BDAY:1980-01-01\r\nTEL:1\r\n")
        self.server.put("c3.vcf", twin)
        self.server.put("c4.vcf", twin)
        self.assertEqual(self.sync().returncode, 0)
        self.server.put("c3.vcf", base.card("dup", "Dup Licate", "BDAY:1980-01-01\r\nTEL:3\r\n"))
        self.assertEqual(self.sync().returncode, 0)
        # c4 changed here and, on another line, on the server: merged, not lost.
        name = "carddav-%s.vcf" % hashlib.sha1(f"{self.server.base}{BOOK}c4.vcf".encode()).hexdigest()[:24]
        path = os.path.join(self.contacts, name)
        with open(path, newline="") as f:
            text = f.read()
        with open(path, "w", newline="") as f:
            f.write(text.replace("BDAY:1980-01-01", "BDAY:1980-01-11"))
        self.server.put("c4.vcf", base.card("dup", "Dup Licate", "BDAY:1980-01-01\r\nTEL:4\r\n"))
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 uploaded", r.stdout)
        self.assertIn("BDAY:1980-01-11", self.server.cards["c4.vcf"][1])
        self.assertIn("TEL:4", self.server.cards["c4.vcf"][1])

    def test_a_server_that_dies_in_an_upload_loses_no_change_made_here(self):
        self.edit_locally("c1", "BDAY:1980-05-01", "BDAY:1980-05-11")
        self.server.fault = "dies-in-upload"
        r = self.sync()
        self.assertEqual(r.returncode, 1)
        self.assertIn("closed the connection", r.stderr)
        self.assertIn("BDAY:1980-05-11", self.local()["c1"][1])
        self.assertNotIn("BDAY:1980-05-11", self.server.cards["c1.vcf"][1])
        self.server.fault = ""
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("0 fetched, 1 uploaded", r.stdout)
        self.assertIn("BDAY:1980-05-11", self.server.cards["c1.vcf"][1])
        self.assertWholeFilesOnly()

    def test_a_change_made_here_while_the_card_is_fetched_stays_and_goes_up_merged(self):
        self.server.put("c1.vcf", base.card("c1", "Person One", "BDAY:1980-05-01\r\n"))
        self.server.during_fetch = lambda: self.edit_locally("c1", "BDAY:1980-05-01", "BDAY:1980-05-21")
        r = self.sync()
        self.assertIn("BDAY:1980-05-21", self.local()["c1"][1])  # not written over
        self.assertIn("Person 1", self.local()["c1"][1])
        self.server.during_fetch = None
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 uploaded", r.stdout)
        # The server's new name and the date set here, together.
        self.assertIn("FN:Person One", self.server.cards["c1.vcf"][1])
        self.assertIn("BDAY:1980-05-21", self.server.cards["c1.vcf"][1])
        self.assertWholeFilesOnly()

    def test_a_contact_edited_here_while_the_server_lists_it_gone_stays_here(self):
        del self.server.cards["c2.vcf"]
        self.server.during_listing = lambda: self.edit_locally("c2", "BDAY:1980-05-02", "BDAY:1980-05-22")
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("deleted on the server, but it holds a change made here that was not uploaded", r.stdout)
        self.assertIn("BDAY:1980-05-22", self.local()["c2"][1])
        self.assertWholeFilesOnly()

    def test_a_report_that_deletes_every_card_deletes_nothing_until_the_user_agrees(self):
        self.server.tokens = True
        self.server.put("c3.vcf", base.card("c3", "Person 3"))
        self.assertEqual(self.sync().returncode, 0)
        self.server.fault = "report-deletes-all"
        r = self.sync()
        self.assertEqual(r.returncode, 1)
        self.assertIn("no longer has 3 of the 3 contacts here; none was deleted here", r.stderr)
        self.assertEqual(sorted(self.local()), ["c1", "c2", "c3"])

    def test_redirects_and_replies_never_take_the_login_to_plain_http_or_another_site(self):
        other = Server("127.0.0.2")  # another host, as far as the program can tell
        self.addCleanup(other.shutdown)
        for i in (1, 2):
            other.put(f"c{i}.vcf", base.card(f"c{i}", f"Person {i}", "BDAY:1980-05-0%d\r\n" % i))
        cases = {f"redirect http://contacts.example.org:{self.server.server_address[1]}": "over plain http",
                 "redirect " + other.base: "another site, 127.0.0.2"}
        for fault, words in cases.items():
            with self.subTest(fault=fault):
                self.server.fault = fault
                r = self.sync()
                self.assertEqual(r.returncode, 1)
                self.assertIn(words, r.stderr)
                self.assertEqual(sorted(self.local()), ["c1", "c2"])
        self.assertEqual(other.authorizations, [])  # never reached, so never told the password
        # Once the user allowed the site, the login goes there.
        self.configure(url=self.server.base + BOOK, extra="AllowedSite=127.0.0.2\n")
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(other.authorizations)

    def test_a_password_command_with_a_comma_is_run_as_written(self):
        script = os.path.join(self.root, "pass,word")
        with open(script, "w") as f:
            f.write(f"#!/bin/sh\nprintf {base.PASSWORD}\n")
        os.chmod(script, 0o700)
        conf = os.path.join(self.root, "config", "cheerpost", "host.conf")
        with open(conf) as f:
            text = f.read()
        with open(conf, "w") as f:
            f.write(text.replace(f"PasswordCommand=printf {base.PASSWORD}", f"PasswordCommand={script}"))
        self.server.put("c2.vcf", base.card("c2", "Person Two"))
        r = self.sync()
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn("1 fetched", r.stdout)

    def test_a_slow_address_book_never_holds_up_the_mail(self):
        self.server.fault = "trickle"
        conf = os.path.join(self.root, "config", "cheerpost", "host.conf")
        with open(conf) as f:
            text = f.read()
        with open(conf, "w") as f:
            f.write(text.replace("[General]\n", "[General]\nDeliveryTimeout=3\nDeliveryCommand=cat\n"))
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(self.root, "config"), DBUS_SESSION_BUS_ADDRESS="")
        started = time.monotonic()
        r = subprocess.run([DELIVER], env=env, capture_output=True, text=True, timeout=120)
        self.assertLess(time.monotonic() - started, 20, r.stderr)
        self.assertIn("the address book was not synced", r.stderr)
        self.assertIn("delivered", r.stdout)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
