"""A run ended by a signal: SIGINT, SIGTERM and SIGHUP let the record being written be completed
(a second signal cuts it back out), the run reports what it converted and exits 128 + the
signal's number; a signal during the folder walk is reported too, and one ignored when the run
starts (nohup, a background job) stays ignored. A run killed outright leaves a torn record; the
next run into that mailbox starts after an empty line and says so, so that its own records stay
whole."""

import email
import fcntl
import mailbox
import os
import random
import shutil
import signal
import subprocess
import time
import unittest

from cli_support import (EMLX2MBOX, CliTestCase, emlx_bytes, make_message, read_mbox,
                         write_file)
from cli_support import report_lines

BIG_BODY_LINES = 20_000  # a record of some 1.3 MB: several writes of the record writer
TORN_WARNING = "did not end with a complete record; new records start after an empty line"


def big_message() -> bytes:
    line = b"x" * 63 + b"\n"
    return (b"From: Big <big@example.org>\nSubject: big\nDate: Mon, 05 Jan 2026 09:07:03 +0000\n"
            b"Message-ID: <big@example.org>\n\n" + line * BIG_BODY_LINES)


def process_state(pid: int) -> str:
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[0]


def open_folders(pid: int, under: str):
    """The folders of the tree `under` that the process has open (the walk lists them one by
    one)."""
    found = []
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            if (target == under or target.startswith(under + "/")) and os.path.isdir(target):
                found.append(target)
    except FileNotFoundError:
        pass
    return found


def handles(pid: int, number: int) -> bool:
    """Whether the process has a handler in place for the signal."""
    try:
        with open(f"/proc/{pid}/status") as f:
            caught = next(line for line in f if line.startswith("SigCgt:"))
    except FileNotFoundError:
        return False
    return bool(int(caught.split()[1], 16) >> (number - 1) & 1)


def ignoring(number):
    """A preexec_fn that starts the program with the signal ignored, as nohup or a shell does."""
    return lambda: signal.signal(number, signal.SIG_IGN)


