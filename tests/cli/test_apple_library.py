"""Reruns of an Apple Mail library that add only what is new, mailboxes read back, and mailboxes
that are no mbox left as they were."""

import fcntl
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import unittest

from mbox_readers import READERS
from cli_support import (EMLX2MBOX, SUMMARY, CliTestCase, decoded_parts, emlx_bytes,
                         header_items, make_message, read_mbox, source_message, write_file)

READ = 1 << 0

# Libraries: message folder below Library/ -> (mailbox file below DEST, message numbers). Every
# era with each check box state is converted through the window (tests/window); here the reruns.
V2 = {
    "Mail/V2/IMAP-ann@imap.example/INBOX.mbox/Messages":
        ("IMAP-ann@imap.example/INBOX.mbox", [11, 10]),
    "Mail/V2/IMAP-ann@imap.example/Sent Messages.mbox/Messages":
        ("IMAP-ann@imap.example/Sent Messages.mbox", [12]),
    "Mail/V2/Mailboxes/Old.mbox/Messages": ("On My Mac/Old.mbox", [13]),
}
V10 = {
    "Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E-UUID/Data/Messages": ("0A1B-ACCT/INBOX.mbox", [30, 4]),
    "Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E-UUID/Data/1/Messages": ("0A1B-ACCT/INBOX.mbox", [1200]),
    "Mail/V10/0A1B-ACCT/INBOX.mbox/9F3E-UUID/Data/0/2/3/Messages": ("0A1B-ACCT/INBOX.mbox", [23000]),
    "Mail/V10/0A1B-ACCT/Sent Messages.mbox/77AA-UUID/Data/Messages":
        ("0A1B-ACCT/Sent Messages.mbox", [8]),
    "Mail/V10/0A1B-ACCT/Archive.mbox/2024.mbox/55BB-UUID/Data/Messages":
        ("0A1B-ACCT/Archive/2024.mbox", [9, 2]),
}


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def message_ids(box_path):
    return [m["Message-ID"] for _, m in read_mbox(box_path)]


