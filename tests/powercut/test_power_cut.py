#!/usr/bin/env python3
"""Power cuts under a store: every file whole, every message sent exactly once.

Each run (delivery, greeting run, bulk run, reminder run, export) works on a
store mounted through a file system that keeps only what the disk would
hold after a power cut. The power is cut before each operation of the run in
turn (every write, fsync, fsyncdir, rename, create, unlink and syncfs: each
is one of the "any" operations counted on a clean run) and once after the run
ended, in the POSIX model and with a random part of the pending work written
back. The image the cut leaves is checked, then the run is done again on it:
it must complete and leave the store as a run without a cut would.

Usage: test_power_cut.py STORE_RUNNER CHEERPOST_DELIVER POWERCUT_TOOLS [SCENARIO...]
Exits 77 (skipped) where FUSE cannot be used here, and says why.
"""
import concurrent.futures
import email
import email.policy
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

RUNNER, DELIVER, TOOLS = sys.argv[1:4]
ONLY = sys.argv[4:]
FS = os.path.join(TOOLS, "powercut-fs.py")
SYSTEM_PYTHON = "/usr/bin/python3"  # the one Debian's python3-pyfuse3 is for
MODELS = (["--model", "posix"], ["--random"])
MESSAGES = 3


def skip(why):
    print("SKIPPED: " + why, flush=True)
    sys.exit(77)


def usable_here():
    if not os.path.exists(FS):
        skip("the power-cut file system is not at " + FS)
    if os.geteuid() != 0:
        skip("mounting the power-cut file system needs root")
    if not os.path.exists("/dev/fuse"):
        skip("/dev/fuse is missing on this machine")
    if shutil.which("fusermount3") is None:
        skip("fusermount3 (package fuse3) is not installed")
    if subprocess.run([SYSTEM_PYTHON, "-c", "import pyfuse3, trio"], capture_output=True).returncode != 0:
        skip("python3-pyfuse3 is not installed for " + SYSTEM_PYTHON)


class Mount:
    """The power-cut file system over backing at mountpoint, for one run."""

    def __init__(self, backing, mountpoint, *args):
        os.makedirs(mountpoint, exist_ok=True)
        self.mountpoint = mountpoint
        self.fs = subprocess.Popen([SYSTEM_PYTHON, FS, backing, mountpoint, *args],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 20
        while not os.path.ismount(mountpoint):
            if self.fs.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the power-cut file system did not mount: "
                                   + self.fs.stderr.read().decode(errors="replace"))
            time.sleep(0.02)

    def cut_now(self):
        self.fs.send_signal(10)  # SIGUSR1: the power goes now

    def close(self):
        for _ in range(100):
            if subprocess.run(["fusermount3", "-u", self.mountpoint], capture_output=True).returncode == 0:
                break
            time.sleep(0.05)
        self.fs.wait(timeout=30)


def run(argv, preload=None):
    env = dict(os.environ)
    if preload:
        env["LD_PRELOAD"] = preload
    return subprocess.run(argv, env=env, capture_output=True, timeout=300)


def files_under(root, skip_dirs=("tmp",)):
    """Relative path -> bytes of every file under root, Maildir tmp/ left out."""
    out = {}
    for folder, dirs, names in os.walk(root):
        dirs[:] = [d for d in dirs if d not in skip_dirs]
        for n in names:
            p = os.path.join(folder, n)
            if not os.path.islink(p):
                with open(p, "rb") as f:
                    out[os.path.relpath(p, root)] = f.read()
    return out


def whole_message(data):
    """A stored message is whole: it parses, and its last MIME part is closed."""
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    if msg.is_multipart():
        boundary = msg.get_boundary()
        return boundary is not None and data.rstrip().endswith(("--" + boundary + "--").encode())
    return data.rstrip().endswith(b"</html>") or msg.get_payload() != ""


def same_file(a, b):
    """Equal, but for the time stamp that a calendar entry gets when it is written."""
    if a is None or b is None:
        return a is b
    return re.sub(rb"DTSTAMP:[0-9TZ]+", b"", a) == re.sub(rb"DTSTAMP:[0-9TZ]+", b"", b)


def message_id(data):
    return email.message_from_bytes(data, policy=email.policy.compat32).get("Message-ID", "").strip()