class InterruptedRunTest(CliTestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(5)
        self.small = [write_file(self.path("src", f"{n}.emlx"), emlx_bytes(make_message(n, rng)))
                      for n in (1, 2)]
        self.big = big_message()
        write_file(self.path("src", "3.emlx"), emlx_bytes(self.big))
        self.after = [write_file(self.path("src", "later", f"{n}.emlx"),
                                 emlx_bytes(make_message(n, rng))) for n in (4, 5)]
        self.box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"),
                                "src.mbox")
        self.later_box = os.path.join(os.path.dirname(self.box), "later", "later.mbox")

    def stop_at_lock(self, number, ignored=False):
        """Runs with the second mailbox locked as another program would and sends the signal once
        the run says it waits for that lock (its first mailbox then written): the stop ends the
        wait. A signal ignored from the start is sent the same way, then the lock let go.
        Returns the exit status and the report."""
        write_file(self.later_box, b"")
        with open(self.later_box, "r+b") as held:
            fcntl.lockf(held, fcntl.LOCK_EX)
            process = subprocess.Popen([EMLX2MBOX, "-o", "out", "src"], cwd=self.tmp,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                       preexec_fn=ignoring(number) if ignored else None)
            report = b""
            while not report.startswith(b"waiting: "):
                report = process.stderr.readline()
                self.assertNotEqual(report, b"", "the run ended without waiting for the lock")
            process.send_signal(number)
            if not ignored:
                _, rest = process.communicate(timeout=60)
        if ignored:
            _, rest = process.communicate(timeout=60)
        return process.returncode, (report + rest).decode()

    def stop_in_walk(self):
        """Starts a run and stops it while its folder walk has a folder of the tree open.
        Returns the process, or None when the walk was over before it could be stopped."""
        process = subprocess.Popen([EMLX2MBOX, "-o", "out", "src"], cwd=self.tmp,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        src = self.path("src")
        # The handlers are in place before the walk starts; stop it once it lists a folder.
        while process.poll() is None and not (handles(process.pid, signal.SIGTERM)
                                              and open_folders(process.pid, src)):
            pass
        process.send_signal(signal.SIGSTOP)
        while process.poll() is None and process_state(process.pid) != "T":
            time.sleep(0.001)
        # Still walking: a folder of the tree open, the destination not made yet.
        if (process.poll() is None and open_folders(process.pid, src)
                and not os.path.exists(self.path("out"))):
            return process
        process.kill()
        process.communicate(timeout=60)
        return None

    def interrupt_walk(self, number):
        """Sends the signal while the folders are walked; returns the exit status and report."""
        for _ in range(5):
            process = self.stop_in_walk()
            if process:
                break
            shutil.rmtree(self.path("out"), ignore_errors=True)
        else:
            self.fail("never caught the run at the point to stop it")
        process.send_signal(number)
        process.send_signal(signal.SIGCONT)
        _, stderr = process.communicate(timeout=60)
        return process.returncode, stderr.decode()

    def assert_big_record_whole(self):
        box = mailbox.mbox(self.box, create=False)
        try:
            keys = box.keys()
            self.assertEqual(len(keys), 3)
            raw = box.get_bytes(keys[2])
        finally:
            box.close()
        self.assertTrue(raw.startswith(self.big), "the big record is not whole")
        self.assertEqual(raw[len(self.big):].strip(b"\r\n"), b"")

    # What a stop request does to the record being written, once and twice, and how the run
    # counts it, is ConversionRun.AStopRequestDuringARecordCompletesItAndASecondCutsItBack.
    def test_a_signal_ends_the_run_with_its_status_and_report(self):
        for number, name in ((signal.SIGINT, "SIGINT"), (signal.SIGTERM, "SIGTERM"),
                             (signal.SIGHUP, "SIGHUP")):
            with self.subTest(name):
                status, report = self.stop_at_lock(number)
                self.assertEqual(status, 128 + number, report)
                lines = report_lines(report)
                self.assertEqual(lines[-2],
                                 f"emlx2mbox: interrupted by {name}; 2 of 5 messages not converted")
                self.assertIn("Checked: 3 records in 1 mailbox, in place and on disk",
                              report.splitlines())
                self.assert_summary(report.encode(), converted=3, mailboxes=1)
                self.assert_same_messages(read_mbox(self.box)[:2], self.small)
                self.assert_big_record_whole()
                with open(self.later_box, "rb") as f:
                    self.assertEqual(f.read(), b"")
                shutil.rmtree(self.path("out"))

    def test_a_signal_during_the_walk_is_reported_and_an_ignored_one_stays_ignored(self):
        # A folder that the walk takes a while to list: each entry a link at the head of a long
        # chain of links (each link is followed to see whether it names a file).
        chain = self.path("src", "filler", "chain")
        write_file(os.path.join(chain, "30"), b"")
        for hop in range(30):
            os.symlink(str(hop + 1), os.path.join(chain, str(hop)))
        for name in range(3000):
            os.symlink("chain/0", self.path("src", "filler", f"{name}.txt"))
        for number, name in ((signal.SIGTERM, "SIGTERM"), (signal.SIGHUP, "SIGHUP")):
            with self.subTest(name, in_walk=True):
                status, report = self.interrupt_walk(number)
                self.assertEqual(status, 128 + number, report)
                self.assertEqual(report.splitlines()[0], f"emlx2mbox: interrupted by {name} "
                                 "while looking for messages; nothing converted")
                self.assert_summary(report.encode(), converted=0, mailboxes=0)
                self.assertEqual(len(report.splitlines()), 2, report)
                self.assertFalse(os.path.exists(self.path("out")))
        for number, name in ((signal.SIGHUP, "SIGHUP"), (signal.SIGINT, "SIGINT")):
            with self.subTest(name, ignored=True):
                # Sent while the run waits, after any handler is in place.
                status, report = self.stop_at_lock(number, ignored=True)
                self.assertEqual(status, 0, report)
                self.assert_summary(report.encode(), converted=5, mailboxes=2)
                written = read_mbox(self.box)
                self.assertEqual(len(written), 3)
                self.assert_same_messages(written[:2], self.small)
                self.assert_same_messages(read_mbox(self.later_box), self.after)
                shutil.rmtree(self.path("out"))

    def test_a_run_after_a_killed_one_starts_after_an_empty_line(self):
        # What a run killed half-way through the big record leaves: its first two records whole,
        # then the head of the big one.
        self.assertEqual(self.run_tool("-o", "out", "src").returncode, 0)
        os.remove(self.later_box)
        with open(self.box, "rb") as f:
            whole = f.read()
        torn = whole.index(self.big[:200]) + len(self.big) // 2
        with open(self.box, "r+b") as f:
            f.truncate(torn)
        os.remove(self.path("src", "3.emlx"))
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = report_lines(result.stderr.decode())
        self.assertEqual(lines[0], f"warning: {self.box}: {TORN_WARNING}")
        # The two whole records of the killed run are told, not asked about: no terminal here.
        self.assertEqual(lines[2:], ["2 of these messages were already in the destination; "
                                     "--new-only leaves them out"], result.stderr)
        self.assert_summary(result.stderr, converted=4, warnings=1, mailboxes=2)
        with open(self.box, "rb") as f:
            f.seek(torn)
            # The messages have LF line ends, and so have their records and the mending.
            self.assertEqual(f.read(6), b"\n\nFrom")
        # The first run's two records, its torn one, then the second run's two, each whole.
        written = read_mbox(self.box)
        self.assertEqual(len(written), 5)
        self.assert_same_messages(written[:2], self.small)
        self.assert_same_messages(written[3:], self.small)
        self.assert_same_messages(read_mbox(self.later_box), self.after)

    def test_another_programs_mailbox_without_a_final_empty_line_is_kept_and_followed(self):
        os.remove(self.path("src", "3.emlx"))
        theirs = b"From someone@example.org Mon Jan 05 09:07:03 2026\nSubject: theirs\n\nlast line"
        write_file(self.box, theirs)
        result = self.run_tool("--eol", "lf", "-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(report_lines(result.stderr.decode())[0],
                         f"warning: {self.box}: {TORN_WARNING}")
        with open(self.box, "rb") as f:
            self.assertTrue(f.read().startswith(theirs + b"\n\nFrom "))
        written = read_mbox(self.box)
        self.assertEqual(written[0][1]["Subject"], "theirs")
        self.assertEqual(written[0][1].get_payload(), "last line\n")
        self.assert_same_messages(written[1:], self.small)
        self.assert_same_messages(read_mbox(self.later_box), self.after)
        # A second run finds the mailbox whole and warns no more.
        again = self.run_tool("-o", "out", "src")
        self.assertEqual(len(report_lines(again.stderr.decode())), 2, again.stderr)


if __name__ == "__main__":
    unittest.main()
