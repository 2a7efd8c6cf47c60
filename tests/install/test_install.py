"""Installs the build into a temporary prefix as `cmake --install` does for a user or a package,
then checks the files a Linux desktop reads: both programs, the man page, the launcher, the
AppStream metadata, the icon in each size of the theme and the guide, each linted by the tool
that reads it."""
import os
import struct
import subprocess
import tempfile
import unittest

BUILD = os.environ["BUILD_DIR"]
WINDOW = os.environ.get("WINDOW", "ON").upper() in ("ON", "1", "TRUE", "YES")
APP = "com.drovanta.Emlx2Mbox"
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    assert head[:8] == b"\x89PNG\r\n\x1a\n", path
    return struct.unpack(">II", head[16:24])


class InstallTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory(prefix="drovanta-install-")
        cls.prefix = cls.temp.name
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.prefix], check=True,
                       stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.temp.cleanup()

    def path(self, relative):
        return os.path.join(self.prefix, relative)

    def test_installed_files(self):
        doc = "share/doc/drovanta-emlx2mbox/"
        expected = ["bin/emlx2mbox", "share/man/man1/emlx2mbox.1", doc + "LICENSE",
                    doc + "README.md", doc + "README.html", doc + "docs/window.png",
                    "share/bash-completion/completions/emlx2mbox"]
        if WINDOW:
            expected += ["bin/drovanta-emlx2mbox", f"share/applications/{APP}.desktop",
                         f"share/metainfo/{APP}.metainfo.xml"]
            expected += [f"share/icons/hicolor/{n}x{n}/apps/{APP}.png" for n in ICON_SIZES]
        missing = [name for name in expected if not os.path.isfile(self.path(name))]
        self.assertEqual(missing, [])
        for program in [name for name in expected if name.startswith("bin/")]:
            self.assertTrue(os.access(self.path(program), os.X_OK), program)
        for n in ICON_SIZES if WINDOW else []:
            self.assertEqual(png_size(self.path(f"share/icons/hicolor/{n}x{n}/apps/{APP}.png")),
                             (n, n))
        with open(self.path(doc + "README.html"), encoding="utf-8") as f:
            self.assertIn('src="docs/window.png"', f.read())

        version = subprocess.run([self.path("bin/emlx2mbox"), "--version"], capture_output=True,
                                 text=True)
        self.assertEqual(version.returncode, 0, version.stderr)
        self.assertRegex(version.stdout, r"^emlx2mbox \d")

    def test_linted_by_their_readers(self):
        checks = [["mandoc", "-T", "lint", "-W", "warning", self.path("share/man/man1/emlx2mbox.1")]]
        if WINDOW:
            checks += [["desktop-file-validate", self.path(f"share/applications/{APP}.desktop")],
                       ["appstreamcli", "validate", "--no-net", "--pedantic",
                        self.path(f"share/metainfo/{APP}.metainfo.xml")]]
        for command in checks:
            with self.subTest(tool=command[0]):
                result = subprocess.run(command, capture_output=True, text=True)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                if command[0] != "appstreamcli":
                    self.assertEqual(result.stdout + result.stderr, "")


if __name__ == "__main__":
    unittest.main()
