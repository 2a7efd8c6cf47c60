"""Shared helpers of the command-line tests: build .emlx trees on disk, run emlx2mbox and read
what it wrote with Python's own mbox reader."""

import datetime
import email
import email.policy
import email.utils
import mailbox
import os
import random
import re
import shutil
import subprocess
import tempfile
import unittest
from email.message import EmailMessage

EMLX2MBOX = os.environ.get("EMLX2MBOX", "")
CORPUS = os.environ.get("CORPUS") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..", "data", "corpus-real")

SUMMARY = re.compile(
    r"^(\d+) converted, (\d+) failed, (\d+) skipped, (\d+) warnings?; (\d+) mailbox(?:es)?, "
    r"(\d+) bytes? written in \d+\.\d\d seconds$")


def plist(flags=None, date_received=None):
    """The property list Apple Mail appends after the message."""
    entries = ""
    if date_received is not None:
        entries += f"\t<key>date-received</key>\n\t<integer>{date_received}</integer>\n"
    if flags is not None:
        entries += f"\t<key>flags</key>\n\t<integer>{flags}</integer>\n"
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
            '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
            '<plist version="1.0">\n<dict>\n' + entries + "</dict>\n</plist>\n").encode()


def emlx_bytes(message: bytes, flags=None) -> bytes:
    """An .emlx file: the byte count padded as Apple Mail pads it, the message, the list."""
    return b"%-10d\n" % len(message) + message + plist(flags, 1700000000)


def make_message(number: int, rng: random.Random, attachment: bool = False) -> bytes:
    """A message with LF line ends whose headers and parts exercise the reader: folded and
    encoded headers, quoted-printable text, a base64 attachment."""
    msg = EmailMessage()
    msg["From"] = f"Sender {number} <sender{number}@example.org>"
    msg["To"] = "Ann Example <ann@example.com>, bob@example.net"
    msg["Subject"] = f"Message {number} \u00fcber Gr\u00fc\u00dfe"  # encoded-word
    msg["Date"] = email.utils.format_datetime(
        email.utils.localtime().replace(year=2020, month=1 + number % 12, day=1 + number % 28,
                                        hour=number % 24, minute=7, second=9, microsecond=0))
    msg["Message-ID"] = f"<m{number}@example.org>"
    msg["X-Long"] = "folded " + " ".join(f"word{i}" for i in range(30))
    body = "\n".join(f"Line {i} of message {number}: caf\u00e9 \u2013 {'x' * rng.randint(0, 90)}"
                     for i in range(rng.randint(1, 40)))
    msg.set_content(body + "\n", cte="quoted-printable")
    if attachment:
        data = bytes(rng.getrandbits(8) for _ in range(rng.randint(500, 5000)))
        msg.add_attachment(data, maintype="application", subtype="octet-stream",
                           filename=f"data{number}.bin")
    return msg.as_bytes(policy=email.policy.default.clone(linesep="\n"))


def source_message(path: str) -> email.message.Message:
    """The message inside an .emlx file, parsed: the bytes after the count line, as many as it
    counts, without the property list."""
    with open(path, "rb") as f:
        data = f.read()
    first, _, rest = data.partition(b"\n")
    count = int(first.strip())
    return email.message_from_bytes(rest[:count])


def unquote_mboxrd(text: bytes) -> bytes:
    """What an mboxrd reader gives back: one ">" less in front of every ">...From " line."""
    return re.sub(rb"(?m)^>(>*From )", rb"\1", text)


def normal_text(data: bytes) -> bytes:
    return data.replace(b"\r\n", b"\n").rstrip(b"\n")


def header_items(msg: email.message.Message):
    return [(k, v.replace("\r\n", "\n")) for k, v in msg.items()]


def decoded_parts(msg: email.message.Message):
    """Every leaf part as (content type, decoded bytes with line ends made equal)."""
    parts = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        payload = part.get_payload(decode=True) or b""
        if part.get_content_maintype() == "text":
            payload = normal_text(payload)
        parts.append((part.get_content_type(), payload))
    return parts


def read_mbox(path: str):
    """Every message of a mailbox file as Python's mbox reader sees it, with the mboxrd quoting
    taken back off."""
    box = mailbox.mbox(path, create=False)
    try:
        return [(m.get_from().rstrip("\r"),
                 email.message_from_bytes(unquote_mboxrd(box.get_bytes(key))))
                for key, m in box.iteritems()]
    finally:
        box.close()


def mbox_files(root: str):
    """Every .mbox file under root, relative to it, sorted."""
    found = []
    for folder, _, files in os.walk(root):
        for name in files:
            if name.endswith(".mbox"):
                found.append(os.path.relpath(os.path.join(folder, name), root))
    return sorted(found)


WEEKDAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def separator_time(date_header: str) -> str:
    """The separator line's timestamp for a Date header: UTC, English names, "ddd mmm dd"."""
    when = email.utils.parsedate_to_datetime(date_header).astimezone(datetime.timezone.utc)
    return (f"{WEEKDAYS[when.weekday()]} {MONTHS[when.month - 1]} {when.day:02d} "
            f"{when:%H:%M:%S} {when.year:04d}")


def report_lines(report: str):
    """The lines of a run's report without its line on what was made sure of on the disk."""
    disk = ("Checked: ", "Checked until the stop: ", "Not flushed: ")
    return [line for line in report.rstrip("\n").split("\n") if not line.startswith(disk)]


def write_file(path: str, data: bytes) -> str:
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def unprivileged():
    """Runs in the child before exec: as root, become "nobody", for whom permission bits hold."""
    if os.geteuid() == 0:
        os.setgroups([])
        os.setgid(65534)
        os.setuid(65534)


class CliTestCase(unittest.TestCase):
    """A test with its own scratch folder and a way to run the program."""

    def setUp(self):
        if not EMLX2MBOX or not os.path.exists(EMLX2MBOX):
            self.fail("EMLX2MBOX must name the built emlx2mbox")
        self.tmp = tempfile.mkdtemp(prefix="emlx2mbox-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def path(self, *parts) -> str:
        return os.path.join(self.tmp, *parts)

    def run_tool(self, *args, cwd=None, env=None, preexec_fn=None):
        return subprocess.run([EMLX2MBOX, *args], capture_output=True, cwd=cwd or self.tmp,
                              env=env, preexec_fn=preexec_fn, timeout=120)

    def assert_summary(self, stderr: bytes, converted, failed=0, skipped=0, warnings=0,
                       mailboxes=None):
        """The summary line, the last before the read-back line and the rerun's closing line,
        with these counts."""
        lines = report_lines(stderr.decode())
        last = lines[-2] if lines[-1].endswith("--new-only leaves them out") else lines[-1]
        match = SUMMARY.match(last)
        self.assertIsNotNone(match, f"no summary line in {stderr!r}")
        self.assertEqual([int(g) for g in match.groups()[:4]],
                         [converted, failed, skipped, warnings])
        if mailboxes is not None:
            self.assertEqual(int(match.group(5)), mailboxes)

    def assert_same_messages(self, written, sources):
        """Each mailbox message carries the headers and decoded parts of its source file."""
        self.assertEqual(len(written), len(sources))
        for (separator, got), source in zip(written, sources):
            want = source_message(source)
            self.assertEqual(header_items(got), header_items(want), source)
            self.assertEqual(decoded_parts(got), decoded_parts(want), source)
            sender = email.utils.parseaddr(want["From"])[1]
            self.assertEqual(separator, f"{sender} {separator_time(want['Date'])}", source)
