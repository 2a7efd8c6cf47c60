"""Other writers of the same mailbox: each record is appended under fcntl and flock write locks,
once no other program's dot-lock is there, as mail readers and delivery agents lock mailboxes; a
run waits for them and says so, and a record that does not fit is cut back without touching what
another writer added."""

import collections
import fcntl
import os
import random
import subprocess
import tempfile
import threading
import time
import unittest

from cli_support import (EMLX2MBOX, CliTestCase, emlx_bytes, make_message, read_mbox,
                         source_message, write_file, header_items, decoded_parts)


class OtherWritersTest(CliTestCase):
    def test_a_run_waits_for_the_lock_another_program_holds_and_says_so(self):
        rng = random.Random(3)
        sources = [write_file(self.path("src", f"{n}.emlx"), emlx_bytes(make_message(n, rng)))
                   for n in (1, 2)]
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        theirs = b"From other@example.org Mon Jan 05 09:07:03 2026\nSubject: theirs\n\nbody\n\n"
        write_file(box, b"")
        with open(box, "ab") as held:
            fcntl.lockf(held, fcntl.LOCK_EX)
            process = subprocess.Popen([EMLX2MBOX, "-o", "out", "src"], cwd=self.tmp,
                                       stderr=subprocess.PIPE)
            first_line = process.stderr.readline().decode()  # blocks until the note comes
            held.write(theirs)
            held.flush()
            fcntl.lockf(held, fcntl.LOCK_UN)
        _, rest = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 0, rest)
        self.assertEqual(first_line, f"waiting: {box}: another program is writing to it\n")
        self.assert_summary(rest, converted=2, mailboxes=1)
        written = read_mbox(box)
        self.assertEqual(written[0][1]["Subject"], "theirs")
        self.assert_same_messages(written[1:], sources)

    def test_a_run_waits_for_a_dot_lock_and_flock_and_passes_a_stale_dot_lock_by(self):
        rng = random.Random(5)
        source = write_file(self.path("src", "1.emlx"), emlx_bytes(make_message(1, rng)))
        box = os.path.join(self.path("out"), os.path.relpath(self.path("src"), "/"), "src.mbox")
        theirs = b"From other@example.org Mon Jan 05 09:07:03 2026\nSubject: theirs\n\nbody\n\n"
        # A dot-lock dated more than five minutes away, back or ahead, is stale. --new-only
        # waits as a plain run does, then finds that the mailbox does not hold the message.
        for dot_lock, flock, stale, args in [
                (True, False, None, []), (False, True, None, ["--new-only"]),
                (True, True, None, []), (True, False, -600, []),
                (True, False, 3600, ["--new-only"])]:
            with self.subTest(dot_lock=dot_lock, flock=flock, stale=stale):
                write_file(box, b"")
                if dot_lock:
                    write_file(box + ".lock", b"")
                    if stale:
                        os.utime(box + ".lock", (time.time() + stale,) * 2)
                with open(box, "ab") as held:
                    if flock:
                        fcntl.flock(held, fcntl.LOCK_EX)
                    process = subprocess.Popen([EMLX2MBOX, *args, "-o", "out", "src"],
                                               cwd=self.tmp, stderr=subprocess.PIPE)
                    if stale:  # not waited for
                        process.wait(timeout=60)
                    else:  # blocks until the note comes
                        self.assertEqual(process.stderr.readline().decode(),
                                         f"waiting: {box}: another program is writing to it\n")
                    held.write(theirs)
                    held.flush()
                    if flock:
                        fcntl.flock(held, fcntl.LOCK_UN)
                    if dot_lock and not stale:
                        os.unlink(box + ".lock")
                _, rest = process.communicate(timeout=60)
                self.assertEqual(process.returncode, 0, rest)
                self.assertEqual(os.path.exists(box + ".lock"), bool(stale))  # never removed
                ours = source_message(source)["Subject"]
                self.assertEqual([m["Subject"] for _, m in read_mbox(box)],
                                 [ours, "theirs"] if stale else ["theirs", ours])
                os.unlink(box)
                if stale:
                    os.unlink(box + ".lock")

    def test_two_new_only_runs_at_once_write_every_message_once(self):
        for folder in range(300):
            for n in (1, 2):
                write_file(self.path("src", f"F{folder}", f"{n}.emlx"),
                           emlx_bytes(b"Subject: s\nDate: Mon, 14 Sep 2020 12:00:00 +0000\n"
                                      b"Message-ID: <f%dm%d@x>\n\nbody\n" % (folder, n)))
        runs = [subprocess.Popen([EMLX2MBOX, "-j1", "--new-only", "-o", "out", "src"],
                                 cwd=self.tmp, stderr=subprocess.DEVNULL) for _ in range(2)]
        # Each waits for the other's lock, then judges: no message fails.
        self.assertEqual([run.wait(timeout=120) for run in runs], [0, 0])
        ids = collections.Counter(m["Message-ID"] for root, _, names in os.walk(self.path("out"))
                                  for name in names for _, m in read_mbox(os.path.join(root, name)))
        self.assertEqual((len(ids), set(ids.values())), (600, {1}))

    @unittest.skipUnless(os.geteuid() == 0, "mounting a small file system needs root; "
                         "run the tests as root to check two writers on a full disk")
    def test_two_runs_filling_one_small_disk_keep_every_reported_record_whole(self):
        mount = tempfile.mkdtemp(prefix="emlx2mbox-small-")
        self.addCleanup(os.rmdir, mount)
        result = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=300k", "tmpfs", mount],
                                capture_output=True)
        if result.returncode != 0:
            self.skipTest(f"cannot mount a tmpfs: {result.stderr.decode().strip()}")
        self.addCleanup(subprocess.run, ["umount", mount])
        rng = random.Random(17)
        sources = [write_file(self.path("src", f"{n}.emlx"),
                              emlx_bytes(make_message(n, rng, attachment=True)))
                   for n in range(1, 61)]
        by_id = {source_message(p)["Message-ID"]: p for p in sources}
        # Both runs start together and write the same messages into one mailbox until the
        # disk is full.
        runs = [subprocess.Popen([EMLX2MBOX, "-o", mount, "src"], cwd=self.tmp,
                                 stderr=subprocess.PIPE) for _ in range(2)]
        reports = [run.communicate(timeout=120)[1].decode() for run in runs]
        box = os.path.join(mount, os.path.relpath(self.path("src"), "/"), "src.mbox")
        reported = collections.Counter()
        for run, report in zip(runs, reports):
            self.assertEqual(run.returncode, 1, report)
            failed = {line.split(": cannot write mailbox", 1)[0]
                      for line in report.splitlines() if ": cannot write mailbox" in line}
            self.assertTrue(failed, report)
            self.assertTrue(all(line.endswith("No space left on device")
                                for line in report.splitlines() if "cannot write" in line))
            reported.update(p for p in sources if p not in failed)
        written = read_mbox(box)
        found = collections.Counter()
        for _, got in written:
            source = by_id[got["Message-ID"]]
            want = source_message(source)
            self.assertEqual(header_items(got), header_items(want), source)
            self.assertEqual(decoded_parts(got), decoded_parts(want), source)
            found[source] += 1
        self.assertEqual(found, reported)


if __name__ == "__main__":
    unittest.main()
