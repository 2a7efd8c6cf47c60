"""--for thunderbird and --for apple-mail on a V10 library with an AccountsMap.plist: each
mailbox where that program looks for it, accounts by their address, the state headers, empty
files skipped, a bad map warned about, and a rerun into an existing Thunderbird tree."""

import os
import random
import shutil
import unittest

from cli_support import CliTestCase, emlx_bytes, make_message, read_mbox, write_file

READ, FLAGGED = 1 << 0, 1 << 4
ACCOUNTS_MAP = """<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
 <key>0A1B-ACCT</key><dict><key>AccountURL</key>
  <string>imap://jane.doe%40example.org@imap.example.org/</string></dict>
 <key>1C2D-ACCT</key><dict><key>AccountURL</key><string>pop://jane@pop.example.net/</string></dict>
 <key>2E3F-ACCT</key><dict><key>AccountURL</key>
  <string>imap://jane.doe%40example.org@imap2.example.org/</string></dict>
 <key>3A4B-ACCT</key><dict><key>AccountURL</key><string>ews:opaque</string></dict>
</dict></plist>
"""
# Message folder below Mail/V10 -> (numbers, Thunderbird folder, Apple Mail export folder).
LIBRARY = {
    "0A1B-ACCT/INBOX.mbox/9F3E/Data/Messages": ([3, 1], "jane.doe@example.org.sbd/INBOX",
                                                "jane.doe@example.org/INBOX.mbox"),
    "0A1B-ACCT/Archive.mbox/2024.mbox/55BB/Data/Messages": (
        [9], "jane.doe@example.org.sbd/Archive.sbd/2024",
        "jane.doe@example.org/Archive.mbox/2024.mbox"),
    "1C2D-ACCT/Sent Messages.mbox/77AA/Data/Messages": (
        [8], "pop.example.net.sbd/Sent Messages", "pop.example.net/Sent Messages.mbox"),
    "2E3F-ACCT/INBOX.mbox/88CC/Data/Messages": (
        [4], "jane.doe@example.org (2).sbd/INBOX", "jane.doe@example.org (2)/INBOX.mbox"),
    "3A4B-ACCT/a;b.mbox/99DD/Data/Messages": ([5], "3A4B-ACCT.sbd/ab3fb8245",
                                               "3A4B-ACCT/a;b.mbox"),
    "Mailboxes/Old.mbox/Messages": ([6], "On My Mac.sbd/Old", "On My Mac/Old.mbox"),
    # Copied into a profile, a folder "Inbox" would take the place of the user's own.
    "Loose/Inbox": ([7], "Inbox (converted)", "Inbox.mbox"),
}


class MailProgramsTest(CliTestCase):
    def make_library(self, accounts_map=ACCOUNTS_MAP):
        rng = random.Random(25)
        v10 = self.path("Library", "Mail", "V10")
        write_file(os.path.join(v10, "MailData", "Signatures", "AccountsMap.plist"),
                   accounts_map.encode())
        for uid, (folder, (numbers, _, _)) in enumerate(LIBRARY.items()):
            for number in numbers:
                flags = READ | FLAGGED if number == 3 else (READ if number % 2 else 0)
                write_file(os.path.join(v10, folder, f"{number}.emlx"),
                           emlx_bytes(make_message(uid * 10 + number, rng), flags))
        # What Apple Mail leaves after a failed download.
        return write_file(os.path.join(v10, LIBRARY_FIRST, "2.emlx"), b"")

    def counts(self, path):
        """(messages, read, flagged) of a mailbox as its X-Mozilla-Status headers say."""
        status = [int(m["X-Mozilla-Status"], 16) for _, m in read_mbox(path)]
        return len(status), sum(1 for s in status if s & 1), sum(1 for s in status if s & 4)

    def test_thunderbird_layout_with_accounts_by_name(self):
        empty = self.make_library()
        result = self.run_tool("--for", "thunderbird", "-o", "out", "Library")
        self.assertEqual(result.returncode, 0, result.stderr)
        report = result.stderr.decode()
        self.assertIn(f"skipped: {empty}: the file is empty\n", report)
        self.assertIn("two accounts are named 'jane.doe@example.org'", report)
        self.assert_summary(result.stderr, converted=8, skipped=1, warnings=0, mailboxes=7)
        local = self.path("out", "Mail", "Local Folders")
        for numbers, folder, _ in LIBRARY.values():
            self.assertEqual(len(read_mbox(os.path.join(local, folder))), len(numbers), folder)
        self.assertEqual(self.counts(os.path.join(local, LIBRARY[LIBRARY_FIRST][1])), (2, 2, 1))
        # The file beside each .sbd folder, empty, that Thunderbird needs to show the folder.
        for parent in ["jane.doe@example.org", "jane.doe@example.org.sbd/Archive", "On My Mac"]:
            self.assertEqual(os.path.getsize(os.path.join(local, parent)), 0, parent)

        # Into an existing profile tree: nothing there is removed or renamed, nothing doubled.
        summary_file = os.path.join(local, "jane.doe@example.org.sbd", "INBOX.msf")
        write_file(summary_file, b"// Thunderbird's summary")
        again = self.run_tool("--for", "thunderbird", "--new-only", "-o", "out", "Library")
        self.assertEqual(again.returncode, 0, again.stderr)
        self.assertIn("8 already in the mailbox", again.stderr.decode())
        with open(summary_file, "rb") as f:
            self.assertEqual(f.read(), b"// Thunderbird's summary")
        self.assertEqual(self.counts(os.path.join(local, LIBRARY[LIBRARY_FIRST][1])), (2, 2, 1))

    def test_apple_mail_export_layout(self):
        self.make_library()
        result = self.run_tool("--for", "apple-mail", "-o", "out", "Library")
        self.assertEqual(result.returncode, 0, result.stderr)
        for numbers, _, folder in LIBRARY.values():
            box = self.path("out", folder, "mbox")
            self.assertEqual(len(read_mbox(box)), len(numbers), folder)

    def test_a_bad_accounts_map_keeps_the_uuids(self):
        cases = [
            ("not a property list", "this is no list", "0A1B-ACCT"),
            ("a name with / and a control character",
             ACCOUNTS_MAP.replace("jane.doe%40example.org@imap.example.org",
                                  "a%2Fb%01c%40x@imap.example.org"), "a_b_c@x"),
        ]
        for what, text, account in cases:
            with self.subTest(what):
                self.tmp_reset()
                self.make_library(text)
                result = self.run_tool("--layout", "apple", "-o", "out", "Library")
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn("warning: " + self.path("Library", "Mail", "V10", "MailData",
                                                      "Signatures", "AccountsMap.plist"),
                              result.stderr.decode())
                self.assertEqual(len(read_mbox(self.path("out", account, "INBOX.mbox"))), 2)

    def tmp_reset(self):
        shutil.rmtree(self.path("Library"), True)
        shutil.rmtree(self.path("out"), True)


LIBRARY_FIRST = next(iter(LIBRARY))

if __name__ == "__main__":
    unittest.main()