class Scenario:
    """One run on a store; subclasses say how to make the store and what to check."""

    name = ""
    store_files = ("Contacts", "Calendar", "Tasks", "Notes", "State")

    def __init__(self, work):
        self.work = work

    def make(self, root):
        raise NotImplementedError

    def argv(self, root):
        raise NotImplementedError

    def expected_codes(self):
        return (0,)

    def begin(self):
        pass

    def check_image(self, image, original, reference, why):
        """Each store file of the image is whole: as before the run or as after it."""
        for rel, data in files_under(image).items():
            top = rel.split(os.sep)[0]
            if top == "Mail":
                if os.sep + "tmp" + os.sep not in rel and rel.count(os.sep) == 3:
                    assert whole_message(data), f"{why}: message {rel} is not whole"
                continue
            if top not in self.store_files or rel.startswith("State") or ".tmp-" in rel:
                continue  # a temporary file is cleared by the next run that writes there
            assert same_file(data, original.get(rel)) or same_file(data, reference.get(rel)), \
                f"{why}: {rel} is neither old nor new"

    def check_after_rerun(self, again, reference, why):
        """The run done again on the image leaves the store files as a clean run does."""
        got = {r: d for r, d in files_under(again).items() if r.split(os.sep)[0] in self.store_files
               and not r.startswith("State")}
        want = {r: d for r, d in reference.items() if r.split(os.sep)[0] in self.store_files
                and not r.startswith("State")}
        assert set(got) == set(want), f"{why}: after a rerun the files differ: {sorted(set(got) ^ set(want))}"
        for rel in got:
            assert same_file(got[rel], want[rel]), f"{why}: after a rerun {rel} differs from a clean run's"
        left = [r for r in files_under(again) if ".tmp-" in r]
        assert not left, f"{why}: temporary files left after a rerun: {left}"


class ContactsScenario(Scenario):
    contacts = 5

    def make(self, root):
        subprocess.run([RUNNER, "make", root, str(self.contacts)], check=True)


class Reminder(ContactsScenario):
    name = "reminder"

    def argv(self, root):
        return [RUNNER, "reminder", root]


class Greeting(ContactsScenario):
    name = "greeting"

    def argv(self, root):
        return [RUNNER, "greeting", root]


class Bulk(ContactsScenario):
    name = "bulk"

    def argv(self, root):
        return [RUNNER, "bulk", root]


class Export(ContactsScenario):
    """The export writes to a stick, which here is a folder on the same mount."""

    name = "export"
    store_files = ("Contacts", "Calendar", "Tasks", "Notes", "Stick")

    def make(self, root):
        super().make(root)
        subprocess.run([RUNNER, "reminder", root], check=True, capture_output=True)  # calendar entries to export
        os.makedirs(os.path.join(root, "Stick"))

    def argv(self, root):
        return [RUNNER, "export", root, os.path.join(root, "Stick")]


class Delivery(Scenario):
    """Three due messages; the delivery command notes each hand-over outside the mount."""

    name = "deliver"

    def __init__(self, work):
        super().__init__(work)
        self.handed = os.path.join(work, "handed")
        self.command = os.path.join(work, "hand-over")
        with open(self.command, "w") as f:
            f.write("#!/bin/sh\nm=$(cat)\nprintf '%s\\n' \"$m\" | grep -m1 -i '^Message-ID:' | tr -d '\\r' "
                    f">> '{self.handed}'\n")
        os.chmod(self.command, 0o755)

    def make(self, root):
        new = os.path.join(root, "Mail", "Outbox", "new")
        for sub in ("new", "cur", "tmp"):
            os.makedirs(os.path.join(root, "Mail", "Outbox", sub))
        os.makedirs(os.path.join(root, "Contacts"))
        for i in range(1, MESSAGES + 1):
            with open(os.path.join(new, f"170000000{i}.M1P1Q{i}.host"), "wb") as f:
                f.write(f"From: a@example.org\r\nTo: b{i}@example.org\r\nSubject: m{i}\r\n"
                        f"Message-ID: <m{i}@example.org>\r\nMIME-Version: 1.0\r\n"
                        f"Content-Type: text/plain\r\n\r\nhello {i}\r\n".encode())

    def argv(self, root):
        return [DELIVER, "--mail", os.path.join(root, "Mail"), "--contacts", os.path.join(root, "Contacts"),
                "--command", self.command]

    def expected_codes(self):
        return (0, 1)  # 1: a message held after a cut while it was handed over

    def begin(self):
        if os.path.exists(self.handed):
            os.remove(self.handed)

    def handovers(self):
        if not os.path.exists(self.handed):
            return {}
        counts = {}
        with open(self.handed) as f:
            for line in f:
                mid = line.split(":", 1)[1].strip()
                counts[mid] = counts.get(mid, 0) + 1
        return counts

    def where(self, root):
        places = {}
        for box in ("Outbox", "Sent"):
            for sub in ("new", "cur"):
                folder = os.path.join(root, "Mail", box, sub)
                for n in os.listdir(folder) if os.path.isdir(folder) else []:
                    with open(os.path.join(folder, n), "rb") as f:
                        places.setdefault(message_id(f.read()), []).append(box)
        return places

    def check_image(self, image, original, reference, why):
        super().check_image(image, original, reference, why)
        assert len(self.where(image)) == MESSAGES, f"{why}: a message is gone from the image"

    def check_after_rerun(self, again, reference, why):
        handed = self.handovers()
        places = self.where(again)
        for i in range(1, MESSAGES + 1):
            mid = f"<m{i}@example.org>"
            n, at = handed.get(mid, 0), places.get(mid, [])
            assert n <= 1, f"{why}: {mid} was handed over {n} times"
            assert len(at) == 1, f"{why}: {mid} is in {at or 'no folder'} after a rerun"
            assert at != ["Sent"] or n == 1, f"{why}: {mid} is in Sent but was never handed over"
        # A held message stays held: one more run hands nothing over.
        before = sum(handed.values())
        run(self.argv(again))
        assert sum(self.handovers().values()) == before, f"{why}: a third run handed a message over"
        assert not [r for r in files_under(again) if ".tmp-" in r], f"{why}: temporary files left"


