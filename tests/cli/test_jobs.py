"""--jobs: mailboxes converted at the same time come out byte for byte as the serial run
(--jobs 1) writes them, with every option, and every problem is reported in the same order."""

import os
import random
import re
import fcntl
import shutil
import signal
import subprocess
import sys
import unittest

from cli_support import (CORPUS, EMLX2MBOX, CliTestCase, emlx_bytes, make_message, read_mbox,
                         write_file)
from cli_support import report_lines

GENERATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench",
                         "generate-tree.py")
OPTION_SETS = [[], ["--flags"], ["--eol", "lf"], ["--layout", "apple"],
               ["--flags", "--eol", "crlf", "--layout", "apple"], ["--eol", "lf", "--flags"]]


def files_under(root):
    """Every file below root, relative path to bytes."""
    found = {}
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
    return found


def without_time(stderr: bytes) -> str:
    return re.sub(r" in \d+\.\d\d seconds$", "", stderr.decode().rstrip("\n"), flags=re.M)


class JobsTest(CliTestCase):
    blockers = ()  # (path, make) pairs set up under out/ before each run

    def convert(self, jobs, options, *sources):
        out = self.path("out")
        shutil.rmtree(out, ignore_errors=True)
        for path, make in self.blockers:
            make(os.path.join(out, path))
        result = self.run_tool("--jobs", str(jobs), *options, "-o", out, *sources)
        return result.returncode, without_time(result.stderr), files_under(out)

    def assert_same_whatever_the_jobs(self, *sources, options_sets=OPTION_SETS):
        for options in options_sets:
            serial = self.convert(1, options, *sources)
            for jobs in (2, 5):
                with self.subTest(options=options, jobs=jobs):
                    parallel = self.convert(jobs, options, *sources)
                    self.assertEqual(parallel[0], serial[0])
                    self.assertEqual(parallel[1], serial[1])
                    self.assertEqual(sorted(parallel[2]), sorted(serial[2]))
                    for name, data in serial[2].items():
                        self.assertTrue(parallel[2][name] == data, f"{name} differs")
        return serial

    def test_a_generated_apple_mail_store_with_problems_among_its_messages(self):
        store = self.path("store")
        subprocess.run([sys.executable, GENERATOR, "--messages", "240", "--seed", "5",
                        "--out", store], check=True, capture_output=True)
        inbox = next(os.path.join(folder) for folder, _, names in sorted(os.walk(store))
                     if folder.endswith("Messages") and "INBOX.mbox" in folder)
        # Problems spread over the mailboxes: a partial message whose attachments are gone (four
        # warnings), an AppleDouble sidecar, and the Drafts mailbox blocked in both layouts.
        stub = os.path.join(CORPUS, "partial-emlx-converter", "test", "__testdata", "input",
                            "Messages", "114893.partial.emlx")
        shutil.copy(stub, os.path.join(inbox, "99999.partial.emlx"))
        write_file(os.path.join(inbox, "._5.emlx"),
                   b"\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X        " + b"\x00" * 64)
        account = os.path.join(store, "Mail", "V10", "IMAP-bench@mail.example")
        self.blockers = [
            (os.path.relpath(os.path.join(account, "Drafts.mbox"), "/"),
             lambda path: write_file(path, b"a file where a folder should be\n")),
            (os.path.join("IMAP-bench@mail.example", "Drafts.mbox"), os.makedirs)]

        code, report, mailboxes = self.assert_same_whatever_the_jobs(store)
        self.assertEqual(code, 1, report)
        self.assertRegex(report_lines(report)[-1],
                         r"^2\d\d converted, 1\d failed, 1 skipped, 1 warning; \d+ mailboxes")
        self.assertGreater(len(mailboxes), 5)

    def test_one_mailbox_of_many_messages(self):
        # One thread writes it while the others prepare its messages ahead.
        store = self.path("single")
        subprocess.run([sys.executable, GENERATOR, "--shape", "single", "--messages", "400",
                        "--out", store], check=True, capture_output=True)
        code, report, mailboxes = self.assert_same_whatever_the_jobs(store)
        self.assertEqual(code, 0, report)
        [(name, data)] = mailboxes.items()
        self.assertEqual(len(read_mbox(self.path("out", name))), 400)
        self.assertEqual(data.count(b"\n>From the notes of meeting "), 400)

    def test_the_real_corpus(self):
        self.assertTrue(os.path.isdir(CORPUS), CORPUS)
        self.assert_same_whatever_the_jobs(CORPUS)

    def test_a_mailbox_file_where_another_mailbox_needs_its_folder(self):
        # src/X/X.mbox/ is a source folder: its mailbox folder is the serial run's first
        # mailbox file, made by src/X's big first message. The serial run writes that file and
        # fails the later message; so must every run.
        rng = random.Random(4)
        big = make_message(1, rng) + b"filler line of a large message\n" * 600_000
        write_file(self.path("src", "X", "1.emlx"), emlx_bytes(big))
        write_file(self.path("src", "X", "X.mbox", "2.emlx"), emlx_bytes(make_message(2, rng)))
        for n in range(3, 7):
            write_file(self.path("src", f"Y{n}", f"{n}.emlx"), emlx_bytes(make_message(n, rng)))
        code, report, mailboxes = self.assert_same_whatever_the_jobs(
            self.path("src"), options_sets=[["--layout", "folders"]])
        self.assertEqual(code, 1)
        self.assertIn("2.emlx: cannot create output folder", report_lines(report)[0])
        self.assertEqual(len(mailboxes), 5)

    def test_a_signal_ends_a_run_whose_other_thread_waits_for_a_locked_mailbox(self):
        # Mailbox B is locked by another program; the thread converting B waits for it while
        # the other converts A. SIGINT reaches one thread only, yet the waiting one must stop:
        # the run ends at once, A keeps whole records and the rest counts as not converted.
        rng = random.Random(8)
        a = [write_file(self.path("src", "A", f"{n}.emlx"), emlx_bytes(make_message(n, rng)))
             for n in range(1, 4)]
        write_file(self.path("src", "B", "9.emlx"), emlx_bytes(make_message(9, rng)))
        mirror = os.path.relpath(self.path("src"), "/")
        locked = self.path("out", mirror, "B", "B.mbox")
        write_file(locked, b"")
        with open(locked, "ab") as held:
            fcntl.lockf(held, fcntl.LOCK_EX)
            process = subprocess.Popen([EMLX2MBOX, "--jobs", "2", "-o", "out", "src"],
                                       cwd=self.tmp, stderr=subprocess.PIPE)
            waiting = process.stderr.readline().decode()  # the note that it waits for B
            os.kill(process.pid, signal.SIGINT)
            _, rest = process.communicate(timeout=20)  # not stuck while B stays locked
        self.assertEqual(waiting, f"waiting: {locked}: another program is writing to it\n")
        self.assertEqual(process.returncode, 128 + signal.SIGINT, rest)
        self.assertIn(b"interrupted by SIGINT; 1 of 4 messages not converted", rest)
        self.assertEqual(os.path.getsize(locked), 0)
        self.assertEqual(len(read_mbox(self.path("out", mirror, "A", "A.mbox"))), len(a))

    def test_a_bad_job_count_is_a_usage_error(self):
        write_file(self.path("src", "1.emlx"), emlx_bytes(make_message(1, random.Random(1))))
        for value in ("0", "-2", "two", "1025", "3x", ""):
            for args in (["--jobs", value], ["-j" + value]):
                if args == ["-j"]:
                    continue  # a value must follow: another error
                result = self.run_tool(*args, "-o", "out", "src")
                self.assertEqual(result.returncode, 2, args)
                self.assertIn(b"--jobs must be a number from 1 to 1024", result.stderr)
        self.assertFalse(os.path.exists(self.path("out")))
        # Written as getopt takes them: the value right after the short option.
        result = self.run_tool("-j3", "-oout", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(os.path.exists(self.path("out")))


if __name__ == "__main__":
    unittest.main()
