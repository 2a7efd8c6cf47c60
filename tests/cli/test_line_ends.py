"""Every message comes back as it went in: a tree of messages in every line-end shape and with
senders outside ASCII, converted in each --eol mode, is read back with Python's mbox reader and
compared byte for byte; formail, mutt, Dovecot and GNU mailutils count the records."""

import mailbox
import os
import random
import re
import unittest

from cli_support import CliTestCase, emlx_bytes, make_message, mbox_files, unquote_mboxrd, write_file
from mbox_readers import READERS

MODES = ("auto", "crlf", "lf")


def to_crlf(message: bytes) -> bytes:
    return message.replace(b"\n", b"\r\n")


def source_messages():
    """(name, message bytes) in every shape a real store holds."""
    rng = random.Random(7)
    lf = [make_message(n, rng, attachment=n % 2 == 0) for n in range(1, 13)]
    header_only = (b"From: Only Header <only@example.org>\nSubject: header only\n"
                   b"Date: Tue, 02 Jan 2024 10:00:00 +0000\nMessage-ID: <h@example.org>\n")
    return [
        ("lf", lf[0]),
        ("lf-attachment", lf[1]),
        ("crlf", to_crlf(lf[2])),
        ("crlf-attachment", to_crlf(lf[3])),
        ("cr", lf[4].replace(b"\n", b"\r")),
        # First line end LF, then CR LF and lone CR further down: kept as they are.
        ("mixed-lf-first", lf[5].replace(b"Line 1 ", b"Line\r\n1 ", 1).replace(b"Line 2 ",
                                                                               b"Line\r2 ", 1)),
        # First line end CR LF, then a lone LF and a lone CR.
        ("mixed-crlf-first", to_crlf(lf[6]).replace(b"Line 1 ", b"Line\n1 ", 1)
         .replace(b"Line 2 ", b"Line\r2 ", 1)),
        ("header-only", header_only),
        ("header-only-crlf", to_crlf(header_only)),
        ("empty", b""),
        ("no-final-line-end", lf[7].rstrip(b"\n")),
        ("no-final-line-end-crlf", to_crlf(lf[8]).rstrip(b"\r\n")),
        # "From " lines: as the file's own first line, in the body, already quoted, after a lone
        # CR (a line start only where a lone CR ends a line).
        ("from-lines", b"From someone@example.org Mon Jan  1 00:00:00 2024\n" +
         lf[9].replace(b"Line 0 ", b"From here\n>From there\n>>From x\nLine\rFrom cr\nLine 0 ",
                       1)),
        ("from-lines-crlf", to_crlf(lf[10].replace(b"Line 0 ", b"From here\n>From x\nLine 0 ",
                                                   1))),
        ("from-lines-cr", lf[11].replace(b"Line 0 ", b"From here\nLine 0 ", 1)
         .replace(b"\n", b"\r")),
        # UTF-8 addresses (RFC 6532), which no separator line may hold.
        ("utf8-from", lf[0].replace(b"From: Sender 1 <sender1@example.org>",
                                    '"Jöhn Doe" <jdöe@mächine.example>'.encode().join(
                                        [b"From: ", b"\nReturn-Path: <bounce@example.org>"]))),
        ("utf8-return-path", "Return-Path: <Marilù.Gioffré@esempio-università.it>\n".encode() +
         to_crlf(lf[1].replace(b"From: Sender 2 <sender2@example.org>\n", b""))),
    ]


SENDERS = {"utf8-from": "bounce@example.org", "utf8-return-path": "MAILER-DAEMON"}


def converted(message: bytes, mode: str):
    """The message with its line ends as the record writes them, and the message's line end."""
    if mode == "auto":
        first = re.search(rb"[\r\n]", message)
        eol = b"\r\n" if first and first.group() == b"\r" else b"\n"
        return (re.sub(rb"\r(?!\n)", b"\r\n", message) if eol == b"\r\n" else message), eol
    eol = b"\r\n" if mode == "crlf" else b"\n"
    return re.sub(rb"\r\n|\r|\n", eol, message), eol


def has_empty_line(text: bytes) -> bool:
    return text.startswith((b"\n", b"\r\n")) or b"\n\n" in text or b"\n\r\n" in text


def expected_message(message: bytes, mode: str):
    """What a reader gets back: the converted message, ending with a line end, with an empty
    line after a header that had none."""
    text, eol = converted(message, mode)
    if not text.endswith(b"\n"):
        text += eol
    if not has_empty_line(text):
        text += eol
    return text, eol


