"""The layer check passes on the source tree and fails on each kind of doctored copy."""
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CHECK = ROOT / "scripts" / "check-layers"

# (what is doctored, file to change, text appended, what the report must name)
DOCTORED = [
    ("include circle", "mbox/stop_request.h", '#include "mbox/append_hooks.h"\n', "include circle"),
    ("upward arrow", "message/header_fields.h", '#include "run/conversion_run.h"\n', "layer beside or above"),
    ("records out reading Apple's files", "mbox/message_text.cpp",
     '#include "emlx/emlx_framing.h"\n', "mbox may not include emlx/emlx_framing.h"),
    ("Qt in the core", "emlx/emlx_framing.cpp", "#include <QString>\n", "Qt header"),
    ("front-end in the core", "run/row_source.h", '#include "cli/cli_options.h"\n', "front-end"),
    ("one front-end in the other", "cli/main.cpp", '#include "window/frm_step1.h"\n', "other's"),
    ("a CMakeLists reaching out", "mbox/CMakeLists.txt", "target_sources(x ../run/a.cpp)\n",
     "outside its folder"),
]


def check(src):
    return subprocess.run([sys.executable, str(CHECK), str(src)], capture_output=True, text=True)


class CheckLayersTest(unittest.TestCase):
    def test_source_tree_passes(self):
        result = check(ROOT / "src")
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_each_doctored_copy_fails(self):
        for what, file, text, named in DOCTORED:
            with self.subTest(what), tempfile.TemporaryDirectory() as temp:
                copy = Path(temp) / "src"
                shutil.copytree(ROOT / "src", copy)
                with open(copy / file, "a") as out:
                    out.write(text)
                result = check(copy)
                self.assertEqual(result.returncode, 1, what)
                self.assertIn(named, result.stderr)


if __name__ == "__main__":
    unittest.main()
