"""End to end: partial messages from a real Apple Mail store come out of emlx2mbox whole, with
every stripped part put back from the Attachments folder or an .emlxpart file, and parts whose
content is gone are reported while the message is still converted."""

import base64
import os
import shutil
import unittest

from cli_support import CORPUS, CliTestCase, mbox_files, read_mbox, source_message, write_file
from cli_support import report_lines

TESTDATA = os.path.join(CORPUS, "partial-emlx-converter", "test", "__testdata", "input")
STRIPPED = "X-Apple-Content-Length"


def section(msg, number):
    """The part at an IMAP section number: children of a multipart count from 1, a single-part
    body is 1, an attached message's parts nest under its number."""
    part = msg
    for step in number.split("."):
        index = int(step)
        if part.get_content_type() == "message/rfc822":
            part = part.get_payload(0)
        if part.is_multipart():
            part = part.get_payload(index - 1)
        elif index != 1:
            raise KeyError(number)
    return part


def leaf_numbers(msg, prefix=""):
    """Every leaf part's IMAP section number, in order."""
    if msg.is_multipart():
        numbers = []
        for i, child in enumerate(msg.get_payload(), 1):
            number = f"{prefix}.{i}" if prefix else str(i)
            if child.is_multipart():
                numbers += leaf_numbers(child, number)
            else:
                numbers.append(number)
        return numbers
    return [prefix or "1"]


