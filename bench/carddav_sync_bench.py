#!/usr/bin/python3
"""The contacts synced from an address book of N cards (10,000 by default) on
a local Radicale: the first sync, and an incremental sync after 10 changes on
the server, by cheerpost-deliver --sync and by vdirsyncer into a vdir, side
by side in one run. Prints both times, their ratio and each one's peak memory.

Usage: carddav_sync_bench.py CHEERPOST_DELIVER [N]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "carddav"))
import test_address_book as dav  # noqa: E402

DELIVER = os.path.abspath(sys.argv[1])
N = int(sys.argv[2]) if len(sys.argv) > 2 else 10000


def timed(command, env=None):
    """Seconds and peak resident memory (MB) of one command, which must succeed."""
    with tempfile.TemporaryFile() as errors:  # a pipe would fill up and stall the command
        start = time.monotonic()
        process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=errors)
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.monotonic() - start
        if status != 0:
            errors.seek(0)
            sys.exit(f"{command[0]} failed: {errors.read().decode()}")
    return seconds, usage.ru_maxrss / 1024


def main():
    root = tempfile.mkdtemp(prefix="cheerpost-carddav-bench-")
    try:
        # Radicale's own folder layout, filled directly: N cards in one address book.
        book = os.path.join(root, "collections", "collection-root", dav.USER, "contacts")
        os.makedirs(book)
        with open(os.path.join(book, ".Radicale.props"), "w") as f:
            json.dump({"tag": "VADDRESSBOOK", "D:displayname": "contacts"}, f)
        for i in range(N):
            with open(os.path.join(book, f"c{i}.vcf"), "w", newline="") as f:
                f.write(dav.card(f"c{i}", f"Person {i}", "BDAY:1980-%02d-%02d\r\nTEL:+44 20 7946 %04d\r\n"
                                 % (i % 12 + 1, i % 28 + 1, i % 10000)))
        server = dav.Radicale(root)
        try:
            server.request("PROPFIND", server.book, b"", {"Depth": "1"}, timeout=1200)  # its caches, warm for both

            # Cheerpost: the account as host.conf holds it.
            config = os.path.join(root, "config")
            os.makedirs(os.path.join(config, "cheerpost"))
            with open(os.path.join(config, "cheerpost", "host.conf"), "w") as f:
                f.write(f"[General]\nContacts={root}/Contacts\nMail={root}/Mail\nState={root}/State\n"
                        f"[AddressBook]\nUrl={server.base}/\nUser={dav.USER}\nPasswordCommand=printf {dav.PASSWORD}\n")
            env = dict(os.environ, XDG_CONFIG_HOME=config, DBUS_SESSION_BUS_ADDRESS="")
            ours = lambda: timed([DELIVER, "--sync"], env)  # noqa: E731

            # vdirsyncer: the same address book into a vdir.
            vconf = os.path.join(root, "vdirsyncer.conf")
            os.makedirs(os.path.join(root, "vdir"))
            with open(vconf, "w") as f:
                f.write(f'[general]\nstatus_path = "{root}/vstatus/"\n\n'
                        '[pair contacts]\na = "local"\nb = "remote"\ncollections = null\n'
                        'conflict_resolution = "b wins"\n\n'
                        f'[storage local]\ntype = "filesystem"\npath = "{root}/vdir/"\nfileext = ".vcf"\n\n'
                        f'[storage remote]\ntype = "carddav"\nurl = "{server.base}{server.book}"\n'
                        f'username = "{dav.USER}"\npassword = "{dav.PASSWORD}"\n')
            subprocess.run(["vdirsyncer", "--config", vconf, "discover"], check=True, capture_output=True)
            theirs = lambda: timed(["vdirsyncer", "--config", vconf, "sync"])  # noqa: E731

            first = ours(), theirs()
            with open(os.path.join(root, "State", "carddav-state.json")) as f:
                token = json.load(f)["token"]
            for i in range(0, N, max(1, N // 10))[:10]:
                server.put(f"c{i}", dav.card(f"c{i}", f"Person {i} changed"))
            incremental = ours(), theirs()
            # The server's own share of the incremental sync: its answer to
            # the report of what changed since the token.
            report = ('<?xml version="1.0" encoding="utf-8"?>\n<d:sync-collection xmlns:d="DAV:"><d:sync-token>'
                      f"{token}</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
                      "</d:sync-collection>")
            start = time.monotonic()
            server.request("REPORT", server.book, report.encode(), {"Depth": "1"}, timeout=600)
            server_share = time.monotonic() - start
            if len(os.listdir(os.path.join(root, "Contacts"))) != N:
                sys.exit("the Contacts folder does not hold every card")
        finally:
            server.stop()
        print(f"{N} cards on Radicale 127.0.0.1 (http); cheerpost-deliver --sync vs vdirsyncer sync")
        for name, ((s, m), (vs, vm)) in (("first sync", first), ("10 changes", incremental)):
            print(f"  {name:11s} cheerpost {s:7.2f} s {m:6.1f} MB | vdirsyncer {vs:7.2f} s {vm:6.1f} MB"
                  f" | {vs / s:5.1f}x faster")
        print(f"  incremental sync: {100 * incremental[0][0] / first[0][0]:.1f}% of the first; Radicale's answer to "
              f"its one sync-collection report alone takes {server_share:.2f} s")
    finally:
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