class AppleLibraryTest(CliTestCase):
    def make_library(self, folders, root="Library", first_uid=0, flags_of=None):
        """Writes the messages; returns {mailbox: [Message-ID in number order]}."""
        rng = random.Random(len(folders))
        expected = {}
        for uid, (folder, (box, numbers)) in enumerate(
                (f, (b, [n])) for f, (b, ns) in folders.items() for n in ns):
            number = numbers[0]
            uid += first_uid
            flags = flags_of(uid) if flags_of else READ
            write_file(self.path(root, folder, f"{number}.emlx"),
                       emlx_bytes(make_message(uid, rng), flags))
            expected.setdefault(box, []).append((number, f"<m{uid}@example.org>"))
        return {box: [mid for _, mid in sorted(pairs)] for box, pairs in expected.items()}

    def test_a_rerun_after_a_stop_adds_every_message_exactly_once(self):
        expected = self.make_library(V10)
        sizes = [0, 1500, 4000, 9000, 20000]  # the most each mailbox file may grow to

        def limited(size):
            def preexec():
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
            return preexec

        stops = [("file size limit", size) for size in sizes] + [("SIGTERM", None)]
        for how, size in stops:
            with self.subTest(how=how, size=size):
                shutil.rmtree(self.path("out"), True)
                if size is not None:
                    first = self.run_tool("--layout", "apple", "-j", "1", "-o", "out", "Library",
                                          preexec_fn=limited(size))
                    self.assertIn(first.returncode, (0, 1), first.stderr)
                else:
                    self.stop_with_sigterm()
                rerun = self.run_tool("--layout", "apple", "--new-only", "-o", "out", "Library")
                self.assertEqual(rerun.returncode, 0, rerun.stderr)
                for box, ids in expected.items():
                    self.assertEqual(message_ids(self.path("out", box)), ids, box)

    def stop_with_sigterm(self):
        """A run ended by SIGTERM between two mailboxes: while it waits for the lock another
        program holds on its last one (the others then written)."""
        sent = self.path("out", "0A1B-ACCT", "Sent Messages.mbox")
        write_file(sent, b"")
        with open(sent, "r+b") as held:
            fcntl.lockf(held, fcntl.LOCK_EX)
            process = subprocess.Popen([EMLX2MBOX, "--layout", "apple", "-j", "1", "-o", "out",
                                        "Library"], cwd=self.tmp, stderr=subprocess.PIPE)
            line = b""
            while not line.startswith(b"waiting: "):
                line = process.stderr.readline()
                self.assertNotEqual(line, b"", "the run ended without waiting for the lock")
            process.send_signal(signal.SIGTERM)
            process.communicate(timeout=60)
        self.assertEqual(process.returncode, 143)
        self.assertTrue(os.path.getsize(self.path("out", "0A1B-ACCT", "INBOX.mbox")) > 0)

    def test_a_newer_copy_of_the_library_adds_only_the_new_messages(self):
        old = {"Mail/V10/A/INBOX.mbox/U/Data/Messages": ("A/INBOX.mbox", [1, 2, 3]),
               "Mail/V10/A/Sent Messages.mbox/U/Data/Messages": ("A/Sent Messages.mbox", [1])}
        new = {"Mail/V10/A/INBOX.mbox/U/Data/1/Messages": ("A/INBOX.mbox", [1001, 1002]),
               "Mail/V10/A/Drafts.mbox/U/Data/Messages": ("A/Drafts.mbox", [1])}
        no_id = (b"From: Cy <cy@example.org>\nSubject: no id\nDate: Mon, 05 Jan 2026 09:07:03 "
                 b"+0000\n\nbody\n")
        # Reruns may write other line ends or add the state: the messages are still known.
        # Eight jobs on three mailboxes: messages prepared ahead are looked up as well.
        for second in (["--flags"], ["--eol", "crlf"], ["--eol", "lf", "-j", "1"], ["-j", "8"]):
            with self.subTest(second=second):
                for folder in ("Library", "out"):
                    shutil.rmtree(self.path(folder), True)
                first_ids = self.make_library(old)
                write_file(self.path("Library", "Mail/V10/A/INBOX.mbox/U/Data/Messages/9.emlx"),
                           emlx_bytes(no_id, 0))
                result = self.run_tool("--layout", "apple", "-o", "out", "Library")
                self.assertEqual(result.returncode, 0, result.stderr)
                # The newer copy: new messages, changed state, a copy of a message twice.
                new_ids = self.make_library(new, first_uid=100, flags_of=lambda uid: READ)
                other = no_id.replace(b"no id", b"no id either")
                write_file(self.path("Library", "Mail/V10/A/INBOX.mbox/U/Data/1/Messages/"
                                     "1003.emlx"), emlx_bytes(other, 0))
                known = self.path("Library", "Mail/V10/A/INBOX.mbox/U/Data/Messages/1.emlx")
                state = b"<key>flags</key>\n\t<integer>%d</integer>"
                write_file(known, file_bytes(known).replace(state % 0, state % 17))
                twin = self.path("Library", "Mail/V10/A/INBOX.mbox/U/Data/1/Messages/1001.emlx")
                shutil.copy(twin, twin.replace("1001", "1004"))
                result = self.run_tool("--layout", "apple", "--new-only", *second, "-o", "out",
                                       "Library")
                report = result.stderr.decode()
                self.assertEqual(result.returncode, 0, report)
                summary = report.splitlines()[-2]
                self.assertRegex(summary, r"^5 converted, 0 failed, 0 skipped, 0 warnings, "
                                          r"5 already in the mailbox; 2 mailboxes, ")
                self.assertEqual(report.splitlines()[-1],
                                 "Checked: 5 records in 2 mailboxes, in place and on disk")
                inbox = [m for _, m in read_mbox(self.path("out", "A/INBOX.mbox"))]
                self.assertEqual([m["Message-ID"] for m in inbox],
                                 first_ids["A/INBOX.mbox"] + [None] +
                                 new_ids["A/INBOX.mbox"] + [None, new_ids["A/INBOX.mbox"][0]])
                self.assertEqual(message_ids(self.path("out", "A/Drafts.mbox")),
                                 new_ids["A/Drafts.mbox"])
                self.assertEqual(message_ids(self.path("out", "A/Sent Messages.mbox")),
                                 first_ids["A/Sent Messages.mbox"])

    def test_a_mailbox_that_is_no_mbox_is_left_as_it_was(self):
        self.make_library(V2)
        account = self.path("out", "IMAP-ann@imap.example")
        inbox = write_file(os.path.join(account, "INBOX.mbox"), b"Subject: notes\n\nmine\n")
        cases = [(inbox, [], 'not an mbox file (it does not start with "From "); left as it '
                             "was", 2),
                 (inbox, ["--new-only"], "not an mbox file", 2)]
        for box, args, reason, failed in cases:
            with self.subTest(box=box, args=args):
                before = file_bytes(box)
                shutil.rmtree(self.path("out", "On My Mac"), True)
                result = self.run_tool("--layout", "apple", *args, "-o", "out", "Library")
                report = result.stderr.decode()
                self.assertEqual(result.returncode, 1, report)
                self.assertEqual(len(re.findall(f"cannot add to mailbox {re.escape(box)}: "
                                                f"{re.escape(reason)}|{re.escape(box)}: "
                                                f"{re.escape(reason)}", report)), failed, report)
                self.assertEqual(file_bytes(box), before)
                self.assertEqual(len(read_mbox(self.path("out", "On My Mac", "Old.mbox"))), 1)

    def test_a_rerun_writes_again_a_last_record_cut_short(self):
        rng = random.Random(3)
        sources = [write_file(self.path("src", f"{n}.emlx"),
                              emlx_bytes(make_message(n, rng, n == 2))) for n in (1, 2)]
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        for eol, nl in (("lf", b"\n"), ("crlf", b"\r\n")):
            shutil.rmtree(self.path("out"), True)
            self.assertEqual(self.run_tool("--eol", eol, "-o", "out", "src").returncode, 0)
            whole = file_bytes(box)
            last = whole.rindex(nl * 2 + b"From ") + 2 * len(nl)
            body = whole.index(nl * 2, last) + 2 * len(nl)
            inner = whole.index(nl * 2, body) + 2 * len(nl)  # after an empty line of the body
            # Where a killed run or a power cut may leave the last record: (cut, messages written
            # again). A cut in the closing empty line leaves every message byte there; one in a
            # separator line (the first at 5) leaves a line that is cut back.
            cuts = [(5, 2), (last - 1, 1), (last + 5, 1), (last + 30, 1), (body, 1),
                    (body + 200, 1), (inner, 1), (len(whole) - len(nl), 0), (len(whole) - 1, 0)]
            for cut, again in sorted(set(cuts)):
                with self.subTest(eol=eol, cut=cut - last):
                    with open(box, "wb") as f:
                        f.write(whole[:cut])
                    rerun = self.run_tool("--eol", eol, "--new-only", "-o", "out", "src")
                    self.assertEqual(rerun.returncode, 0, rerun.stderr)
                    self.assertIn(f"{again} converted", rerun.stderr.decode())
                    written = [(header_items(m), decoded_parts(m)) for _, m in read_mbox(box)]
                    for source in sources:
                        want = source_message(source)
                        self.assertIn((header_items(want), decoded_parts(want)), written)
                    # A separator line cut back leaves a mailbox strict readers read too
                    # (formail merges an empty one into the one before it; mailutils reads no
                    # CR LF records).
                    strict = ("mutt", "dovecot", "mailutils")[:3 if eol == "lf" else 2]
                    for reader in strict if cut in (5, last + 5, last + 30) else ():
                        found = READERS[reader](box, self.path("readers"))
                        self.assertIn(found, (None, len(written)), reader)

    def test_each_record_there_covers_one_copy_of_its_message(self):
        # Copies of a message (same Message-ID and Date) in two mailboxes; a first run stopped
        # after `stop` messages of each: every copy ends up once, serially and on eight threads.
        rng = random.Random(5)
        a, b, c = (make_message(n, rng) for n in (1, 2, 3))
        folders = {"M": [a, b, a, a, c], "N": [b, b]}
        files = {f: [write_file(self.path("src", f, f"{n}.emlx"), emlx_bytes(m))
                     for n, m in enumerate(ms, 1)] for f, ms in folders.items()}
        for jobs, stop in [(j, s) for j in ("1", "8") for s in range(len(folders["M"]) + 1)]:
            with self.subTest(jobs=jobs, stop=stop):
                shutil.rmtree(self.path("out"), True)
                first = files["M"][:stop] + files["N"][:stop]
                if first:
                    self.assertEqual(self.run_tool("-o", "out", *first).returncode, 0)
                rerun = self.run_tool("--new-only", "-j", jobs, "-o", "out", "src")
                self.assertRegex(rerun.stderr.decode(),
                                 f"{7 - len(first)} converted, .*, {len(first)} already in")
                for folder in folders:
                    box = self.path("out") + self.path("src", folder, folder + ".mbox")
                    self.assertEqual(message_ids(box), [source_message(f)["Message-ID"]
                                                        for f in files[folder]])

    def test_a_whole_last_record_is_known_whatever_the_options_of_either_run(self):
        # A lone CR before "From " is a line end in some modes only, which then quote the line.
        modes = [[*eol, *flags] for eol in ([], ["--eol", "crlf"], ["--eol", "lf"])
                 for flags in ([], ["--flags"])]
        rng = random.Random(6)
        box = self.path("out") + self.path("src", "src.mbox")
        for nl in (b"\n", b"\r\n"):
            last = make_message(2, rng).replace(b"\n", nl) + b"a\rFrom x" + nl + b"b\r>From y" + nl
            write_file(self.path("src", "1.emlx"), emlx_bytes(make_message(1, rng)))
            write_file(self.path("src", "2.emlx"), emlx_bytes(last))
            for number, (first, second) in enumerate((f, s) for f in modes for s in modes):
                with self.subTest(nl=nl, first=first, second=second):
                    shutil.rmtree(self.path("out"), True)
                    self.assertEqual(self.run_tool(*first, "-o", "out", "src").returncode, 0)
                    written = file_bytes(box)
                    rerun = self.run_tool(*second, "--new-only", "-j", str(1 + number % 2),
                                          "-o", "out", "src")
                    self.assertRegex(rerun.stderr.decode(), "0 converted, .*, 2 already in")
                    self.assertEqual(file_bytes(box), written)

    def test_no_sync_leaves_the_flush_and_the_check_out(self):
        self.make_library(V2)
        result = self.run_tool("--layout", "apple", "--no-sync", "-o", "out", "Library")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr.decode().splitlines()[-2], SUMMARY)
        self.assertRegex(result.stderr.decode().splitlines()[-1],
                         r"^Not flushed: \d+ records in \d+ mailboxes, not checked$")


if __name__ == "__main__":
    unittest.main()
