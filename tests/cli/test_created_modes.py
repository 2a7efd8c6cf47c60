"""What a run creates is private to the user, as the mail store it comes from: mailboxes 0600,
folders 0700, whatever the umask. What exists already keeps its mode."""

import os
import random
import stat
import unittest

from cli_support import CliTestCase, emlx_bytes, make_message, write_file


def mode(path: str) -> int:
    return stat.S_IMODE(os.stat(path).st_mode)


class CreatedModesTest(CliTestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(9)
        for folder, n in (("A", 1), ("B", 2)):
            write_file(self.path("src", folder, f"{n}.emlx"), emlx_bytes(make_message(n, rng)))
        self.mirror = os.path.relpath(self.path("src"), "/")

    def test_new_mailboxes_and_folders_are_the_users_alone(self):
        for umask in (0o022, 0o000):
            with self.subTest(umask=oct(umask)):
                out = self.path(f"out{umask}", "deeper")
                result = self.run_tool("-o", out, "src", preexec_fn=lambda: os.umask(umask))
                self.assertEqual(result.returncode, 0, result.stderr)
                folder = out
                for part in [""] + self.mirror.split("/") + ["A"]:
                    folder = os.path.join(folder, part) if part else folder
                    self.assertEqual(mode(folder), 0o700, folder)
                self.assertEqual(mode(os.path.dirname(out)), 0o700)
                for name in ("A", "B"):
                    box = os.path.join(out, self.mirror, name, f"{name}.mbox")
                    self.assertEqual(mode(box), 0o600, box)

    def test_existing_folders_and_mailboxes_keep_their_modes(self):
        out = self.path("out")
        box = write_file(os.path.join(out, self.mirror, "A", "A.mbox"), b"")
        os.chmod(box, 0o644)
        for folder in (out, os.path.dirname(box)):
            os.chmod(folder, 0o755)
        result = self.run_tool("-o", "out", "src", preexec_fn=lambda: os.umask(0o022))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(mode(box), 0o644)
        self.assertEqual(mode(out), 0o755)
        self.assertEqual(mode(os.path.dirname(box)), 0o755)
        self.assertEqual(mode(os.path.join(out, self.mirror, "B", "B.mbox")), 0o600)
        self.assertEqual(mode(os.path.join(out, self.mirror, "B")), 0o700)


if __name__ == "__main__":
    unittest.main()