def attachment_files(message_number):
    """{section number: file} for a message's folder under Attachments/."""
    folder = os.path.join(TESTDATA, "Attachments", message_number)
    if not os.path.isdir(folder):
        return {}
    found = {}
    for number in os.listdir(folder):
        names = os.listdir(os.path.join(folder, number))
        found[number] = os.path.join(folder, number, names[0])
    return found


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class PartialMessagesTest(CliTestCase):
    def setUp(self):
        super().setUp()
        self.assertTrue(os.path.isdir(TESTDATA), f"corpus not present at {TESTDATA}")

    def convert(self, source):
        result = self.run_tool("-o", self.path("out"), source)
        self.assertEqual(result.returncode, 0, result.stderr)
        boxes = mbox_files(self.path("out"))
        self.assertEqual(len(boxes), 1, boxes)
        return result, read_mbox(self.path("out", boxes[0]))

    def assert_whole(self, got, source_path, files):
        """The stripped parts decode to their files; everything else matches the source."""
        want = source_message(source_path)
        self.assertEqual([(k, v) for k, v in got.items()], [(k, v) for k, v in want.items()])
        self.assertEqual(leaf_numbers(got), leaf_numbers(want))
        for number in leaf_numbers(want):
            have, had = section(got, number), section(want, number)
            if number in files:
                self.assertIn(STRIPPED, had, number)
                self.assertNotIn(STRIPPED, have, number)
                self.assertEqual(have.get_payload(decode=True), read_bytes(files[number]),
                                 f"{source_path} part {number}")
            else:
                self.assertEqual(have.items(), had.items(), number)
                self.assertEqual(have.get_payload(decode=True), had.get_payload(decode=True),
                                 number)

    def test_corpus_store_gets_every_attachment_back(self):
        src = self.path("store")
        shutil.copytree(os.path.join(TESTDATA, "Messages"), os.path.join(src, "Messages"))
        shutil.copytree(os.path.join(TESTDATA, "Attachments"), os.path.join(src, "Attachments"))
        result, written = self.convert(src)

        names = sorted(os.listdir(os.path.join(src, "Messages")), key=lambda n: int(n.split(".")[0]))
        self.assertEqual(len(written), len(names))
        restored = 0
        for name, (_, got) in zip(names, written):
            number = name.split(".")[0]
            files = attachment_files(number)
            self.assert_whole(got, os.path.join(src, "Messages", name), files)
            restored += len(files)
        self.assertEqual(restored, 12)

        # 114893 and 114895 have no folder: their stubs stay, each part is named once.
        warnings = [line for line in report_lines(result.stderr.decode())
                    if line.startswith("warning:")]
        expected = [f"warning: {os.path.join(src, 'Messages', n + '.partial.emlx')}: "
                    f"attachment of part {p} not found"
                    for n in ("114893", "114895") for p in ("2.2", "2.4", "2.6", "2.8")]
        self.assertEqual(warnings, expected)
        self.assert_summary(result.stderr, converted=10, warnings=2)
        stub = written[names.index("114893.partial.emlx")][1]
        self.assertEqual([section(stub, p)[STRIPPED] for p in ("2.2", "2.4", "2.6", "2.8")],
                         ["12", "35967", "2146", "101404"])

    def test_broken_closing_boundary_keeps_every_part(self):
        src = self.path("store")
        message = write_file(os.path.join(src, "Messages", "114895.partial.emlx"),
                             read_bytes(os.path.join(TESTDATA, "Messages", "114895.partial.emlx")))
        shutil.copytree(os.path.join(TESTDATA, "Attachments", "114892"),
                        os.path.join(src, "Attachments", "114895"))
        result, written = self.convert(src)
        self.assertEqual(len(written), 1)
        self.assert_summary(result.stderr, converted=1)
        files = {n: os.path.join(TESTDATA, "Attachments", "114892", n, f)
                 for n, f in ((n, os.listdir(os.path.join(TESTDATA, "Attachments", "114892", n))[0])
                              for n in ("2.2", "2.4", "2.6", "2.8"))}
        self.assert_whole(written[0][1], message, files)
        with open(self.path("out", mbox_files(self.path("out"))[0]), "rb") as f:
            self.assertIn(b"--Apple-Mail=_F073CB14-2AA7-40E0-88F6-8C1A8748438B-", f.read())

    def test_emlxpart_files_and_ambiguous_folders(self):
        data = bytes((i * 37 + 11) % 256 for i in range(3000))
        encoded = base64.encodebytes(data)  # lines of 76 with LF ends
        stub = (b"From: a@example.com\r\nTo: b@example.com\r\nSubject: old store\r\n"
                b"Date: Tue, 02 Jan 2007 10:00:00 +0000\r\n"
                b"Content-Type: multipart/mixed; boundary=b1\r\n\r\n"
                b"--b1\r\nContent-Type: text/plain\r\n\r\nsee attached\r\n"
                b"--b1\r\nContent-Type: application/octet-stream; name=data.bin\r\n"
                b"Content-Transfer-Encoding: base64\r\nX-Apple-Content-Length: 3000\r\n\r\n\r\n"
                b"--b1\r\nContent-Type: application/octet-stream; name=x.bin\r\n"
                b"Content-Transfer-Encoding: base64\r\nX-Apple-Content-Length: 9\r\n\r\n\r\n"
                b"--b1--\r\n")
        src = self.path("store")
        message = write_file(os.path.join(src, "Messages", "5.partial.emlx"),
                             b"%-10d\n" % len(stub) + stub)
        write_file(os.path.join(src, "Messages", "5.2.emlxpart"), encoded)
        write_file(os.path.join(src, "Attachments", "5", "3", "one.bin"), b"first")
        write_file(os.path.join(src, "Attachments", "5", "3", "two.bin"), b"second")
        result, written = self.convert(src)

        got = written[0][1]
        self.assertEqual(section(got, "2").get_payload(decode=True), data)
        self.assertNotIn(STRIPPED, section(got, "2"))
        self.assertEqual(section(got, "3")[STRIPPED], "9")
        self.assertEqual(section(got, "1").get_payload(decode=True), b"see attached")
        self.assertIn(f"warning: {message}: attachment of part 3 not found: its folder holds 2 "
                      "files, expected one", report_lines(result.stderr.decode()))
        self.assert_summary(result.stderr, converted=1, warnings=1)

    def test_parts_go_back_whatever_the_line_ends(self):
        """Messages whose lines end with LF, CR LF or lone CRs (old Mac files) get their parts
        back; a non-text part declared quoted-printable decodes to its file byte for byte."""
        data, text = b"a\r\nb\nc\r\x00 ", b"caf\xc3\xa9 = 100%\nend\n"
        for name, eol in (("lf", b"\n"), ("crlf", b"\r\n"), ("cr", b"\r")):
            with self.subTest(name):
                stub = (b"From: a@example.com\nContent-Type: multipart/mixed; boundary=b1\n\n"
                        b"--b1\nContent-Type: application/octet-stream\n"
                        b"Content-Transfer-Encoding: quoted-printable\n%s: 9\n\n\n"
                        b"--b1\nContent-Type: text/plain\nContent-Transfer-Encoding: base64\n"
                        b"%s: 17\n\n\n--b1--\n" % (STRIPPED.encode(), STRIPPED.encode()))
                stub = stub.replace(b"\n", eol)
                src, out = self.path(name), self.path("out-" + name)
                write_file(os.path.join(src, "Messages", "6.partial.emlx"),
                           b"%d\n" % len(stub) + stub)
                write_file(os.path.join(src, "Attachments", "6", "1", "data.bin"), data)
                write_file(os.path.join(src, "Attachments", "6", "2", "notes.txt"), text)
                result = self.run_tool("-o", out, src)
                self.assert_summary(result.stderr, converted=1)
                got = read_mbox(os.path.join(out, mbox_files(out)[0]))[0][1]
                self.assertEqual(section(got, "1").get_payload(decode=True), data)
                self.assertEqual(section(got, "2").get_payload(decode=True), text)

if __name__ == "__main__":
    unittest.main()
