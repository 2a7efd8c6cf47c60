"""Links and names that lead out of the mail store: the parts of a partial message are taken only
from plain folders and regular files under Attachments/<n>/ or beside the message, never through
a symbolic link or from a special file, and only for a message number made of digits. A secret
file outside the tree must appear nowhere in what a run writes. Message files themselves that
the walk reaches through a link are still converted. A link planted where a mailbox goes is
neither followed nor replaced."""

import base64
import email
import os
import random
import unittest

from cli_support import (CliTestCase, emlx_bytes, make_message, mbox_files, read_mbox,
                         source_message, write_file)
from cli_support import report_lines

STRIPPED = "X-Apple-Content-Length"


def partial_message(parts) -> bytes:
    """A multipart message with a text part and one stripped base64 part per number in parts
    (2, 3, ...), as Apple Mail leaves it when the parts are stored apart."""
    lines = ["From: a@example.com", "Subject: stubs", "Date: Mon, 05 Jan 2026 09:07:03 +0000",
             'Content-Type: multipart/mixed; boundary="b1"', "", "--b1",
             "Content-Type: text/plain", "", "hello"]
    for _ in parts:
        lines += ["--b1", "Content-Type: application/octet-stream",
                  "Content-Transfer-Encoding: base64", f"{STRIPPED}: 100", "", ""]
    lines += ["--b1--", ""]
    return "\n".join(lines).encode()


