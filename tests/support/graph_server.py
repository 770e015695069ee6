#!/usr/bin/python3
"""A stand-in for Microsoft Graph's contacts on 127.0.0.1, answering in the
shapes of the documented examples: a contact is tests/data/graph/contact.json
with its own fields; delta rounds page with @odata.nextLink and end with
@odata.deltaLink, a removed contact comes as {"id", "@removed"}; PATCH
checks If-Match against the change key (412 otherwise); an expired delta
token gets 410, a throttled request 429 with Retry-After. Every request must
carry a Bearer token that CHECK?token=... (oauth_server.py) calls live, or
the one given with --token.

The test steers it under /test: POST /test/put {contact fields, "folder"},
POST /test/delete {"id"}, POST /test/expire (every delta token so far gets
410), POST /test/throttle {"count"} (the next requests get 429), POST
/test/huge {"bytes"} (the next delta page is that much larger), GET
/test/contacts, GET /test/log (method and path of each API request).

Usage: graph_server.py (--check URL | --token TOKEN) [--page N]
Prints its port, then serves until its standard input closes.
"""
import argparse
import copy
import http.server
import json
import os
import threading
import urllib.parse
import urllib.request

import standin

TEMPLATE = json.load(open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "graph",
                                       "contact.json")))
ANNIVERSARY = "SystemTime 0x3A41"
DEFAULT_FOLDER = "AAMkAGI2AAEOAAA="
LOCK = threading.Lock()
STATE = {"version": 0, "contacts": {}, "removed": {}, "expired_below": 0, "throttle": 0, "log": [],
         "folders": [{"id": "AAMkAGI2FAMILY=", "displayName": "Family", "parentFolderId": DEFAULT_FOLDER}]}


def bump(contact):
    STATE["version"] += 1
    contact["_version"] = STATE["version"]
    contact["changeKey"] = f"EQAAABYAAAAFo4QiC6Ti{STATE['version']:08d}"
    contact["@odata.etag"] = f'W/"{contact["changeKey"]}"'


def public(contact, expand):
    out = {k: v for k, v in contact.items() if not k.startswith("_")}
    out.pop("@odata.context", None)
    anniversary = contact.get("_anniversary")
    out.pop("singleValueExtendedProperties", None)
    if expand and anniversary:
        out["singleValueExtendedProperties"] = [{"id": ANNIVERSARY, "value": anniversary}]
    return out


def put(fields):
    folder = fields.pop("folder", DEFAULT_FOLDER)
    c = STATE["contacts"].get(fields["id"])
    if c is None:
        c = copy.deepcopy(TEMPLATE)
        for k in ("singleValueExtendedProperties", "@odata.context"):
            c.pop(k, None)
        c["parentFolderId"] = folder
        c["_anniversary"] = None
    for k, v in fields.items():
        if k == "anniversary":
            c["_anniversary"] = v
        else:
            c[k] = v
    bump(c)
    STATE["contacts"][c["id"]] = c
    STATE["removed"].pop(c["id"], None)
    return c


