"""A run ended by a signal: SIGINT, SIGTERM and SIGHUP let the record being written be completed
(a second signal cuts it back out), the run reports what it converted and exits 128 + the
signal's number; a signal during the folder walk is reported too, and one ignored when the run
starts (nohup, a background job) stays ignored. A run killed outright leaves a torn record; the
next run into that mailbox starts after an empty line and says so, so that its own records stay
whole."""

import email
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

BIG_BODY_LINES = 1_000_000  # a record of some 64 MB: several writes of the record writer
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
        self.after = [write_file(self.path("src", f"{n}.emlx"),
                                 emlx_bytes(make_message(n, rng))) for n in (4, 5)]
        self.box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"),
                                "src.mbox")

    def stop_mid_record(self, preexec_fn=None):
        """Starts a run and stops it (SIGSTOP) while the big record is half written. Returns the
        process, or None when it was caught too late (the record already whole)."""
        small_size = sum(os.path.getsize(p) for p in self.small)
        process = subprocess.Popen([EMLX2MBOX, "-o", "out", "src"], cwd=self.tmp,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                   preexec_fn=preexec_fn)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                if os.path.getsize(self.box) > small_size + 100_000:
                    break
            except FileNotFoundError:
                pass
        process.send_signal(signal.SIGSTOP)
        while process_state(process.pid) != "T":
            time.sleep(0.001)
        if os.path.getsize(self.box) >= len(self.big):
            os.kill(process.pid, signal.SIGCONT)
            process.communicate(timeout=60)
            return None
        return process

    def stop_in_walk(self):
        """Starts a run and stops it while its folder walk has a folder of the tree open.
        Returns the process, or None when the walk was over before it could be stopped."""
        process = subprocess.Popen([EMLX2MBOX, "-o", "out", "src"], cwd=self.tmp,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        src = self.path("src")
        while process.poll() is None and not handles(process.pid, signal.SIGTERM):
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

    def interrupt(self, *signals, preexec_fn=None, in_walk=False):
        """Sends the signals while the big record is being written (or while the folders are
        walked); returns the exit status and the report."""
        for _ in range(5):
            process = self.stop_in_walk() if in_walk else self.stop_mid_record(preexec_fn)
            if process:
                break
            shutil.rmtree(self.path("out"), ignore_errors=True)
        else:
            self.fail("never caught the run at the point to stop it")
        for number in signals:
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

    def test_one_signal_completes_the_record_and_ends_the_run(self):
        for number, name in ((signal.SIGINT, "SIGINT"), (signal.SIGTERM, "SIGTERM"),
                             (signal.SIGHUP, "SIGHUP")):
            with self.subTest(name):
                status, report = self.interrupt(number)
                self.assertEqual(status, 128 + number, report)
                lines = report_lines(report)
                self.assertEqual(lines[-2],
                                 f"emlx2mbox: interrupted by {name}; 2 of 5 messages not converted")
                self.assert_summary(report.encode(), converted=3, mailboxes=1)
                written = read_mbox(self.box)
                self.assert_same_messages(written[:2], self.small)
                self.assert_big_record_whole()
                os.remove(self.box)

    def test_a_signal_during_the_last_record_is_reported(self):
        for path in self.after:
            os.remove(path)
        status, report = self.interrupt(signal.SIGTERM)
        self.assertEqual(status, 143, report)
        self.assertEqual(report_lines(report)[-2],
                         "emlx2mbox: interrupted by SIGTERM; 0 of 3 messages not converted")
        self.assertEqual(report.splitlines()[-1],
                         "Checked: 3 records in 1 mailbox, in place and on disk")
        self.assert_summary(report.encode(), converted=3, mailboxes=1)
        self.assert_big_record_whole()

    def test_a_signal_during_the_walk_is_reported_and_an_ignored_one_stays_ignored(self):
        # A folder that the walk takes a while to list: each entry a link at the head of a long
        # chain of links (each link is followed to see whether it names a file).
        chain = self.path("src", "filler", "chain")
        write_file(os.path.join(chain, "30"), b"")
        for hop in range(30):
            os.symlink(str(hop + 1), os.path.join(chain, str(hop)))
        for name in range(3000):
            os.symlink("chain/0", self.path("src", "filler", f"{name}.txt"))
        for number, name, ignored in ((signal.SIGTERM, "SIGTERM", False),
                                      (signal.SIGHUP, "SIGHUP", False),
                                      (signal.SIGHUP, "SIGHUP", True),
                                      (signal.SIGINT, "SIGINT", True)):
            with self.subTest(name, ignored=ignored):
                if not ignored:
                    status, report = self.interrupt(number, in_walk=True)
                    self.assertEqual(status, 128 + number, report)
                    self.assertEqual(report.splitlines()[0], f"emlx2mbox: interrupted by {name} "
                                     "while looking for messages; nothing converted")
                    self.assert_summary(report.encode(), converted=0, mailboxes=0)
                    self.assertEqual(len(report.splitlines()), 2, report)
                    self.assertFalse(os.path.exists(self.path("out")))
                    continue
                # Sent while the big record is written, after any handler is in place.
                status, report = self.interrupt(number, preexec_fn=ignoring(number))
                self.assertEqual(status, 0, report)
                self.assert_summary(report.encode(), converted=5, mailboxes=1)
                written = read_mbox(self.box)
                self.assertEqual(len(written), 5)
                self.assert_same_messages(written[:2] + written[3:], self.small + self.after)
                os.remove(self.box)

    def test_a_second_signal_cuts_the_record_back_out(self):
        # Both arrive while the process is stopped, in an order of the kernel's choosing; the
        # first one delivered gives the exit status.
        status, report = self.interrupt(signal.SIGINT, signal.SIGTERM)
        first = {130: "SIGINT", 143: "SIGTERM"}.get(status)
        self.assertIsNotNone(first, report)
        self.assertEqual(report_lines(report)[-2],
                         f"emlx2mbox: interrupted by {first}; 3 of 5 messages not converted")
        self.assert_summary(report.encode(), converted=2, mailboxes=1)
        self.assert_same_messages(read_mbox(self.box), self.small)

    def test_a_run_after_a_killed_one_starts_after_an_empty_line(self):
        status, _ = self.interrupt(signal.SIGKILL)
        self.assertEqual(status, -signal.SIGKILL)
        torn = os.path.getsize(self.box)
        with open(self.box, "rb") as f:
            self.assertFalse(f.read().endswith(b"\n\n"), "the record was not torn")
        os.remove(self.path("src", "3.emlx"))
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = report_lines(result.stderr.decode())
        self.assertEqual(lines[0], f"warning: {self.box}: {TORN_WARNING}")
        # The two whole records of the killed run are told, not asked about: no terminal here.
        self.assertEqual(lines[2:], ["2 of these messages were already in the destination; "
                                     "--new-only leaves them out"], result.stderr)
        self.assert_summary(result.stderr, converted=4, warnings=1, mailboxes=1)
        with open(self.box, "rb") as f:
            f.seek(torn)
            # The messages have LF line ends, and so have their records and the mending.
            self.assertEqual(f.read(6), b"\n\nFrom")
        # The first run's two records, its torn one, then the second run's four, each whole.
        written = read_mbox(self.box)
        self.assertEqual(len(written), 7)
        self.assert_same_messages(written[:2], self.small)
        self.assert_same_messages(written[3:], self.small + self.after)

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
        self.assert_same_messages(written[1:], self.small + self.after)
        # A second run finds the mailbox whole and warns no more.
        again = self.run_tool("-o", "out", "src")
        self.assertEqual(len(report_lines(again.stderr.decode())), 2, again.stderr)


if __name__ == "__main__":
    unittest.main()