class LinksTest(CliTestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(23)
        self.secret = b"SECRET-" + bytes(rng.getrandbits(8) for _ in range(48)) + b"-SECRET"
        self.outside = write_file(self.path("outside", "secret.bin"), self.secret)
        write_file(self.path("outside", "2", "secret.bin"), self.secret)
        self.store = self.path("store")

    def assert_secret_nowhere(self, out):
        """Neither the bytes nor any decoded part of any mailbox holds the secret."""
        boxes = mbox_files(out)
        self.assertTrue(boxes)
        for box in boxes:
            path = os.path.join(out, box)
            with open(path, "rb") as f:
                raw = f.read()
            self.assertNotIn(self.secret, raw, box)
            self.assertNotIn(base64.b64encode(self.secret)[:40], raw, box)
            for _, msg in read_mbox(path):
                for part in msg.walk():
                    payload = part.get_payload(decode=True) or b""
                    self.assertNotIn(self.secret, payload, box)

    def warnings(self, result):
        return [line for line in report_lines(result.stderr.decode())
                if line.startswith("warning:")]

    def test_no_part_is_taken_through_a_link_or_from_a_special_file(self):
        message = write_file(os.path.join(self.store, "Messages", "7.partial.emlx"),
                             emlx_bytes(partial_message([2, 3, 4, 5, 6, 7])))
        attachments = os.path.join(self.store, "Attachments", "7")
        os.makedirs(os.path.join(attachments, "2"))
        # 2: the one file of the part's folder is a link out of the store.
        os.symlink(self.outside, os.path.join(attachments, "2", "secret.bin"))
        # 3: the part's folder is a link to a folder outside holding one file.
        os.symlink(self.path("outside", "2"), os.path.join(attachments, "3"))
        # 4: an .emlxpart file beside the message that is a link.
        os.symlink(self.outside, os.path.join(self.store, "Messages", "7.4.emlxpart"))
        # 5: a regular file beside a link in the part's folder.
        write_file(os.path.join(attachments, "5", "real.bin"), b"real content")
        os.symlink(self.outside, os.path.join(attachments, "5", "zz-link.bin"))
        # 6: an .emlxpart that is a FIFO: neither read nor waited for.
        os.mkfifo(os.path.join(self.store, "Messages", "7.6.emlxpart"))
        # 7: a plain file, taken.
        good = write_file(os.path.join(attachments, "7", "good.bin"), b"good content")

        result = self.run_tool("-o", "out", message)
        self.assertEqual(result.returncode, 0, result.stderr)
        messages = os.path.join(self.store, "Messages")
        self.assertEqual(self.warnings(result), [f"warning: {message}: {text}" for text in (
            f"attachment of part 2 not taken: {attachments}/2/secret.bin is a symbolic link, "
            "not followed",
            f"attachment of part 3 not taken: {attachments}/3 is a symbolic link, not followed",
            f"part 4 not taken: {messages}/7.4.emlxpart is a symbolic link, not followed",
            f"attachment of part 5 not taken: {attachments}/5/zz-link.bin is a symbolic link, "
            "not followed",
            f"part 6 not taken: {messages}/7.6.emlxpart is not a regular file")])
        self.assert_summary(result.stderr, converted=1, warnings=1)
        self.assert_secret_nowhere(self.path("out"))
        [(_, got)] = read_mbox(os.path.join(self.path("out"), mbox_files(self.path("out"))[0]))
        parts = got.get_payload()
        # The refused parts keep their stubs; part 7 is back.
        for part in parts[1:6]:
            self.assertEqual(part[STRIPPED], "100")
            self.assertEqual(part.get_payload(decode=True), b"")
        self.assertNotIn(STRIPPED, parts[6])
        with open(good, "rb") as f:
            self.assertEqual(parts[6].get_payload(decode=True), f.read())

    def test_no_folder_under_the_mailbox_folder_is_taken_through_a_link(self):
        message = write_file(os.path.join(self.store, "Messages", "8.partial.emlx"),
                             emlx_bytes(partial_message([2])))
        write_file(self.path("outside", "8", "2", "secret.bin"), self.secret)
        attachments = os.path.join(self.store, "Attachments")
        for link, target in ((attachments, self.path("outside")),
                             (os.path.join(attachments, "8"), self.path("outside", "8"))):
            with self.subTest(link=link):
                os.makedirs(os.path.dirname(link), exist_ok=True)
                os.symlink(target, link)
                result = self.run_tool("-o", "out", message)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(self.warnings(result), [
                    f"warning: {message}: attachment of part 2 not taken: "
                    f"{link} is a symbolic link, not followed"])
                self.assert_secret_nowhere(self.path("out"))
                os.remove(link)

    def test_a_link_at_a_mailbox_path_is_refused_and_named(self):
        message = write_file(self.path("src", "1.emlx"),
                             emlx_bytes(make_message(1, random.Random(2))))
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        os.makedirs(os.path.dirname(box))
        planted = self.path("planted.mbox")
        # A target to be made, an existing file; --new-only reads the mailbox first.
        for target, options, doing in ((planted, [], "write"), (self.outside, [], "write"),
                                       (self.outside, ["--new-only"], "add to")):
            with self.subTest(target=target, options=options):
                os.symlink(target, box)
                result = self.run_tool(*options, "-o", "out", "src")
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertEqual(result.stderr.decode().splitlines()[0],
                                 f"{message}: cannot {doing} mailbox {box}: is a symbolic link, "
                                 "not followed")
                self.assertIn(b"\n0 converted, 1 failed, 0 skipped, 0 warnings", result.stderr)
                self.assertTrue(os.path.islink(box))
                self.assertFalse(os.path.exists(planted))
                with open(self.outside, "rb") as f:
                    self.assertEqual(f.read(), self.secret)
                os.remove(box)

    def test_a_message_number_is_digits_only(self):
        # "...partial.emlx" would take ".." for its number and read beside Attachments.
        write_file(os.path.join(self.store, "2", "secret.bin"), self.secret)
        write_file(os.path.join(self.store, "Attachments", "x", "2", "secret.bin"), self.secret)
        messages = [write_file(os.path.join(self.store, "Messages", name),
                               emlx_bytes(partial_message([2])))
                    for name in ("...partial.emlx", "x.partial.emlx")]
        result = self.run_tool("-o", "out", *messages)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.warnings(result), [
            f"warning: {m}: attachment of part 2 not looked for: the file name holds no message "
            "number" for m in messages])
        self.assert_secret_nowhere(self.path("out"))

    def test_message_files_reached_through_links_are_still_converted(self):
        rng = random.Random(4)
        real = write_file(self.path("elsewhere", "1.emlx"), emlx_bytes(make_message(1, rng)))
        os.makedirs(self.path("src"))
        os.symlink(real, self.path("src", "1.emlx"))
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        self.assert_same_messages(read_mbox(box), [real])

    def test_no_folder_under_the_destination_is_taken_through_a_link(self):
        rng = random.Random(6)
        inside = write_file(self.path("src", "A", "1.emlx"), emlx_bytes(make_message(1, rng)))
        other = write_file(self.path("src", "B", "2.emlx"), emlx_bytes(make_message(2, rng)))
        mirror = self.path("out", os.path.relpath(self.path("src"), "/"))
        os.makedirs(mirror)
        os.makedirs(self.path("elsewhere"))
        os.symlink(self.path("elsewhere"), os.path.join(mirror, "A"))  # one above the mailbox
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 1, result.stderr)
        link = os.path.join(mirror, "A")
        self.assertEqual(report_lines(result.stderr.decode())[0],
                         f"{inside}: cannot create output folder {link}/: a symbolic link "
                         f"stands in the way: {link}, not followed")
        self.assert_summary(result.stderr, converted=1, failed=1, mailboxes=1)
        self.assertEqual(os.listdir(self.path("elsewhere")), [])
        self.assert_same_messages(read_mbox(os.path.join(mirror, "B", "B.mbox")), [other])

    def test_links_to_folders_are_told_as_skipped(self):
        rng = random.Random(5)
        message = write_file(self.path("src", "1.emlx"), emlx_bytes(make_message(1, rng)))
        write_file(self.path("elsewhere", "2.emlx"), emlx_bytes(make_message(2, rng)))
        os.symlink(self.path("elsewhere"), self.path("src", "Old"))
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(report_lines(result.stderr.decode())[0],
                         f"skipped: {self.path('src', 'Old')}: a symbolic link to a folder, "
                         "not followed")
        self.assert_summary(result.stderr, converted=1, skipped=1, mailboxes=1)
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        self.assert_same_messages(read_mbox(box), [message])


if __name__ == "__main__":
    unittest.main()