class Graph(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    options = None

    def log_message(self, *args):
        pass

    def reply(self, status, body=None, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        if body is not None:
            self.send_header("Content-Type", "application/json; odata.metadata=minimal")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def error(self, status, code, message, headers=()):
        self.reply(status, {"error": {"code": code, "message": message}}, headers)

    def authorised(self):
        auth = self.headers.get("Authorization", "")
        token = auth[7:] if auth.startswith("Bearer ") else ""
        if self.options.token is not None:
            return token == self.options.token
        try:
            query = urllib.parse.urlencode({"token": token})
            with urllib.request.urlopen(self.options.check + "?" + query, timeout=10) as r:
                return json.load(r).get("active", False)
        except OSError:
            return False

    def base(self):
        return f"http://127.0.0.1:{self.server.server_address[1]}/v1.0"

    def body(self):
        return json.loads(self.data or b"{}")

    def handle_test(self, path):
        with LOCK:
            if path == "/test/put":
                c = put(self.body())
                return self.reply(200, public(c, True))
            if path == "/test/delete":
                cid = self.body()["id"]
                if STATE["contacts"].pop(cid, None) is not None:
                    STATE["version"] += 1
                    STATE["removed"][cid] = STATE["version"]
                return self.reply(204)
            if path == "/test/expire":
                STATE["expired_below"] = STATE["version"] + 1
                return self.reply(204)
            if path == "/test/throttle":
                STATE["throttle"] = self.body()["count"]
                return self.reply(204)
            if path == "/test/huge":
                STATE["huge"] = self.body()["bytes"]  # the next delta page carries this much more
                return self.reply(204)
            if path == "/test/elsewhere":
                STATE["elsewhere"] = self.body()["host"]  # the next page is named on another host
                return self.reply(204)
            if path == "/test/contacts":
                return self.reply(200, {cid: public(c, True) for cid, c in STATE["contacts"].items()})
            if path == "/test/log":
                return self.reply(200, STATE["log"])
        self.error(404, "ErrorItemNotFound", "No such test action.")

    def api(self):
        # The body is read whatever the answer, so the connection stays in step.
        self.data = self.rfile.read(int(self.headers.get("Content-Length") or 0))
        url = urllib.parse.urlsplit(self.path)
        path, query = url.path, dict(urllib.parse.parse_qsl(url.query))
        if path.startswith("/test/"):
            return self.handle_test(path)
        with LOCK:
            STATE["log"].append(f"{self.command} {path}")
            if STATE["throttle"] > 0:
                STATE["throttle"] -= 1
                return self.error(429, "ApplicationThrottled", "Application is over its MailboxConcurrency limit.",
                                  [("Retry-After", "1")])
        if not self.authorised():
            return self.error(401, "InvalidAuthenticationToken", "Access token validation failure.",
                              [("WWW-Authenticate", 'Bearer realm="", error="invalid_token"')])
        if not path.startswith("/v1.0/me/"):
            return self.error(400, "BadRequest", "Resource not found for the segment.")
        parts = [urllib.parse.unquote(p) for p in path[len("/v1.0/me/"):].split("/")]
        with LOCK:
            if self.command == "GET" and parts == ["contacts"]:
                first = sorted((c for c in STATE["contacts"].values() if c["parentFolderId"] == DEFAULT_FOLDER),
                               key=lambda c: c["id"])[:1]
                return self.reply(200, {"@odata.context": "https://graph.microsoft.com/v1.0/$metadata#users('anna')/"
                                        "contacts(parentFolderId)",
                                        "value": [{"@odata.etag": c["@odata.etag"], "id": c["id"],
                                                   "parentFolderId": c["parentFolderId"]} for c in first]})
            if self.command == "GET" and parts == ["contactFolders"]:
                return self.reply(200, {"@odata.context": "https://graph.microsoft.com/v1.0/$metadata#users('anna')/"
                                        "contactFolders", "value": STATE["folders"]})
            if self.command == "GET" and len(parts) == 4 and parts[0] == "contactFolders" and parts[2:] == \
                    ["contacts", "delta"]:
                return self.delta(parts[1], query)
            if len(parts) == 2 and parts[0] == "contacts":
                c = STATE["contacts"].get(parts[1])
                if c is None:
                    return self.error(404, "ErrorItemNotFound", "The specified object was not found in the store.")
                if self.command == "GET":
                    return self.reply(200, public(c, "$expand" in query))
                if self.command == "PATCH":
                    if self.headers.get("If-Match") not in (None, c["@odata.etag"], "*"):
                        return self.error(412, "ErrorIrresolvableConflict",
                                          "The send or update operation could not be performed because the change "
                                          "key passed in the request does not match the current change key for the "
                                          "item.")
                    for k, v in self.body().items():
                        if k == "singleValueExtendedProperties":
                            for p in v:
                                if p["id"] == ANNIVERSARY:
                                    c["_anniversary"] = p["value"]
                        elif k in TEMPLATE and k not in ("id", "changeKey", "@odata.etag"):
                            c[k] = v
                    bump(c)
                    return self.reply(200, public(c, False))
        self.error(405, "ErrorInvalidRequest", "The OData request is not supported.")

    def delta(self, folder, query):
        if folder not in [DEFAULT_FOLDER] + [f["id"] for f in STATE["folders"]]:
            return self.error(404, "ErrorItemNotFound", "The specified folder could not be found in the store.")
        if "$deltatoken" in query:
            since = int(query["$deltatoken"])
            if since < STATE["expired_below"]:
                return self.error(410, "SyncStateNotFound", "The sync state specified in the request was not found.")
            offset, end = 0, STATE["version"]
        elif "$skiptoken" in query:
            since, offset, end = (int(x) for x in query["$skiptoken"].split("-"))
        else:
            since, offset, end = 0, 0, STATE["version"]
        changes = [public(c, False) for c in STATE["contacts"].values()
                   if c["parentFolderId"] == folder and since < c["_version"] <= end]
        changes += [{"@odata.type": "#microsoft.graph.contact", "id": cid, "@removed": {"reason": "deleted"}}
                    for cid, v in STATE["removed"].items() if since and since < v <= end]
        changes.sort(key=lambda c: c["id"])
        page = changes[offset:offset + self.options.page]
        body = {"@odata.context": "https://graph.microsoft.com/v1.0/$metadata#Collection(contact)", "value": page}
        link = f"{self.base()}/me/contactFolders/{urllib.parse.quote(folder, safe='')}/contacts/delta"
        if offset + self.options.page < len(changes):
            body["@odata.nextLink"] = f"{link}?$skiptoken={since}-{offset + self.options.page}-{end}"
            if STATE.get("elsewhere"):
                body["@odata.nextLink"] = body["@odata.nextLink"].replace("127.0.0.1", STATE["elsewhere"])
        else:
            body["@odata.deltaLink"] = f"{link}?$deltatoken={end}"
        if STATE.get("huge"):
            body["@odata.padding"] = "x" * STATE.pop("huge")
        self.reply(200, body)

    do_GET = do_PATCH = do_POST = api


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--check")
    ap.add_argument("--token")
    ap.add_argument("--page", type=int, default=2)
    Graph.options = ap.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Graph)
    standin.serve(server)


if __name__ == "__main__":
    main()
