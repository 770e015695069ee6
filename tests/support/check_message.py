#!/usr/bin/python3
"""Reads a message as a mail reader would (Python's email, policy.default) and
prints what the tests judge, as JSON: the defects found, the MIME tree, the
Content-IDs of the parts, the image references of the HTML, and whether any
local file reference is left. With a second argument, a folder: writes the
HTML there with every cid: reference pointing at the part saved beside it,
so that a browser can render it.

Usage: check_message.py MESSAGE [FOLDER]
"""
import email
import email.policy
import json
import os
import re
import sys


def tree(part):
    if part.is_multipart():
        return {part.get_content_type(): [tree(p) for p in part.iter_parts()]}
    node = {"type": part.get_content_type()}
    if part.get_content_charset():
        node["charset"] = part.get_content_charset()
    if part.get("Content-ID"):
        node["cid"] = part.get("Content-ID").strip("<>")
    if part.get_content_disposition():
        node["disposition"] = part.get_content_disposition()
    if part.get_filename():
        node["filename"] = part.get_filename()
    return node


def main():
    with open(sys.argv[1], "rb") as f:
        raw = f.read()
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    defects = [str(d) for d in msg.defects]
    parts = {}
    html = plain = ""
    for part in msg.walk():
        defects += [f"{part.get_content_type()}: {d}" for d in part.defects]
        if part.is_multipart():
            continue
        if part.get("Content-ID"):
            parts[part.get("Content-ID").strip("<>")] = part
        if part.get_content_type() == "text/html" and not html:
            html = part.get_content()
        elif part.get_content_type() == "text/plain" and not plain and not part.get_filename():
            plain = part.get_content()
    sources = re.findall(r'''(?:src|background)\s*=\s*["']([^"']*)["']''', html, re.I)
    text = raw.decode("utf-8", "replace")
    result = {
        "defects": defects,
        "tree": tree(msg),
        "headers": {k: str(v) for k, v in msg.items()},
        "sources": sources,
        "unresolved": [s for s in sources if s.startswith("cid:") and s[4:] not in parts],
        "local": bool(re.search(r"file:|/tmp/|/home/|[A-Za-z]:\\\\", html + text)),
        "plain": plain,
    }
    if len(sys.argv) > 2:
        folder = sys.argv[2]
        for cid, part in parts.items():
            with open(os.path.join(folder, re.sub(r"[^A-Za-z0-9.]", "_", cid)), "wb") as out:
                out.write(part.get_content())
        page = re.sub(r"cid:([^\"']+)", lambda m: re.sub(r"[^A-Za-z0-9.]", "_", m.group(1)), html)
        with open(os.path.join(folder, "index.html"), "w", encoding="utf-8") as out:
            out.write(page)
    print(json.dumps(result))


if __name__ == "__main__":
    main()
