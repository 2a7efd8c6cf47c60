"""A run ended by a signal: SIGINT, SIGTERM and SIGHUP let the record being written be completed
(a second signal cuts it back out), the run reports what it converted and exits 128 + the
signal's number. A run killed outright leaves a torn record; the next run into that mailbox
starts after an empty line and says so, so that its own records stay whole."""

import email
import mailbox
import os
import random
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

    def stop_mid_record(self):
        """Starts a run and stops it (SIGSTOP) while the big record is half written. Returns the
        process, or None when it was caught too late (the record already whole)."""
        small_size = sum(os.path.getsize(p) for p in self.small)
        process = subprocess.Popen([EMLX2MBOX, "-o", "out", "src"], cwd=self.tmp,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
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

    def interrupt(self, *signals):
        """Sends the signals while the big record is being written; returns the exit status and
        the report."""
        for _ in range(5):
            process = self.stop_mid_record()
            if process:
                break
            os.remove(self.box)
        else:
            self.fail("never caught the run in the middle of the big record")
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
        self.assertEqual(len(lines), 2, result.stderr)
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
        self.assertEqual(len(report_lines(again.stderr.decode())), 1, again.stderr)


if __name__ == "__main__":
    unittest.main()
