"""Usage errors, --help, --version and the dry run: exact texts and exit statuses, and nothing
written where nothing should be."""

import os
import random
import re
import shutil
import subprocess
import unittest

from cli_support import (EMLX2MBOX, CliTestCase, emlx_bytes, make_message, unprivileged,
                         write_file)

TRY = "Try 'emlx2mbox --help' for more information.\n"


class UsageTest(CliTestCase):
    def setUp(self):
        super().setUp()
        self.message = write_file(self.path("src", "1.emlx"),
                                  emlx_bytes(make_message(1, random.Random(1))))

    def assert_usage_error(self, args, text):
        result = self.run_tool(*args)
        self.assertEqual((result.returncode, result.stdout, result.stderr.decode()),
                         (2, b"", f"emlx2mbox: {text}\n{TRY}"), args)

    def test_bad_command_lines_exit_2_with_the_reason(self):
        cases = [
            ([], "no destination folder given (-o DEST)"),
            (["src"], "no destination folder given (-o DEST)"),
            (["-o", "out"], "no SOURCE given"),
            (["src", "-o"], "option '-o' needs a value"),
            (["src", "--output"], "option '--output' needs a value"),
            (["-o", "out", "src", "--eol"], "option '--eol' needs a value"),
            (["-o", "out", "-o", "other", "src"], "the destination is given more than once"),
            (["--output=", "src"], "the destination is empty"),
            (["-o", "out", "--frobnicate", "src"], "unknown option '--frobnicate'"),
            (["-o", "out", "-x", "src"], "unknown option '-x'"),
            (["-o", "out", "--eol", "cr", "src"], "--eol must be auto, crlf or lf, not 'cr'"),
            (["-o", "out", "--eol=CRLF", "src"], "--eol must be auto, crlf or lf, not 'CRLF'"),
            (["-o", "out", "--layout", "maildir", "src"],
             "--layout must be auto, apple or folders, not 'maildir'"),
            (["-o", "out", "--flags=yes", "src"], "option '--flags' takes no value"),
            (["-o", "out", ""], "SOURCE 1 is empty"),
            (["-o", "out", "src", ""], "SOURCE 2 is empty"),
        ]
        for args, text in cases:
            self.assert_usage_error(args, text)
        self.assertFalse(os.path.exists(self.path("out")))

    def test_missing_source_and_uncreatable_destination_exit_2_before_writing(self):
        result = self.run_tool("-o", "out", "src", "no-such-folder")
        self.assertEqual((result.returncode, result.stderr.decode()),
                         (2, "emlx2mbox: no-such-folder: no such file or folder\n"))
        self.assertFalse(os.path.exists(self.path("out")))

        write_file(self.path("file"), b"a regular file\n")
        os.makedirs(self.path("locked"), 0o555)
        os.chmod(self.tmp, 0o777)  # the unprivileged run reaches src/ and its copy of the tool
        tool = shutil.copy(EMLX2MBOX, self.path("emlx2mbox"))
        create = "cannot create the destination folder"
        # A folder that exists but cannot be written is refused before the run, not by each
        # message.
        for destination, reason in (("file", f"{create}: Not a directory"),
                                    ("file/out", f"{create}: Not a directory"),
                                    ("locked/out", f"{create}: Permission denied"),
                                    ("locked", "cannot write into the destination folder: "
                                               "Permission denied")):
            result = subprocess.run([tool, "-o", destination, "src"], capture_output=True,
                                    cwd=self.tmp, preexec_fn=unprivileged, timeout=120)
            self.assertEqual((result.returncode, result.stderr.decode()),
                             (2, f"emlx2mbox: {self.path(destination)}: {reason}\n"))
        self.assertEqual(os.listdir(self.path("locked")), [])

    def test_relative_paths_when_the_working_folder_is_gone_exit_2_with_the_reason(self):
        src = self.path("src")
        gone = self.path("gone")

        def leave_a_removed_folder():
            os.mkdir(gone)
            os.chdir(gone)
            os.rmdir(gone)

        reason = "cannot be found from the current folder: No such file or directory"
        for args, named in ((["-o", self.path("out"), "../src"], "../src"),
                            (["-o", "../out", src], "../out"),
                            (["-o", "out", src, "x/../1.emlx"], "x/../1.emlx")):
            result = subprocess.run([EMLX2MBOX, *args], capture_output=True, cwd=self.tmp,
                                    preexec_fn=leave_a_removed_folder, timeout=120)
            self.assertEqual((result.returncode, result.stderr.decode()),
                             (2, f"emlx2mbox: {named}: {reason}\n"), args)
        self.assertFalse(os.path.exists(self.path("out")))

    def test_a_destination_that_would_write_into_a_source_exits_2_before_writing(self):
        src = self.path("src")
        result = self.run_tool("-o", "/", "src")
        self.assertEqual((result.returncode, result.stderr.decode(), os.listdir(src)), (
            2, f"emlx2mbox: /: the mailboxes of {src}/ would be written into {src}/, which is "
               "being converted\n", ["1.emlx"]))

    def test_help_and_version_need_nothing_else(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as f:
            version = re.search(r"project\(\S+ VERSION (\S+)", f.read()).group(1)
        for option in ("--version", "-V"):
            result = self.run_tool(option)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (0, f"emlx2mbox {version}\n".encode(), b""))
        result = self.run_tool("-o", "out", "--help", "--bogus-after-help")
        self.assertEqual(result.returncode, 2)  # an unknown option is still an error
        result = self.run_tool("--help")
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        text = result.stdout.decode()
        self.assertTrue(text.startswith("Usage: emlx2mbox [OPTIONS] -o DEST SOURCE...\n"))
        for documented in ("--layout MODE", "--flags", "--eol MODE", "--new-only",
                           "--no-verify", "--jobs N", "--dry-run", "--quiet", "--version",
                           "man emlx2mbox"):
            self.assertIn(documented, text)
        self.assertLessEqual(len(text.splitlines()), 24)  # one screen; the manual has the rest
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "completion",
                               "emlx2mbox.bash")) as f:
            completion = f.read()
        for option in re.findall(r"(?<![\w-])--?[\w-]+", text):
            self.assertIn(option, completion)  # bash completes every option --help names

    def test_dry_run_shows_each_mailbox_and_writes_nothing(self):
        write_file(self.path("src", "Acct", "Box.mbox", "Messages", "2.emlx"),
                   emlx_bytes(make_message(2, random.Random(2))))
        for layout, box in (("folders", os.path.join("Messages", "Messages.mbox")),
                            ("apple", os.path.join("Acct", "Box.mbox"))):
            result = self.run_tool("--dry-run", "--layout", layout, "-o", "out/new", "src")
            self.assertEqual(result.returncode, 0, result.stderr)
            src = self.path("src")
            mirror = os.path.relpath(src, "/")
            self.assertEqual(result.stdout.decode().splitlines(), [
                f"{src}/1.emlx -> {self.path('out', 'new', mirror, 'src.mbox')}",
                f"{src}/Acct/Box.mbox/Messages/2.emlx -> "
                + (self.path("out", "new", box) if layout == "apple" else
                   self.path("out", "new", mirror, "Acct", "Box.mbox", box)),
            ])
            self.assertEqual(result.stderr.decode(),
                             "2 messages into 2 mailboxes; nothing written (dry run)\n")
            self.assertFalse(os.path.exists(self.path("out")))

    def test_counts_of_one_take_the_singular(self):
        result = self.run_tool("-n", "-o", "out", "src/1.emlx")
        self.assertEqual(result.stderr, b"1 message into 1 mailbox; nothing written (dry run)\n")
        result = self.run_tool("-o", "out", "src/1.emlx")
        self.assertRegex(result.stderr.decode().splitlines()[0],
                         r"^1 converted, 0 failed, 0 skipped, 0 warnings; 1 mailbox, \d+ bytes "
                         r"written in \d+\.\d\d seconds$")

    def test_output_that_cannot_be_written_is_an_error(self):
        closed = (lambda: os.close(1), "Bad file descriptor")
        full = (lambda: os.dup2(os.open("/dev/full", os.O_WRONLY), 1), "No space left on device")
        for args, what in ((["--dry-run", "-o", "out", "src"], "the listing"),
                           (["--help"], "the help"), (["--version"], "the version")):
            for into, reason in (closed, full):
                result = self.run_tool(*args, preexec_fn=into)
                self.assertEqual(result.returncode, 1, args)
                self.assertEqual(result.stderr.decode().splitlines()[0],
                                 f"emlx2mbox: cannot write {what}: {reason}", args)


if __name__ == "__main__":
    unittest.main()
