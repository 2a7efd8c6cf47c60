"""The separator line's sender and date for messages whose header or framing is out of the
common run: lone CR line ends, RFC 5322's obsolete syntax, dates in no standard form, a property
list right after a message without a final line end, an .emlx file without its count line."""

import os
import unittest

from cli_support import CliTestCase, mbox_files, plist, read_mbox, write_file

# 2001-01-01 00:00:00 UTC: the file time, which a lost property-list date would show.
FILE_TIME = 978307200
# 2010-01-01 00:00:00 UTC: the date-received of every property list here.
RECEIVED = 1262304000


class HeaderReadingTest(CliTestCase):
    def write_emlx(self, name: str, message: bytes, counted: bool = True) -> str:
        data = (b"%-10d\n" % len(message) if counted else b"") + message + plist(
            date_received=RECEIVED)
        path = write_file(self.path("src", name), data)
        os.utime(path, (FILE_TIME, FILE_TIME))
        return path

    def convert(self):
        """Converts src/ and gives each message's separator line (without "From ") and its
        bytes, in the order of the file names."""
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        boxes = mbox_files(self.path("out"))
        self.assertEqual(len(boxes), 1)
        return [(separator, message.as_bytes())
                for separator, message in read_mbox(self.path("out", boxes[0]))]

    def test_separator_lines_follow_the_standard_and_the_property_list(self):
        self.write_emlx("1.emlx", b"Return-Path: <bounce@example.net>\rFrom: Ann <ann@example.com>"
                                  b"\rDate: Tue, 1 Jul 2003 10:52:37 +0200\rSubject: 1\r\rOld Mac.\r")
        self.write_emlx("2.emlx", b"From  : John Doe <jdoe@machine(comment).  example>\n"
                                  b"To    : Mary Smith\n  \n          <mary@example.net>\n"
                                  b"Subject     : 2\n"
                                  b"Date  : Fri, 21 Nov 1997 09(comment):   55  :  06 -0600\n"
                                  b"\nTesting.\n")
        self.write_emlx("3.emlx", b"From: c@example.com\nSubject: 3\n"
                                  b"Date: Fri, 21 Nov 1997 09:55:06 -600\n\nA zone of 3 digits.\n")
        self.write_emlx("4.emlx", b"From: d@example.com\nSubject: 4\n"
                                  b"Date: Mon, 4 Mar 2024 06:09:22 PM EDT\n\nA 12-hour clock.\n")
        long_body = b"From: e@example.com\nSubject: 5\n\n" + b"x" * 5000  # no final line end
        self.write_emlx("5.emlx", long_body)
        self.write_emlx("6.emlx", b"From: f@example.com\nSubject: 6\n\nNo count line.\n",
                        counted=False)

        found = self.convert()
        self.assertEqual([separator for separator, _ in found], [
            "ann@example.com Tue Jul 01 08:52:37 2003",
            "jdoe@machine.example Fri Nov 21 15:55:06 1997",
            "c@example.com Fri Jan 01 00:00:00 2010",
            "d@example.com Fri Jan 01 00:00:00 2010",
            "e@example.com Fri Jan 01 00:00:00 2010",
            "f@example.com Fri Jan 01 00:00:00 2010",
        ])
        # The list is no part of the message, with or without a count line.
        for _, message in found:
            self.assertNotIn(b"<plist", message)
        self.assertIn(b"x" * 5000, found[4][1])
        self.assertIn(b"No count line.", found[5][1])


if __name__ == "__main__":
    unittest.main()
