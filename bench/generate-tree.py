#!/usr/bin/env python3
"""Writes an Apple Mail store for the benchmarks. Same arguments, same tree.

    generate-tree.py --shape realistic|small|single|large [--messages N] [--seed S] --out FOLDER

realistic (default 20000 messages, about 1 GB): Mail/V10/<account>/<Name>.mbox/<UUID>/Data/
    <digits>/Messages/<n>.emlx as Apple Mail lays it out, nested mailboxes, an IMAP account
    beside a local one. Mostly small LF text and HTML messages with long real-looking header
    blocks; about a sixth carry small base64 attachments, 3% large ones (up to 1.2 MB); a
    few have body lines starting "From " or CR LF line ends; 2% are partial messages
    (<n>.partial.emlx) whose attachment Apple Mail keeps in Data/<digits>/Attachments/<n>/2/.
small (default 50000): plain text messages of 2 to 20 KB in the same layout.
many (default 200000): plain text messages of about 1 KB in the same layout, for the memory
    the run's per-message bookkeeping takes.
single (default 20000): one mailbox, all in one Messages folder, of plain text messages of 5 KB, each with a body line
    starting "From ", so that every record is quoted.
large (default 4): messages of 100 MB to 1 GB, each one text part and one base64
    attachment; --messages N takes the first N sizes, or with --large-mb a list of sizes.
"""

import argparse
import base64
import os
import random
import shutil

# (account folder, mailbox chain, share of the messages)
MAILBOXES = [
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["INBOX.mbox"], 0.40),
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["Sent Messages.mbox"], 0.15),
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["Archive.mbox", "2023.mbox"], 0.12),
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["Archive.mbox"], 0.03),
    ("IMAP-bench@mail.example", ["[Gmail].mbox", "All Mail.mbox"], 0.25),
    ("IMAP-bench@mail.example", ["Drafts.mbox"], 0.05),
]

LARGE_SIZES_MB = [100, 250, 500, 1000]

WORDS = ("the of and to in is that for it as was with be by on not he this are or his from at "
         "which but have an they you were her she there been one all we their has would when if "
         "so no will more about can said up out what its into them than time only other new "
         "some could these two may first then do any like my now over such our man me even most "
         "made after also did many before must through back years where much your way well "
         "down should because each just those people how too little state good very make world "
         "still own see men work long get here between both life being under never day same "
         "another know while last might us great old year off come since against go came right "
         "used take three meeting budget invoice report schedule project review draft").split()

PLIST = ('<?xml version="1.0" encoding="UTF-8"?>\n'
         '<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" '
         '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n'
         '<plist version="1.0">\n<dict>\n'
         '\t<key>date-last-viewed</key>\n\t<integer>{viewed}</integer>\n'
         '\t<key>date-received</key>\n\t<integer>{received}</integer>\n'
         '\t<key>flags</key>\n\t<integer>{flags}</integer>\n'
         '\t<key>remote-id</key>\n\t<string>{number}</string>\n'
         '</dict>\n</plist>\n')


class Prose:
    """Lines of at most 76 characters cut from one long stretch of words made once, so that
    gigabytes of text do not cost a random choice per word."""

    def __init__(self, rng):
        lines, line = [], []
        while len(lines) < 20000:
            word = rng.choice(WORDS)
            if sum(len(w) + 1 for w in line) + len(word) > 76:
                lines.append(" ".join(line) + "\n")
                line = []
            line.append(word)
        self.lines = lines

    def text(self, rng, size):
        start = rng.randrange(len(self.lines))
        out, total = [], 0
        while total < size:
            line = self.lines[(start + len(out)) % len(self.lines)]
            out.append(line)
            total += len(line)
        return "".join(out)


