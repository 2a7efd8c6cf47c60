"""--flags on real Apple Mail files: the property list's 64-bit flags become Status, X-Status
and X-Mozilla-Status headers ahead of the message's own, replacing any it already had."""

import os
import plistlib
import random
import re
import unittest

from cli_support import (CORPUS, CliTestCase, emlx_bytes, header_items, make_message,
                         read_mbox, source_message, write_file)

MESSAGES = os.path.join(CORPUS, "partial-emlx-converter", "test", "__testdata", "input",
                        "Messages")
CORPUS_FILES = [
    os.path.join(MESSAGES, "114862.emlx"),          # flags 8623750272, above 32 bits
    os.path.join(MESSAGES, "114892.partial.emlx"),  # read
    os.path.join(MESSAGES, "465622.partial.emlx"),  # flags 25803555841
    os.path.join(CORPUS, "terhechte-emlx", "tests", "emails", "2.emlx"),  # read and draft
]
FLAG_HEADERS = ("Status", "X-Status", "X-Mozilla-Status")


def plist_flags(path):
    """The flags integer of the property list after the counted message."""
    with open(path, "rb") as f:
        data = f.read()
    first, _, rest = data.partition(b"\n")
    return plistlib.loads(rest[int(first.strip()):])["flags"]


def expected_headers(flags):
    """The three headers as mail readers read them, from Apple Mail's bit layout."""
    def bit(n):
        return bool(flags >> n & 1)
    headers = [("Status", "RO" if bit(0) else "O")]
    letters = "".join(letter for letter, n in (("A", 2), ("F", 4), ("T", 6), ("D", 1)) if bit(n))
    if letters:
        headers.append(("X-Status", letters))
    mozilla = ((0x0001 if bit(0) else 0) | (0x0002 if bit(2) else 0) |
               (0x0004 if bit(4) else 0) | (0x1000 if bit(8) else 0) |
               (0x2000 if bit(9) else 0))
    headers.append(("X-Mozilla-Status", f"{mozilla:04X}"))
    return headers


class FlagsTest(CliTestCase):
    def test_corpus_flags_become_status_headers_ahead_of_the_message(self):
        for path in CORPUS_FILES:
            self.assertTrue(os.path.exists(path), path)
        flags = [plist_flags(p) for p in CORPUS_FILES]
        self.assertTrue(any(f >= 1 << 32 for f in flags))
        result = self.run_tool("--flags", "-o", "out", *CORPUS_FILES)
        self.assertEqual(result.returncode, 0, result.stderr)
        written = []
        for box in sorted({os.path.dirname(p) for p in CORPUS_FILES}):
            mirror = os.path.relpath(box, "/")
            written += read_mbox(self.path("out", mirror, os.path.basename(box) + ".mbox"))
        written_by_id = {m["Message-ID"]: m for _, m in written}
        self.assertEqual(len(written_by_id), len(CORPUS_FILES))
        for path, value in zip(CORPUS_FILES, flags):
            source = source_message(path)
            got = written_by_id[source["Message-ID"]]
            want = expected_headers(value)
            self.assertEqual(got.items()[:len(want)], want, path)
            self.assertEqual(header_items(got)[len(want):], header_items(source), path)

    def test_existing_status_headers_are_replaced_and_absent_without_the_option(self):
        message = make_message(1, random.Random(4)).replace(
            b"Subject:", b"Status: RO\nX-Status: F\nX-Mozilla-Status: 0005\nSubject:", 1)
        data = emlx_bytes(message).replace(b"<integer>1700000000</integer>",
                                           b"<integer>1700000000</integer>\n\t<key>flags</key>\n"
                                           b"\t<integer>%d</integer>" % (1 << 2 | 1 << 40), 1)
        source = write_file(self.path("src", "1.emlx"), data)
        self.assertEqual(plist_flags(source), 1 << 2 | 1 << 40)

        mirror = os.path.relpath(self.path("src"), "/")
        result = self.run_tool("--flags", "-o", "with", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        (_, got), = read_mbox(self.path("with", mirror, "src.mbox"))
        self.assertEqual(got.items()[:3], [("Status", "O"), ("X-Status", "A"),
                                           ("X-Mozilla-Status", "0002")])
        self.assertEqual(got.items()[3:],
                         [h for h in source_message(source).items() if h[0] not in FLAG_HEADERS])

        result = self.run_tool("-o", "without", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        (_, plain), = read_mbox(self.path("without", mirror, "src.mbox"))
        self.assertEqual(plain.items(), source_message(source).items())
        self.assertFalse(re.search(r"X-Mozilla-Status: 0002", plain.as_string()))

    def test_a_binary_property_list_gives_the_flags_and_the_date(self):
        listed = plistlib.dumps({"flags": 1 << 4 | 1, "date-received": 1700000000},
                                fmt=plistlib.FMT_BINARY)
        for number, body in ((1, b"short\n"), (2, b"long line\n" * 1000)):  # whole, or its end
            message = b"From: Ann <ann@example.com>\nSubject: binary\n\n" + body
            write_file(self.path("src", f"{number}.emlx"),
                       b"%d\n" % len(message) + message + listed)
        result = self.run_tool("--flags", "-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertNotIn(b"warning:", result.stderr)
        for separator, got in read_mbox(self.path("out", os.path.relpath(self.path("src"), "/"),
                                                  "src.mbox")):
            self.assertEqual(separator, "ann@example.com Tue Nov 14 22:13:20 2023")
            self.assertEqual(got.items()[:3], expected_headers(1 << 4 | 1))


if __name__ == "__main__":
    unittest.main()
