"""--layout apple on a generated Apple Mail store: one mailbox file per .mbox folder, across
its shards, nested mailboxes as folders, messages in message-number order."""

import os
import random
import unittest

from cli_support import (CliTestCase, emlx_bytes, make_message, mbox_files, read_mbox,
                         write_file)


class AppleLayoutTest(CliTestCase):
    def make_store(self):
        """Returns {mailbox file relative to DEST: [message numbers in number order]} and the
        path of every message by number."""
        rng = random.Random(5)
        store = self.path("Library", "Mail", "V10")
        shards = {
            # account UUID folder -> mailbox folder chain -> shard folder -> numbers
            ("0A1B2C3D-ACCT", "INBOX.mbox"): {
                "9F3E-UUID/Data/Messages": [3, 12, 1],
                "9F3E-UUID/Data/1/Messages": [1005, 1001],
                "9F3E-UUID/Data/0/2/Messages": [20, 200],
            },
            ("IMAP-ann@mail.example", "[Gmail].mbox", "All Mail.mbox"): {
                "77AA-UUID/Data/Messages": [8, 9, 10],
                "77AA-UUID/Data/3/Messages": [300],
            },
            ("IMAP-ann@mail.example", "[Gmail].mbox"): {"Messages": [2, 1]},
            ("IMAP-ann@mail.example", "Sent Messages.mbox.noindex"): {"Messages": [5, 4]},
        }
        expected, paths = {}, {}
        for chain, folders in shards.items():
            names = [c[:-len(".noindex")] if c.endswith(".noindex") else c for c in chain]
            box = os.path.join(names[0], *[n[:-len(".mbox")] for n in names[1:-1]], names[-1])
            numbers = []
            for shard, shard_numbers in folders.items():
                for number in shard_numbers:
                    uid = len(paths) + 1  # Message-IDs unique across the store
                    name = f"{number}.partial.emlx" if number == 1001 else f"{number}.emlx"
                    path = write_file(os.path.join(store, *chain, shard, name),
                                      emlx_bytes(make_message(uid, rng)))
                    paths[(box, number)] = path
                    numbers.append(number)
            expected[box] = sorted(numbers)
        # Mail's own files beside the messages are no messages; loose ones keep default naming.
        write_file(os.path.join(store, "0A1B2C3D-ACCT", "INBOX.mbox", "Info.plist"), b"<plist/>")
        loose = write_file(self.path("Library", "Mail", "Exported", "1.emlx"),
                           emlx_bytes(make_message(999, rng)))
        return expected, paths, loose

    def test_one_mailbox_file_per_apple_mailbox_in_number_order(self):
        expected, paths, loose = self.make_store()
        # --layout auto, the default, sees the messages inside Apple Mail mailbox folders.
        for out, layout in (("out", ["--layout", "apple"]), ("auto", [])):
            result = self.run_tool(*layout, "-o", out, "Library")
            self.assertEqual(result.returncode, 0, result.stderr)
            loose_box = os.path.join(
                os.path.relpath(self.path("Library", "Mail", "Exported"), "/"), "Exported.mbox")
            self.assertEqual(mbox_files(self.path(out)), sorted([*expected, loose_box]))
            self.assertIn(os.path.join("IMAP-ann@mail.example", "[Gmail]", "All Mail.mbox"),
                          expected)
            self.assert_summary(result.stderr, converted=len(paths) + 1,
                                mailboxes=len(expected) + 1)
            for box, numbers in expected.items():
                written = read_mbox(self.path(out, box))
                self.assert_same_messages(written, [paths[(box, n)] for n in numbers])
            self.assert_same_messages(read_mbox(self.path(out, loose_box)), [loose])

    def test_the_folders_layout_keeps_one_mailbox_per_shard(self):
        expected, paths, _ = self.make_store()
        result = self.run_tool("--layout", "folders", "-o", "out", "Library")
        self.assertEqual(result.returncode, 0, result.stderr)
        shard_folders = {os.path.dirname(p) for p in paths.values()}
        self.assertEqual(len(mbox_files(self.path("out"))), len(shard_folders) + 1)


if __name__ == "__main__":
    unittest.main()