class LineEndsTest(CliTestCase):
    def make_tree(self):
        sources = source_messages()
        for n, (name, message) in enumerate(sources, 1):
            write_file(self.path("src", "Inbox", f"{n}.emlx"), emlx_bytes(message))
        return sources

    def convert(self, *options):
        out = self.path("out-" + "-".join(options).replace("-", ""))
        result = self.run_tool(*options, "-o", out, "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.notes = [line for line in result.stderr.decode().splitlines()
                      if line.startswith("note: ")]
        boxes = mbox_files(out)
        self.assertEqual(len(boxes), 1)
        return os.path.join(out, boxes[0])

    def test_every_message_comes_back_in_every_mode(self):
        sources = self.make_tree()
        # The messages that need nothing done come back unchanged in the default mode.
        clean = {"lf", "lf-attachment", "crlf", "crlf-attachment", "mixed-lf-first", "from-lines",
                 "from-lines-crlf"}
        for name, message in sources:
            if name in clean:
                self.assertEqual(expected_message(message, "auto")[0], message, name)

        for options in ((), ("--eol", "auto"), ("--eol", "crlf"), ("--eol", "lf")):
            mode = options[1] if options else "auto"
            box_path = self.convert(*options)
            box = mailbox.mbox(box_path, create=False)
            try:
                records = [(m.get_from(), box.get_bytes(key)) for key, m in box.iteritems()]
            finally:
                box.close()
            self.assertEqual(len(records), len(sources), mode)
            # The default mode says how many messages kept CR LF line ends, and what to do.
            crlf = sum(converted(message, "auto")[1] == b"\r\n" for _, message in sources)
            self.assertEqual(self.notes, [f"note: {crlf} message{'s' * (crlf != 1)} kept CR LF line ends, which "
                                          "GNU mailutils cannot read; --eol lf writes them with "
                                          "LF"] if mode == "auto" else [], mode)

            # The record's own lines end with LF but in the CR LF mode, whatever the message's.
            record_eol = b"\r\n" if mode == "crlf" else b"\n"
            rebuilt = b""
            for (name, message), (separator, got) in zip(sources, records):
                want, _ = expected_message(message, mode)
                # Python's reader takes only a lone LF line for the empty line before the next
                # record, so a CR LF record's closing empty line comes back with its message.
                if mode == "crlf":
                    self.assertTrue(got.endswith(b"\r\n\r\n"), name)
                    got = got[:-2]
                self.assertEqual(unquote_mboxrd(got), want, (mode, name))
                self.assertEqual(separator.endswith("\r"), mode == "crlf", (mode, name))
                self.assertRegex(separator.rstrip("\r"), r"^[!-~]+ [ -~]+$", (mode, name))
                if name in SENDERS:
                    self.assertEqual(separator.split()[0], SENDERS[name], (mode, name))
                rebuilt += b"From " + separator.rstrip("\r").encode() + record_eol + got + record_eol
            # Nothing else is in the file: every record is separator, message, empty line.
            with open(box_path, "rb") as f:
                raw = f.read()
            self.assertEqual(raw, rebuilt, mode)
            if mode == "crlf":
                self.assertNotIn(b"\n", raw.replace(b"\r\n", b""))
                self.assertNotIn(b"\r", raw.replace(b"\r\n", b""))
            if mode == "lf":
                self.assertNotIn(b"\r", raw)

    def test_every_reader_finds_every_record(self):
        rng = random.Random(11)
        lf_sources = [make_message(n, rng, attachment=n % 3 == 0) for n in range(1, 9)]
        lf_sources.append(b"From: Only Header <only@example.org>\nSubject: header only\n")
        lf_sources.append(b"Subject: with From line\n\nFrom here\nbody\n")
        for n, message in enumerate(lf_sources, 1):
            write_file(self.path("lf-src", "Box", f"{n}.emlx"), emlx_bytes(message))
        result = self.run_tool("-o", "lf-out", "lf-src")
        self.assertEqual(result.returncode, 0, result.stderr)
        lf_box = self.path("lf-out", mbox_files(self.path("lf-out"))[0])
        mixed = len(self.make_tree())

        # (mailbox, records it holds, readers left out). formail only splits where a separator
        # line is followed by a header field, so the empty message stays with the record before
        # it; GNU mailutils finds no header end in a CR LF message, however it is framed.
        boxes = [(lf_box, len(lf_sources), set()), (self.convert(), mixed, {"mailutils"}),
                 (self.convert("--eol", "lf"), mixed, set())]
        for n, (box, count, left_out) in enumerate(boxes):
            for reader, count_of in READERS.items():
                if reader in left_out:
                    continue
                found = count_of(box, self.path(f"readers-{n}"))
                if found is None:
                    continue  # not installed here
                want = count - 1 if reader == "formail" and box != lf_box else count
                self.assertEqual(found, want, (reader, box))


if __name__ == "__main__":
    unittest.main()