def base64_text(rng, size):
    """About `size` bytes of base64 in 76-character lines with LF ends."""
    return base64.encodebytes(rng.randbytes(size * 3 // 4)).decode()


def header_block(rng, number, when, sender, subject):
    """Headers as real mail carries them: a chain of Received lines, authentication results
    and a DKIM signature, so that the block is a few kilobytes as in real mail."""
    hops = []
    for hop in range(rng.randint(2, 6)):
        hops.append(f"Received: from mx{hop}-{rng.randint(1, 99)}.example.net "
                    f"(mx{hop}.example.net [192.0.2.{rng.randint(1, 254)}])\n"
                    f"\tby mail{hop}.example.org (Postfix) with ESMTPS id "
                    f"{rng.getrandbits(48):012X}\n\tfor <bench@mail.example>; {when}\n")
    signature = base64.b64encode(rng.randbytes(192)).decode()
    return (f"Return-Path: <{sender}>\n"
            "X-Original-To: bench@mail.example\nDelivered-To: bench@mail.example\n"
            + "".join(hops) +
            "Authentication-Results: mail.example.org; dkim=pass header.d=example.com; "
            "spf=pass smtp.mailfrom=example.com\n"
            f"DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=example.com; s=s1;\n"
            f"\th=from:to:subject:date:message-id; bh={base64.b64encode(rng.randbytes(32)).decode()};\n"
            f"\tb={signature[:70]}\n\t {signature[70:140]}\n\t {signature[140:]}\n"
            f"From: {sender.split('@')[0].replace('.', ' ').title()} <{sender}>\n"
            "To: Bench Reader <bench@mail.example>\n"
            f"Subject: {subject}\n"
            f"Date: {when}\n"
            f"Message-ID: <{rng.getrandbits(64):016x}.{number}@example.com>\n"
            "MIME-Version: 1.0 (Mac OS X Mail 16.0 \\(3731.500.231\\))\n")


def multipart(boundary, kind, parts):
    return (f"Content-Type: multipart/{kind};\n\tboundary=\"{boundary}\"\n\n"
            + "".join(f"--{boundary}\n{part}\n" for part in parts) + f"--{boundary}--\n")


def text_part(text):
    return ("Content-Transfer-Encoding: 7bit\nContent-Type: text/plain;\n\tcharset=us-ascii\n\n"
            + text)


def attachment_headers(name):
    return ("Content-Transfer-Encoding: base64\n"
            f"Content-Disposition: attachment;\n\tfilename={name}\n"
            f"Content-Type: application/octet-stream;\n\tx-unix-mode=0644;\n\tname=\"{name}\"\n")


class Store:
    """Writes messages into one mailbox's shard folders and keeps count of the bytes."""

    def __init__(self, root, account, chain, rng, sharded=True):
        self.data = os.path.join(root, "Mail", "V10", account, *chain,
                                 f"{rng.getrandbits(128):032X}", "Data")
        self.bytes = 0
        self.sharded = sharded

    def shard(self, number):
        # Apple Mail shards by the number's digits: 12345 lives in Data/2/1/Messages. Unsharded,
        # every message is in one folder, which the default naming makes one mailbox.
        digits = str(number // 1000)[::-1] if number >= 1000 and self.sharded else ""
        return os.path.join(self.data, *digits)

    def write(self, number, message, flags, partial=False, attachments=()):
        folder = os.path.join(self.shard(number), "Messages")
        os.makedirs(folder, exist_ok=True)
        name = f"{number}.partial.emlx" if partial else f"{number}.emlx"
        received = 1_600_000_000 + number * 617
        plist = PLIST.format(viewed=received + 60, received=received, flags=flags, number=number)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(b"%-10d\n" % len(message))
            f.write(message)
            f.write(plist.encode())
        self.bytes += len(b"%-10d\n" % len(message)) + len(message) + len(plist)
        for part, file_name, data in attachments:
            place = os.path.join(self.shard(number), "Attachments", str(number), part)
            os.makedirs(place, exist_ok=True)
            with open(os.path.join(place, file_name), "wb") as f:
                f.write(data)
            self.bytes += len(data)


def realistic_message(rng, prose, number):
    """(message bytes, partial attachments) for one message of the realistic mix."""
    when = "Mon, 14 Sep 2020 12:%02d:%02d +0200" % (number % 60, number * 7 % 60)
    sender = f"{rng.choice(WORDS)}.{rng.choice(WORDS)}{rng.randint(1, 99)}@example.com"
    subject = f"{' '.join(rng.sample(WORDS, rng.randint(2, 8)))} #{number}"
    headers = header_block(rng, number, when, sender, subject)
    text = prose.text(rng, rng.randint(500, 12_000))
    if rng.random() < 0.03:
        text = text.replace("\n", "\nFrom what we discussed, the budget holds\n", 1)
    boundary = f"Apple-Mail={rng.getrandbits(64):016X}"
    roll = rng.random()
    partial = []
    if roll < 0.40:
        message = headers + text_part(text)
    elif roll < 0.80:
        html = "<html><body><p>" + text.replace("\n", "</p>\n<p>") + "</p></body></html>\n"
        message = headers + multipart(boundary, "alternative", [
            text_part(text),
            "Content-Transfer-Encoding: 7bit\nContent-Type: text/html;\n\tcharset=us-ascii\n\n"
            + html])
    elif roll < 0.98:
        # An attachment: mostly small (a signature image, a short PDF), 3 in 100 large.
        large = roll >= 0.95
        size = rng.randint(250_000, 1_200_000) if large else rng.randint(10_000, 100_000)
        name = f"file{number}.{rng.choice(['pdf', 'jpg', 'docx', 'zip'])}"
        message = headers + multipart(boundary, "mixed", [
            text_part(text), attachment_headers(name) + "\n" + base64_text(rng, size)])
    else:
        # A partial message: Apple Mail keeps the attachment apart and leaves the part's
        # headers with the length it had, and an empty body.
        name = f"scan{number}.pdf"
        data = rng.randbytes(rng.randint(20_000, 400_000))
        encoded_length = len(base64.encodebytes(data))
        message = headers + multipart(boundary, "mixed", [
            text_part(text),
            attachment_headers(name) + f"X-Apple-Content-Length: {encoded_length}\n\n"])
        partial = [("2", name, data)]
    if rng.random() < 0.01:
        message = message.replace("\n", "\r\n")  # some mail arrives with CR LF kept
    return message.encode(), partial


def small_message_head(rng, number):
    when = "Tue, 03 Mar 2020 09:%02d:%02d +0000" % (number % 60, number * 7 % 60)
    sender = f"{rng.choice(WORDS)}{rng.randint(1, 999)}@example.org"
    return (f"From: {sender}\nTo: bench@mail.example\nSubject: note {number}\nDate: {when}\n"
            f"Message-ID: <{number}.{rng.getrandbits(40):010x}@example.org>\n"
            "Content-Type: text/plain; charset=us-ascii\n\n")


def small_message(rng, prose, number):
    head = small_message_head(rng, number)
    size = rng.randint(2_000, 20_000)
    return (head + prose.text(rng, size - len(head) - 300)).encode()


def many_message(rng, prose, number):
    head = small_message_head(rng, number)
    return (head + prose.text(rng, 1_000 - len(head))).encode()


def single_message(rng, prose, number):
    """About 5 KB: a small header, prose, and one body line starting "From "."""
    head = small_message_head(rng, number)
    body = prose.text(rng, 5_000 - len(head) - 120)
    cut = body.index("\n", len(body) // 2) + 1
    return (head + body[:cut] + f"From the notes of meeting {number}, the figures hold\n"
            + body[cut:]).encode()


def write_large(store, rng, number, size):
    """One message of about `size` bytes streamed to disk, never whole in memory."""
    when = "Wed, 01 Jul 2020 10:00:%02d +0000" % (number % 60)
    boundary = f"Apple-Mail={rng.getrandbits(64):016X}"
    name = f"video{number}.mov"
    head = (header_block(rng, number, when, "video.sender@example.com", f"footage {number}")
            + f"Content-Type: multipart/mixed;\n\tboundary=\"{boundary}\"\n\n"
            f"--{boundary}\n" + text_part("The footage is attached.\n") + f"\n--{boundary}\n"
            + attachment_headers(name) + "\n").encode()
    tail = f"\n--{boundary}--\n".encode()
    chunk_raw = 57 * 16 * 1024  # whole base64 lines per chunk
    chunks = max(1, (size - len(head) - len(tail)) * 3 // 4 // chunk_raw)
    line_chunk = len(base64.encodebytes(b"\0" * chunk_raw))
    length = len(head) + chunks * line_chunk + len(tail)
    folder = os.path.join(store.shard(number), "Messages")
    os.makedirs(folder, exist_ok=True)
    received = 1_600_000_000 + number
    plist = PLIST.format(viewed=received, received=received, flags=1, number=number).encode()
    with open(os.path.join(folder, f"{number}.emlx"), "wb") as f:
        f.write(b"%-10d\n" % length)
        f.write(head)
        block = rng.randbytes(chunk_raw)
        for i in range(chunks):
            # Vary the data a little per chunk without paying for fresh random bytes.
            f.write(base64.encodebytes(i.to_bytes(8, "little") + block[8:]))
        f.write(tail)
        f.write(plist)
    store.bytes += 11 + length + len(plist)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--shape", choices=["realistic", "small", "many", "single", "large"], default="realistic")
    parser.add_argument("--messages", type=int)
    parser.add_argument("--large-mb", help="sizes of the large messages in MB, comma-separated")
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    shutil.rmtree(args.out, ignore_errors=True)
    prose = Prose(rng)

    stores, count = [], 0
    if args.shape == "large":
        sizes = ([int(s) for s in args.large_mb.split(",")] if args.large_mb
                 else LARGE_SIZES_MB[:args.messages or len(LARGE_SIZES_MB)])
        for index, size_mb in enumerate(sizes):
            account, chain, _ = MAILBOXES[index % 2]
            store = Store(args.out, account, chain, rng)
            write_large(store, rng, 100 + index, size_mb * 1_000_000)
            stores.append(store)
            count += 1
    else:
        total = args.messages or {"small": 50000, "many": 200000}.get(args.shape, 20000)
        number = 0
        mailboxes = MAILBOXES[:1] if args.shape == "single" else MAILBOXES
        for account, chain, share in mailboxes:
            if args.shape == "single":
                share = 1.0
            store = Store(args.out, account, chain, rng, sharded=args.shape != "single")
            stores.append(store)
            for _ in range(max(1, round(total * share))):
                number += rng.randint(1, 3)
                flags = rng.choice([0, 1, 1, 1, 5, 17, 0x10000001])
                if args.shape == "small":
                    store.write(number, small_message(rng, prose, number), flags)
                elif args.shape == "many":
                    store.write(number, many_message(rng, prose, number), flags)
                elif args.shape == "single":
                    store.write(number, single_message(rng, prose, number), flags)
                else:
                    message, partial = realistic_message(rng, prose, number)
                    store.write(number, message, flags, bool(partial), partial)
                count += 1
    total_bytes = sum(store.bytes for store in stores)
    print(f"wrote {count} messages, {total_bytes / 1e6:.1f} MB under {args.out}")


if __name__ == "__main__":
    main()
