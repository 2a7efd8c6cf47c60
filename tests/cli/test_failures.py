"""Bad input and unwritable output: each problem is reported as "path: reason", the rest of the
run is converted, the exit status is 1 and no mailbox holds a partial record."""

import os
import random
import re
import resource
import shutil
import signal
import subprocess
import unittest

from cli_support import (CORPUS, EMLX2MBOX, CliTestCase, emlx_bytes, make_message, read_mbox,
                         write_file)
from cli_support import report_lines, unprivileged


def limit_file_size(limit):
    """Runs in the child before exec: writes past `limit` bytes would kill the process with
    SIGXFSZ, which the program ignores so that they fail with EFBIG, as on a full disk."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


class FailureTest(CliTestCase):
    def setUp(self):
        super().setUp()
        self.rng = random.Random(11)

    def message(self, *parts, number=1, attachment=False):
        return write_file(self.path(*parts),
                          emlx_bytes(make_message(number, self.rng, attachment=attachment)))

    def test_missing_and_unreadable_messages_fail_alone(self):
        good = [self.message("src", "1.emlx", number=1), self.message("src", "2.emlx", number=2)]
        missing = self.path("src", "gone.emlx")
        os.symlink(self.path("src", "nowhere.emlx"), missing)  # the entry exists, its file not
        looping = self.path("src", "loop.emlx")
        os.symlink(looping, looping)  # cannot be opened, even by root
        result = self.run_tool("-o", "out", good[0], missing, looping, good[1])
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = report_lines(result.stderr.decode())
        self.assertEqual(lines[:2], [f"{missing}: No such file or directory",
                                     f"{looping}: Too many levels of symbolic links"])
        self.assert_summary(result.stderr, converted=2, failed=2, mailboxes=1)
        self.assertEqual(len(lines), 3)
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        self.assert_same_messages(read_mbox(box), good)

    def test_a_message_too_large_for_the_memory_left_fails_alone(self):
        with open(EMLX2MBOX, "rb") as tool:
            if re.search(rb"__[at]san_init", tool.read()):
                self.skipTest("a sanitizer needs more address space than the limit leaves")
        first = self.message("src", "A", "1.emlx", number=1)
        huge = self.path("src", "A", "2.emlx")
        with open(huge, "wb") as f:
            f.truncate(300 << 20)  # sparse: neither mapped nor copied under the limit
        last = self.message("src", "A", "3.emlx", number=3)
        limit = 200 << 20
        for jobs in ("1", "2"):
            result = self.run_tool("-j", jobs, "-o", "out" + jobs, "src", preexec_fn=lambda: (
                resource.setrlimit(resource.RLIMIT_AS, (limit, limit))))
            self.assertEqual(result.returncode, 1, result.stderr)
            self.assertEqual(report_lines(result.stderr.decode())[0],
                             f"{huge}: not enough memory to read it")
            self.assert_summary(result.stderr, converted=2, failed=1, mailboxes=1)
            box = os.path.join(self.path("out" + jobs), os.path.relpath(self.path("src", "A"), "/"),
                               "A.mbox")
            self.assert_same_messages(read_mbox(box), [first, last])

    def test_unlistable_folder_and_unreadable_file_fail_and_the_rest_converts(self):
        os.chmod(self.tmp, 0o777)  # the unprivileged run writes out/ here
        first = self.message("src", "A", "1.emlx", number=1)
        unreadable = self.message("src", "A", "2.emlx", number=2)
        os.chmod(unreadable, 0)
        self.message("src", "B", "3.emlx", number=3)
        os.chmod(self.path("src", "B"), 0)
        # A copy the unprivileged user can reach, wherever the build folder lies.
        tool = shutil.copy(EMLX2MBOX, self.path("emlx2mbox"))
        result = subprocess.run([tool, "-o", "out", "src"], capture_output=True, cwd=self.tmp,
                                preexec_fn=unprivileged, timeout=120)
        self.assertEqual(result.returncode, 1, result.stderr)
        folder = self.path("src", "B") + "/"
        self.assertEqual(report_lines(result.stderr.decode())[:2], [
            f"{folder}: cannot list the folder: Permission denied",
            f"{unreadable}: Permission denied"])
        self.assert_summary(result.stderr, converted=1, failed=2, mailboxes=1)
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src", "A"), "/"), "A.mbox")
        self.assert_same_messages(read_mbox(box), [first])

    def test_every_unlistable_folder_is_named_and_the_walk_goes_on(self):
        os.chmod(self.tmp, 0o777)  # the unprivileged run writes out/ here
        self.message("src", "A", "1.emlx", number=1)
        readable = [self.message("src", "B", "2.emlx", number=2),
                    self.message("src", "C", "3.emlx", number=3),
                    self.message("src", "C", "D", "4.emlx", number=4)]
        self.message("src", "C", "E", "5.emlx", number=5)
        locked = [self.path("src", "A"), self.path("src", "C", "E")]
        for folder in locked:
            os.chmod(folder, 0)
        tool = shutil.copy(EMLX2MBOX, self.path("emlx2mbox"))
        result = subprocess.run([tool, "-o", "out", "src"], capture_output=True, cwd=self.tmp,
                                preexec_fn=unprivileged, timeout=120)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(report_lines(result.stderr.decode())[:-1], [
            f"{folder}/: cannot list the folder: Permission denied" for folder in locked])
        self.assert_summary(result.stderr, converted=3, failed=2, mailboxes=3)
        mirror = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"))
        for source, box in zip(readable, ("B/B.mbox", "C/C.mbox", "C/D/D.mbox")):
            self.assert_same_messages(read_mbox(os.path.join(mirror, box)), [source])

    def test_a_mailbox_that_cannot_be_created_fails_its_messages_only(self):
        good = self.message("src", "A", "1.emlx", number=1)
        blocked = [self.message("src", "B", "2.emlx", number=2),
                   self.message("src", "B", "3.emlx", number=3)]
        mirror = os.path.relpath(self.path("src"), "/")
        # A regular file stands where folder B's mailbox folder should be made.
        write_file(self.path("out", mirror, "B"), b"in the way\n")
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = report_lines(result.stderr.decode())
        folder = self.path("out", mirror, "B")
        self.assertEqual(lines[:2], [
            f"{path}: cannot create output folder {folder}/: a file stands in the way: {folder}"
            for path in blocked])
        self.assertEqual(len(lines), 3, result.stderr)
        self.assert_summary(result.stderr, converted=1, failed=2, mailboxes=1)
        self.assert_same_messages(read_mbox(self.path("out", mirror, "A", "A.mbox")), [good])

    def test_a_message_that_fails_leaves_no_folder(self):
        link = self.path("links", "1.emlx")
        os.makedirs(os.path.dirname(link))
        os.symlink(self.path("gone.emlx"), link)
        # Its folder can be made, but "<name>.mbox" is past the longest file name.
        long_named = self.path("L" * 252)
        self.message("L" * 252, "2.emlx", number=2)
        for source in ("/dev/zero", link, long_named):
            for options in ([], ["-j1"], ["--new-only"]):
                result = self.run_tool("-o", "out", *options, source)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(os.listdir(self.path("out")), [], (source, options))

    def test_a_record_cut_short_is_taken_back_out_of_the_mailbox(self):
        small = [self.message("src", f"{n}.emlx", number=n) for n in (1, 2)]
        big = write_file(self.path("src", "3.emlx"),
                         emlx_bytes(make_message(3, self.rng) + b"X" * 200_000 + b"\n"))
        last = self.message("src", "4.emlx", number=4)
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        os.makedirs(os.path.dirname(box))
        # The big record does not fit under the limit; the small ones do, before and after it.
        result = self.run_tool("-o", "out", "src", preexec_fn=limit_file_size(100_000))
        self.assertEqual(result.returncode, 1, result.stderr)
        lines = report_lines(result.stderr.decode())
        self.assertEqual(lines[0], f"{big}: cannot write mailbox {box}: File too large")
        self.assertEqual(len(lines), 2, result.stderr)
        self.assert_summary(result.stderr, converted=3, failed=1, mailboxes=1)
        self.assert_same_messages(read_mbox(box), small + [last])

    def test_a_sidecar_is_skipped_and_a_missing_attachment_warned_without_failing(self):
        good = self.message("src", "1.emlx", number=1)
        sidecar = write_file(self.path("src", "._1.emlx"),
                             b"\x00\x05\x16\x07\x00\x02\x00\x00Mac OS X        " + b"\x00" * 64)
        stub = os.path.abspath(os.path.join(CORPUS, "partial-emlx-converter", "test", "__testdata", "input",
                            "Messages", "114893.partial.emlx"))
        self.assertTrue(os.path.exists(stub), stub)
        result = self.run_tool("-o", "out", "src", stub)
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = report_lines(result.stderr.decode())
        self.assertEqual(len(lines), 6, result.stderr)
        # Four stripped parts without their attachment folder: one line each, one message warned.
        self.assertEqual(lines[:4], [f"warning: {stub}: attachment of part {part} not found"
                                     for part in ("2.2", "2.4", "2.6", "2.8")])
        self.assertEqual(lines[4],
                         f"skipped: {sidecar}: not a message: AppleDouble metadata file")
        self.assert_summary(result.stderr, converted=2, skipped=1, warnings=1, mailboxes=2)
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        self.assert_same_messages(read_mbox(box), [good])


if __name__ == "__main__":
    unittest.main()
