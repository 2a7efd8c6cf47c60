"""End to end: emlx2mbox converts generated trees, and Python's mbox reader finds every source
message again, with the same headers and decoded parts."""

import os
import random
import unittest

from cli_support import (CliTestCase, emlx_bytes, make_message, mbox_files, read_mbox,
                         write_file)
from cli_support import report_lines

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")


class ConversionTest(CliTestCase):
    def make_tree(self):
        """Two folders, one nested, with names that natural order sorts (9 before 10), an
        upper-case .EMLX name, a body line starting "From " and files that are no messages."""
        rng = random.Random(7)
        inbox = [write_file(self.path("src", "Acct", "Inbox", f"{n}.emlx"),
                            emlx_bytes(make_message(n, rng, attachment=n % 3 == 0)))
                 for n in (1, 2, 9, 10, 11)]
        quoted = make_message(40, rng).replace(b"\n\nLine 0", b"\n\nFrom here on\n>From there\nLine 0", 1)
        work = [write_file(self.path("src", "Acct", "Work", "Sub", "40.EMLX"), emlx_bytes(quoted)),
                write_file(self.path("src", "Acct", "Work", "Sub", "41.emlx"),
                           emlx_bytes(make_message(41, rng, attachment=True)))]
        write_file(self.path("src", "Acct", "Inbox", "notes.txt"), b"not a message\n")
        write_file(self.path("src", "Acct", "Inbox", "3.emlxpart"), b"not a message either\n")
        return inbox, work

    def mirror(self, *folders):
        """The mailbox of a source folder under out/: the folder's path below the root."""
        relative = os.path.relpath(self.path(*folders), "/")
        return os.path.join(relative, folders[-1] + ".mbox")

    def test_every_message_arrives_whole_in_its_folders_mailbox(self):
        inbox, work = self.make_tree()
        # Relative paths, as a user types them, are taken from the working folder.
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(len(report_lines(result.stderr.decode())), 1, result.stderr)
        self.assert_summary(result.stderr, converted=7, mailboxes=2)

        inbox_box = self.mirror("src", "Acct", "Inbox")
        work_box = self.mirror("src", "Acct", "Work", "Sub")
        self.assertEqual(mbox_files(self.path("out")), sorted([inbox_box, work_box]))
        self.assert_same_messages(read_mbox(self.path("out", inbox_box)), inbox)
        self.assert_same_messages(read_mbox(self.path("out", work_box)), work)

        # The body's "From " lines are quoted in the file, so no reader splits the message.
        with open(self.path("out", work_box), "rb") as f:
            raw = f.read()
        self.assertIn(b"\n>From here on\n>>From there\n", raw)

        # SOURCEs that overlap (a folder, a folder inside it, a file inside that) convert each
        # message file once.
        result = self.run_tool("-o", "again", "src/", "src/Acct/Work", "./src/Acct/Inbox/9.emlx")
        self.assert_summary(result.stderr, converted=7, mailboxes=2)
        self.assert_same_messages(read_mbox(self.path("again", inbox_box)), inbox)

    def test_a_second_run_appends_and_a_file_source_is_taken_whatever_its_name(self):
        rng = random.Random(3)
        first = write_file(self.path("src", "a", "1.emlx"), emlx_bytes(make_message(1, rng)))
        plain = write_file(self.path("src", "b", "message.eml"), make_message(2, rng))
        for _ in range(2):
            result = self.run_tool("--output", self.path("out"), first, plain)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assert_summary(result.stderr, converted=2, mailboxes=2)
        self.assert_same_messages(read_mbox(self.path("out", self.mirror("src", "a"))),
                                  [first, first])
        # A plain .eml has no count line: it is taken whole.
        written = read_mbox(self.path("out", self.mirror("src", "b")))
        self.assertEqual(len(written), 2)
        self.assertEqual(written[0][1]["Message-ID"], "<m2@example.org>")

    def test_names_ending_in_spaces_are_converted_as_found(self):
        """A walk finds "6.emlx" and "6.emlx  " as two files: each is converted once, and a name
        found only with trailing spaces is converted, not reported missing."""
        rng = random.Random(5)
        names = ["6.emlx", "6.emlx  ", "10323.emlx  "]
        sources = [write_file(self.path("src", "Box", name), emlx_bytes(make_message(n, rng)))
                   for n, name in enumerate(names, 1)]
        result = self.run_tool("-o", "out", "src")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_summary(result.stderr, converted=3, mailboxes=1)
        self.assert_same_messages(read_mbox(self.path("out", self.mirror("src", "Box"))), sources)

    def test_the_examples_convert_into_one_mailbox_per_apple_mailbox(self):
        account = os.path.join(os.path.abspath(EXAMPLES), "Mail", "V10",
                               "3F2A9C1E-0B7D-4E55-9A61-2C8D4B7E1F03")
        shard = os.path.join("6B1D0E4A-93C2-4F7E-8D15-A0B9C3E2D471", "Data", "Messages")
        inbox = [os.path.join(account, "INBOX.mbox", shard, f"{n}.emlx") for n in (1, 2)]
        sent = [os.path.join(account, "Sent Messages.mbox", shard, "3.emlx")]
        result = self.run_tool("--output=" + self.path("out"), "--layout", "apple", EXAMPLES)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assert_summary(result.stderr, converted=3, mailboxes=2)
        acct = os.path.basename(account)
        self.assertEqual(mbox_files(self.path("out")), [os.path.join(acct, "INBOX.mbox"),
                                                        os.path.join(acct, "Sent Messages.mbox")])
        self.assert_same_messages(read_mbox(self.path("out", acct, "INBOX.mbox")), inbox)
        written = read_mbox(self.path("out", acct, "Sent Messages.mbox"))
        self.assert_same_messages(written, sent)
        attachment = [p for p in written[0][1].walk() if p.get_filename() == "agenda.txt"]
        self.assertTrue(attachment[0].get_payload(decode=True).startswith(b"Agenda for"))

    def test_the_last_line_says_what_was_made_sure_of_on_the_disk(self):
        self.make_tree()
        checked = "Checked: 7 records in 2 mailboxes, in place and on disk"
        for options, last in (([], checked),
                              (["--verify"], "Checked: 7 records in 2 mailboxes, on disk and "
                                             "read back whole"),
                              (["--verify", "--no-verify"], checked),
                              (["--no-sync"], "Not flushed: 7 records in 2 mailboxes, not checked")):
            with self.subTest(options=options):
                out = self.path("out-" + "".join(options))
                result = self.run_tool(*options, "-o", out, self.path("src"))
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr.decode().splitlines()[-1], last)
                self.assertEqual(len(read_mbox(os.path.join(out, self.mirror("src", "Acct", "Inbox")))), 5)


if __name__ == "__main__":
    unittest.main()
