"""The progress line: drawn on standard error only while it is a terminal, redrawn in place
with "\r", wiped before the report; --quiet and a redirected standard error get none."""

import os
import pty
import random
import re
import subprocess
import unittest

from cli_support import (EMLX2MBOX, SUMMARY, CliTestCase, emlx_bytes, make_message,
                         report_lines, write_file)

LINE = re.compile(r"\r(\d+)/(\d+) messages  (\d+\.\d) MB  (\d+\.\d) MB/s  (\d+:\d\d|--:--) left")


class ProgressTest(CliTestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(8)
        self.count = 30
        for n in range(1, self.count + 1):
            write_file(self.path("src", f"{n}.emlx"), emlx_bytes(make_message(n, rng)))

    def run_on_terminal(self, *options, answer=None, status=0):
        """Runs with standard error on a pseudo-terminal, and standard input too when there is
        an answer to type; returns everything written to it."""
        master, slave = pty.openpty()
        try:
            process = subprocess.Popen([EMLX2MBOX, *options, "-o", "out", "src"], cwd=self.tmp,
                                       stdout=subprocess.DEVNULL, stderr=slave,
                                       stdin=slave if answer is not None else subprocess.DEVNULL)
            os.close(slave)
            if answer is not None:
                os.write(master, answer)  # the terminal keeps it until the question reads it
            output = b""
            while True:
                try:
                    chunk = os.read(master, 65536)
                except OSError:  # the terminal closes when the program ends
                    break
                if not chunk:
                    break
                output += chunk
            self.assertEqual(process.wait(timeout=60), status, output)
        finally:
            os.close(master)
        return output.decode().replace("\r\n", "\n")  # the terminal turns LF into CR LF

    def test_terminal_gets_the_line_then_a_clean_report(self):
        output = self.run_on_terminal()
        report_start = output.rfind("\r") + 1
        drawn = output[:report_start]
        lines = LINE.findall(drawn)
        self.assertGreaterEqual(len(lines), 1, repr(output))
        done = [int(line[0]) for line in lines]
        self.assertEqual(done, sorted(done))
        self.assertTrue(all(int(line[1]) == self.count for line in lines))
        final = lines[-1]
        self.assertEqual(int(final[0]), self.count)
        self.assertEqual(final[4], "0:00")
        # The last line drawn is wiped with spaces before the report starts.
        self.assertRegex(drawn, r"left *\r +\r$")  # a shorter last line is padded over the one before
        report = report_lines(output[report_start:])
        self.assertEqual(len(report), 1, repr(output))
        self.assertRegex(report[0], SUMMARY)

    def test_quiet_and_redirected_runs_draw_nothing(self):
        output = self.run_on_terminal("--quiet")
        self.assertEqual(output, "")  # only problems, and this run has none
        redirected = self.run_tool("-o", "again", "src")
        self.assertNotIn(b"\r", redirected.stderr)
        self.assertEqual(len(report_lines(redirected.stderr.decode())), 1)

    def test_a_rerun_on_a_terminal_asks_whether_to_add_only_the_new_ones(self):
        box = self.path("out", os.path.relpath(self.path("src"), "/"), "src.mbox")
        self.run_on_terminal("--quiet")
        question = (f"The destination already holds {self.count} of these messages. "
                    "Add only the new ones? [Y/n/c] ")
        for answer, status, records in ((b"\n", 0, 1), (b"maybe\nno\n", 0, 2), (b"c\n", 1, 2)):
            output = self.run_on_terminal("--quiet", answer=answer, status=status)
            self.assertIn(question, output, answer)
            self.assertEqual(output.count(question), 1 + answer.startswith(b"maybe"), output)
            with open(box, "rb") as f:
                self.assertEqual(f.read().count(b"\nFrom "), records * self.count - 1, answer)
        self.assertTrue(output.endswith("emlx2mbox: cancelled; nothing converted\n"), output)


if __name__ == "__main__":
    unittest.main()
