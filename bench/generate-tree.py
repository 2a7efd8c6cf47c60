#!/usr/bin/env python3
"""Writes an Apple-Mail-like store for the benchmark: accounts, mailboxes (one nested), shard
folders <UUID>/Data/<d>/<d>/Messages, .emlx files with their count line and property list, LF
line ends. Sizes follow a mail-like mix: mostly small text and HTML messages, about a fifth
with base64 attachments, a few large ones. Same seed, same tree.

    generate-tree.py [--messages N] [--seed S] [--out FOLDER]

The default (20000 messages) gives about 1 GB; use e.g. --messages 500 for a quick try."""

import argparse
import base64
import os
import random
import shutil

MAILBOXES = [
    # (account folder, mailbox chain, share of the messages)
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["INBOX.mbox"], 0.40),
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["Sent Messages.mbox"], 0.15),
    ("2E6C1F0A-5B3D-4A8E-9C71-0D4F8B2A6E13", ["Archive.mbox", "2023.mbox"], 0.15),
    ("IMAP-bench@mail.example", ["[Gmail].mbox", "All Mail.mbox"], 0.25),
    ("IMAP-bench@mail.example", ["Drafts.mbox"], 0.05),
]

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
         '\t<key>date-received</key>\n\t<integer>{received}</integer>\n'
         '\t<key>flags</key>\n\t<integer>{flags}</integer>\n'
         '\t<key>remote-id</key>\n\t<string>{number}</string>\n'
         '</dict>\n</plist>\n')


def paragraph(rng, size):
    """Prose of about `size` bytes in lines of at most 76 characters."""
    lines, line, total = [], [], 0
    while total < size:
        word = rng.choice(WORDS)
        if sum(len(w) + 1 for w in line) + len(word) > 76:
            lines.append(" ".join(line))
            line = []
        line.append(word)
        total += len(word) + 1
    lines.append(" ".join(line))
    if rng.random() < 0.1:
        lines.insert(len(lines) // 2, "From what we discussed, " + " ".join(rng.sample(WORDS, 6)))
    return "\n".join(lines) + "\n"


def base64_lines(data):
    return base64.encodebytes(data).decode()  # lines of 76 characters, LF ends


def message_size(rng):
    """Bytes of body for one message, and the attachment size (0: none)."""
    roll = rng.random()
    if roll < 0.75:
        return rng.randint(1_000, 24_000), 0
    if roll < 0.97:
        return rng.randint(1_000, 8_000), rng.randint(20_000, 110_000)
    return rng.randint(1_000, 8_000), rng.randint(250_000, 1_300_000)


def make_message(rng, number, when):
    body_size, attachment_size = message_size(rng)
    sender = f"{rng.choice(WORDS)}.{rng.choice(WORDS)}{rng.randint(1, 99)}@example.com"
    headers = (f"Return-Path: <{sender}>\n"
               f"Received: from mx{rng.randint(1, 9)}.example.net (mx.example.net [192.0.2.{rng.randint(1, 254)}])\n"
               f"\tby mail.example.org with ESMTPS id {rng.getrandbits(48):012x}\n"
               f"\tfor <bench@mail.example>; {when}\n"
               f"From: {sender.split('@')[0].title()} <{sender}>\n"
               f"To: Bench Reader <bench@mail.example>\n"
               f"Subject: {' '.join(rng.sample(WORDS, rng.randint(2, 8)))} #{number}\n"
               f"Date: {when}\n"
               f"Message-ID: <{rng.getrandbits(64):016x}.{number}@example.com>\n"
               "MIME-Version: 1.0\n")
    text = paragraph(rng, body_size)
    if attachment_size == 0 and rng.random() < 0.5:
        return (headers + "Content-Type: text/plain; charset=us-ascii\n"
                "Content-Transfer-Encoding: 7bit\n\n" + text)
    boundary = f"Apple-Mail={rng.getrandbits(64):016X}"
    parts = [f"--{boundary}\nContent-Type: text/plain; charset=us-ascii\n"
             f"Content-Transfer-Encoding: 7bit\n\n{text}\n"]
    if attachment_size == 0:
        html = "<html><body><p>" + text.replace("\n", "</p>\n<p>") + "</p></body></html>\n"
        parts.append(f"--{boundary}\nContent-Type: text/html; charset=us-ascii\n"
                     f"Content-Transfer-Encoding: 7bit\n\n{html}\n")
        kind = "alternative"
    else:
        name = f"file{number}.{rng.choice(['pdf', 'jpg', 'docx', 'zip'])}"
        parts.append(f"--{boundary}\nContent-Type: application/octet-stream; name=\"{name}\"\n"
                     f"Content-Disposition: attachment; filename=\"{name}\"\n"
                     f"Content-Transfer-Encoding: base64\n\n"
                     f"{base64_lines(rng.randbytes(attachment_size * 3 // 4))}\n")
        kind = "mixed"
    return (headers + f"Content-Type: multipart/{kind}; boundary=\"{boundary}\"\n\n"
            + "".join(parts) + f"--{boundary}--\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--messages", type=int, default=20000)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--out", default=os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                      "out", "tree"))
    args = parser.parse_args()
    rng = random.Random(args.seed)
    shutil.rmtree(args.out, ignore_errors=True)

    total_bytes, number = 0, 0
    for account, chain, share in MAILBOXES:
        store = os.path.join(args.out, "Mail", "V10", account, *chain,
                             f"{rng.getrandbits(128):032X}", "Data")
        for _ in range(max(1, round(args.messages * share))):
            number += rng.randint(1, 3)
            # Apple Mail shards by the number's digits: 12345 lives in Data/4/3/2/Messages.
            digits = str(number // 1000)[::-1] if number >= 1000 else ""
            folder = os.path.join(store, *digits, "Messages")
            os.makedirs(folder, exist_ok=True)
            received = 1_600_000_000 + number * 617
            when = ("Mon, 14 Sep 2020 12:%02d:%02d +0200" % (number % 60, number * 7 % 60))
            message = make_message(rng, number, when).encode()
            data = (b"%-10d\n" % len(message) + message +
                    PLIST.format(received=received, flags=rng.choice([0, 1, 1, 5, 17]),
                                 number=number).encode())
            with open(os.path.join(folder, f"{number}.emlx"), "wb") as f:
                f.write(data)
            total_bytes += len(data)
    print(f"wrote {sum(max(1, round(args.messages * s)) for *_, s in MAILBOXES)} messages, "
          f"{total_bytes / 1e6:.1f} MB under {args.out}")


if __name__ == "__main__":
    main()
