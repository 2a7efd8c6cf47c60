"""--eol lf gives mailboxes that GNU mailutils and formail read whole; the default keeps CR LF
separator lines. Sources mix LF, CR LF and lone CR line ends."""

import os
import random
import subprocess
import unittest

from cli_support import (CliTestCase, emlx_bytes, header_items, make_message, mbox_files,
                         read_mbox, source_message, write_file)


class LineEndsTest(CliTestCase):
    def make_sources(self):
        rng = random.Random(9)
        sources = []
        for n in range(1, 13):
            message = make_message(n, rng, attachment=n % 4 == 0)
            if n % 3 == 1:
                message = message.replace(b"\n", b"\r\n")
            elif n % 3 == 2:
                # A lone CR inside the body as well as CR LF ends.
                message = message.replace(b"\n", b"\r\n").replace(b"Line 0", b"Line\r0", 1)
            sources.append(write_file(self.path("src", f"{n}.emlx"), emlx_bytes(message)))
        return sources

    def convert(self, *options):
        result = self.run_tool("-q", *options, "-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        boxes = mbox_files(self.path("out"))
        self.assertEqual(len(boxes), 1)
        return self.path("out", boxes[0])

    def test_lf_mailbox_opens_in_mailutils_and_formail(self):
        sources = self.make_sources()
        box = self.convert("--eol", "lf")
        with open(box, "rb") as f:
            self.assertNotIn(b"\r", f.read())
        self.assertEqual(len(read_mbox(box)), len(sources))

        # mailutils reads no user files here: HOME and MAIL point into the scratch folder.
        env = dict(os.environ, HOME=self.tmp, MAIL=self.path("no-mail"), MAILRC="/dev/null")
        listing = subprocess.run(["mail", "-f", box, "-H"], capture_output=True, env=env,
                                 stdin=subprocess.DEVNULL, timeout=60)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        headers = listing.stdout.decode(errors="replace").splitlines()
        self.assertEqual(len(headers), len(sources), listing.stdout)
        for n, line in enumerate(headers, 1):
            self.assertRegex(line, rf"^.N +{n} ")

        with open(box, "rb") as f:
            split = subprocess.run(["formail", "-s", "echo", "x"], stdin=f, capture_output=True,
                                   timeout=60)
        self.assertEqual(split.stdout.decode().splitlines(), ["x"] * len(sources))

    def test_default_keeps_crlf_separator_lines_and_the_same_messages(self):
        sources = self.make_sources()
        box = self.convert()
        with open(box, "rb") as f:
            raw = f.read()
        separators = [line for line in raw.split(b"\n") if line.startswith(b"From ")]
        self.assertEqual(len(separators), len(sources))
        self.assertTrue(all(line.endswith(b"\r") for line in separators))
        self.assertIn(b"Line\r\n0", raw)  # the lone CR became CR LF
        written = read_mbox(box)
        self.assertEqual([m["Message-ID"] for _, m in written],
                         [f"<m{n}@example.org>" for n in range(1, 13)])
        for (_, got), source in zip(written, sources):
            self.assertEqual(header_items(got), header_items(source_message(source)))


if __name__ == "__main__":
    unittest.main()