def clean_run(scenario, store, shim):
    """The operation counts of a run on the mount, and the store a run leaves."""
    reference = os.path.join(scenario.work, "reference")
    shutil.copytree(store, reference, symlinks=True)
    scenario.begin()
    mnt = os.path.join(scenario.work, "mnt")
    stats = os.path.join(scenario.work, "stats.json")
    m = Mount(reference, mnt, "--stats", stats)
    try:
        result = run(scenario.argv(mnt), shim)
    finally:
        m.close()
    assert result.returncode in scenario.expected_codes(), \
        f"{scenario.name}: a run without a cut failed: {result.stderr.decode(errors='replace')}"
    with open(stats) as f:
        counts = json.load(f)["counts"]
    return counts["any"], files_under(reference)


def cut_and_check(scenario, store, shim, original, reference, point, model):
    work = scenario.work
    backing, image = (os.path.join(work, d) for d in ("backing", "image"))
    for d in (backing, image):
        shutil.rmtree(d, ignore_errors=True)
    shutil.copytree(store, backing, symlinks=True)
    args = ["--image", image] + (model if model[0] != "--random" else ["--random", str(point or 99)])
    why = f"{scenario.name}, {' '.join(model)}, " + (f"cut before operation {point}" if point else "cut after the run")
    if point:
        args += ["--cut", f"any:{point}"]
    scenario.begin()
    m = Mount(backing, os.path.join(work, "mnt"), *args)
    try:
        run(scenario.argv(m.mountpoint), shim)
        if not point:
            m.cut_now()
            deadline = time.monotonic() + 20
            while not os.path.isdir(image) and time.monotonic() < deadline:
                time.sleep(0.02)
    finally:
        m.close()
    assert os.path.isdir(image), f"{why}: no image was written"
    scenario.check_image(image, original, reference, why)
    # The image is the disk after the cut: the store as the next run finds it,
    # at the same place (a contact without a UID is known by its path).
    again = m.mountpoint
    os.rmdir(again)
    shutil.copytree(image, again, symlinks=True)
    try:
        result = run(scenario.argv(again))
        assert result.returncode in scenario.expected_codes(), \
            f"{why}: the rerun did not complete: {result.stderr.decode(errors='replace')[-500:]}"
        scenario.check_after_rerun(again, reference, why)
    finally:
        shutil.rmtree(again)
        os.makedirs(again)


def cut_everywhere(kind, top, shim):
    """Every cut point of one run in both models; returns the failures and a summary line."""
    work = os.path.join(top, kind.name)
    os.makedirs(work)
    scenario = kind(work)
    store = os.path.join(work, "store")
    scenario.make(store)
    original = files_under(store)
    total, reference = clean_run(scenario, store, shim)
    started = time.monotonic()
    failures, points = [], 0
    for model in MODELS:
        # Random write-back at every third point but for delivery, whose
        # every point is cut in both models: it is what sends mail.
        step = 3 if model[0] == "--random" and kind is not Delivery else 1
        for point in list(range(1, total + 1, step)) + [None]:
            points += 1
            try:
                cut_and_check(scenario, store, shim, original, reference, point, model)
            except AssertionError as e:
                failures.append(str(e))
    return failures, f"{scenario.name}: {points} cuts over {total} operations in {time.monotonic() - started:.0f} s"


def main():
    usable_here()
    with tempfile.TemporaryDirectory(prefix="cheerpost-powercut-") as top:
        shim = os.path.join(top, "syncfs-shim.so")
        subprocess.run(["cc", "-shared", "-fPIC", "-o", shim, os.path.join(TOOLS, "syncfs-shim.c"), "-ldl"],
                       check=True)
        kinds = [k for k in (Delivery, Greeting, Bulk, Reminder, Export) if not ONLY or k.name in ONLY]
        failed = 0
        # Two runs at a time, each on its own mount.
        with concurrent.futures.ProcessPoolExecutor(max_workers=2) as pool:
            for failures, summary in pool.map(cut_everywhere, kinds, [top] * len(kinds), [shim] * len(kinds)):
                for f in failures:
                    print("FAIL:", f, flush=True)
                print(summary, flush=True)
                failed += len(failures)
        sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
