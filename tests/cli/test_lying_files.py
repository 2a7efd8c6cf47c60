"""Files that are not what they say: an empty message file, a count line that disagrees with the
bytes after it, a file that holds less than its stated size, a FIFO with a sidecar's name, pipes
and sockets with messages' names, and names with control characters or bytes outside UTF-8. Each
is converted as far as it goes, with a warning, or reported as skipped, and the run neither stops,
hangs nor lets a name write to the terminal."""

import email
import os
import random
import socket
import stat
import unittest

from cli_support import (CliTestCase, decoded_parts, emlx_bytes, make_message, mbox_files, plist,
                         read_mbox, write_file)
from cli_support import report_lines

# Regular files whose stated size (a page) is more than they hold.
SHORT_FILES = ["/sys/devices/system/cpu/online", "/sys/kernel/mm/transparent_hugepage/enabled",
               "/sys/kernel/profiling"]


def warnings_of(result):
    return [line for line in report_lines(result.stderr.decode()) if line.startswith("warning:")]


class LyingFilesTest(CliTestCase):
    def setUp(self):
        super().setUp()
        self.rng = random.Random(31)
        self.box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"),
                                "src.mbox")

    def test_an_empty_first_file_is_skipped_and_the_run_goes_on(self):
        # An empty record would not count in Thunderbird and formail would join it to the
        # record before: every reader counts the messages alike only without it.
        empty = write_file(self.path("src", "1.emlx"), b"")
        good = write_file(self.path("src", "2.emlx"), emlx_bytes(make_message(2, self.rng)))
        result = self.run_tool("-o", "out", empty, good)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"skipped: {empty}: the file is empty\n", result.stderr.decode())
        self.assertEqual(warnings_of(result), [])
        self.assert_summary(result.stderr, converted=1, skipped=1, mailboxes=1)
        self.assert_same_messages(read_mbox(self.box), [good])

    def test_a_count_line_that_disagrees_loses_no_message_byte_and_is_said(self):
        message = make_message(1, self.rng)
        body = message + plist(flags=1, date_received=1700000000)
        n = len(message)
        files = [write_file(self.path("src", f"{number}.emlx"),
                            (count if isinstance(count, bytes) else b"%d" % count) + b"\n" + data)
                 for number, (count, data) in enumerate([
                     (n + 5000, message),  # past the end, no list
                     (0, body),
                     (n // 2, body),  # a store whose line ends were made longer
                     (n, body),
                     (n + 50, body),  # into the list: one whose line ends were made shorter
                     (b"-5", body),  # no byte count: the line is left out, not the message's
                 ], start=1)]
        result = self.run_tool("--flags", "-o", "out", *files)
        self.assertEqual(result.returncode, 0, result.stderr)
        to_list = f"{n} follow; all {n} are converted, up to the property list"
        self.assertEqual(warnings_of(result), [
            f"warning: {files[0]}: count line says {n + 5000} bytes, {n} follow",
            f"warning: {files[1]}: count line says 0 bytes, {to_list}",
            f"warning: {files[2]}: count line says {n // 2} bytes, {to_list}",
            f"warning: {files[4]}: count line says {n + 50} bytes, {n} follow",
            f'warning: {files[5]}: count line "-5" is no byte count: the line is left out',
        ])
        self.assert_summary(result.stderr, converted=6, warnings=5, mailboxes=1)
        # Every record is the whole message, and the flags are read wherever the list starts.
        written = read_mbox(self.box)
        want = email.message_from_bytes(message)
        self.assertEqual([decoded_parts(m) for _, m in written], [decoded_parts(want)] * 6)
        self.assertEqual([m["Status"] for _, m in written], [None] + ["RO"] * 5)

    def test_a_file_holding_less_than_its_stated_size_warns(self):
        for target in SHORT_FILES:
            try:
                with open(target, "rb") as f:
                    held = len(f.read())
                stated = os.stat(target).st_size
            except OSError:
                continue
            if 0 < held < stated:
                break
        else:
            self.skipTest("no file here states more than it holds (sysfs)")
        source = self.path("src", "short.eml")
        os.makedirs(os.path.dirname(source))
        os.symlink(target, source)
        result = self.run_tool("-o", "out", source)
        self.assertEqual(result.returncode, 0, result.stderr)
        # Such files hold no mail message either.
        self.assertEqual(warnings_of(result), [
            f"warning: {source}: the message has no header field",
            f"warning: {source}: file size says {stated} bytes, {held} could be read"])
        self.assert_summary(result.stderr, converted=1, warnings=1, mailboxes=1)

    def test_a_fifo_named_like_a_sidecar_does_not_hold_the_run(self):
        fifo = self.path("src", "._2.emlx")
        os.makedirs(os.path.dirname(fifo))
        os.mkfifo(fifo)
        good = write_file(self.path("src", "1.emlx"), emlx_bytes(make_message(1, self.rng)))
        result = self.run_tool("-o", "out", fifo, good)  # the helper's timeout bounds a hang
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(report_lines(result.stderr.decode())[0], f"{fifo}: not a regular file")
        self.assert_summary(result.stderr, converted=1, failed=1, mailboxes=1)
        self.assert_same_messages(read_mbox(self.box), [good])
        self.assertTrue(stat.S_ISFIFO(os.lstat(fifo).st_mode))

    def test_control_characters_in_names_are_printed_escaped(self):
        folder = self.path("src", "Inbox\n3 converted, 0 failed\x1b[2J")
        write_file(os.path.join(folder, "1.emlx"), emlx_bytes(make_message(1, self.rng)))
        # Named first as a SOURCE of its own, it fails there instead of being skipped by the walk.
        dangling = os.path.join(folder, "2.emlx")
        os.symlink(os.path.join(folder, "gone"), dangling)
        shown = self.path("src", "Inbox\\n3 converted, 0 failed\\x1b[2J")
        result = self.run_tool("-o", "out", dangling, "src")
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertNotIn(b"\x1b", result.stderr)
        lines = report_lines(result.stderr.decode())
        self.assertEqual(lines[0], f"{shown}/2.emlx: No such file or directory")
        self.assertEqual(len(lines), 2, result.stderr)
        self.assert_summary(result.stderr, converted=1, failed=1, mailboxes=1)
        # The mailbox itself keeps the folder's real name.
        self.assertEqual(mbox_files(self.path("out")), [os.path.join(
            os.path.relpath(folder, "/"), "Inbox\n3 converted, 0 failed\x1b[2J.mbox")])
        dry = self.run_tool("-n", "-o", "out", "src")
        self.assertNotIn(b"\x1b", dry.stdout)
        self.assertEqual(dry.stdout.decode().splitlines(), [
            f"{shown}/1.emlx -> {self.path('out')}/{os.path.relpath(shown, '/')}/"
            f"{os.path.basename(shown)}.mbox"])

    def test_huge_counts_and_files_without_a_header_are_converted_with_a_warning(self):
        message = make_message(1, self.rng)
        huge = write_file(self.path("src", "1.emlx"), b"98765432109876543210\n" + message)
        count_line = b"%d\n" % len(message)
        sparse = write_file(self.path("src", "2.emlx"), count_line + message)
        os.truncate(sparse, 1 << 30)  # a gigabyte of zeros (a hole) after the counted message
        zeros = write_file(self.path("src", "3.emlx"), b"")
        os.truncate(zeros, 3 << 20)  # large enough to be mapped; no line end, no header
        text = write_file(self.path("src", "4.emlx"), b"just a line of text\nand another\n")
        # Header blocks of 1.2 MB, the sender first or last: either may be missed, and is said.
        padding = b"".join(b"X-Pad-%d: %s\n" % (n, b"y" * 70) for n in range(16000))
        long_header = [write_file(self.path("src", f"{n}.emlx"), emlx_bytes(m)) for n, m in (
            (5, message.replace(b"To:", padding + b"To:", 1)), (6, padding + message))]
        empty_message = write_file(self.path("src", "7.emlx"), b"0\n" + plist(flags=0))
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(warnings_of(result), [
            f"warning: {huge}: count line says 98765432109876543210 bytes, {len(message)} follow",
            f"warning: {sparse}: {(1 << 30) - len(count_line) - len(message)} bytes after the "
            "message are left out: they start with a zero byte",
            f"warning: {zeros}: the message has no header field",
            f"warning: {text}: the message has no header field",
            *[f"warning: {path}: the header block is too long to be read whole (over 1 MB): the "
              "separator line's sender and date may be missing" for path in long_header],
            f"warning: {empty_message}: the message is empty"])
        self.assert_summary(result.stderr, converted=7, warnings=7, mailboxes=1)
        written = read_mbox(self.box)
        self.assertEqual([m["Message-ID"] for _, m in written[:2]], ["<m1@example.org>"] * 2)
        self.assertEqual([s.split()[0] for s, _ in written[4:6]],
                         ["sender1@example.org", "MAILER-DAEMON"])
        self.assertEqual(written[2][1].as_bytes().strip(b"\r\n"), bytes(3 << 20))
        self.assertEqual(written[3][1].get_payload().rstrip(), "just a line of text\nand another")

    def test_pipes_sockets_and_broken_links_named_like_messages_are_reported_as_skipped(self):
        # "\udc9b" is the lone byte 0x9b in the name: an 8-bit terminal's escape introducer.
        folder = self.path("src", "Inbox\udc9b")
        good = write_file(os.path.join(folder, "1.emlx"), emlx_bytes(make_message(1, self.rng)))
        os.mkfifo(os.path.join(folder, "2.emlx"))
        listening = socket.socket(socket.AF_UNIX)
        self.addCleanup(listening.close)
        listening.bind(os.path.join(folder, "3.emlx"))
        os.symlink(os.path.join(folder, "2.emlx"), os.path.join(folder, "4.EMLX"))
        os.symlink(os.path.join(folder, "gone"), os.path.join(folder, "5.emlx"))
        os.symlink("6.emlx", os.path.join(folder, "6.emlx"))
        os.mkfifo(os.path.join(folder, "notes"))  # not named like a message: not reported
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(b"\x9b", result.stderr)
        shown = self.path("src", "Inbox\\x9b")
        self.assertEqual(report_lines(result.stderr.decode())[:-1], [
            f"skipped: {shown}/2.emlx: not a regular file but a named pipe (FIFO)",
            f"skipped: {shown}/3.emlx: not a regular file but a socket",
            f"skipped: {shown}/4.EMLX: not a regular file but a symbolic link to a named pipe "
            "(FIFO)",
            f"skipped: {shown}/5.emlx: not a regular file but a symbolic link to nothing",
            f"skipped: {shown}/6.emlx: not a regular file but a symbolic link loop"])
        self.assert_summary(result.stderr, converted=1, skipped=5, mailboxes=1)
        [box] = mbox_files(self.path("out"))
        self.assert_same_messages(read_mbox(self.path("out", box)), [good])
        dry = self.run_tool("-n", "-o", "out", "src")
        self.assertEqual(len(dry.stderr.decode().splitlines()), 6, dry.stderr)
        self.assertNotIn(b"\x9b", dry.stdout + dry.stderr)


if __name__ == "__main__":
    unittest.main()
