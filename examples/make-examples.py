#!/usr/bin/env python3
"""Writes the sample Apple Mail tree in this folder: one account with an inbox of two
messages and a sent mailbox holding one message with an attachment. LF line ends, the byte
count line and property list as Apple Mail writes them. Run again to rebuild it."""

import base64
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ACCOUNT = os.path.join(HERE, "Mail", "V10", "3F2A9C1E-0B7D-4E55-9A61-2C8D4B7E1F03")
SHARD = os.path.join("6B1D0E4A-93C2-4F7E-8D15-A0B9C3E2D471", "Data", "Messages")

PLIST = """<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>date-received</key>
	<integer>{received}</integer>
	<key>flags</key>
	<integer>{flags}</integer>
</dict>
</plist>
"""

NOTES = ("Agenda for Thursday\n"
         "1. Budget for the spring fair\n"
         "2. Who brings the tables\n"
         "3. From now on, meetings start at six\n")

MESSAGES = [
    ("INBOX.mbox", 1, 1, 1709312709, """From: Clara Ruiz <clara@example.org>
To: Sam Weller <sam@example.net>
Subject: Spring fair
Date: Fri, 01 Mar 2024 18:05:09 +0100
Message-ID: <fair-1@example.org>
MIME-Version: 1.0
Content-Type: text/plain; charset=utf-8
Content-Transfer-Encoding: 8bit

Hi Sam,

are you coming to the planning meeting on Thursday?
From what I heard the hall is booked.

Clara
"""),
    ("INBOX.mbox", 2, 5, 1709398800, """From: =?utf-8?q?J=C3=BCrgen_Maa=C3=9F?= <juergen@example.com>
To: Sam Weller <sam@example.net>
Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe_aus_K=C3=B6ln?=
Date: Sat, 2 Mar 2024 17:00:00 +0000
Message-ID: <koeln-2@example.com>
MIME-Version: 1.0
Content-Type: text/plain; charset=utf-8
Content-Transfer-Encoding: quoted-printable

Hallo Sam, sch=C3=B6ne Gr=C3=BC=C3=9Fe aus K=C3=B6ln!
"""),
    ("Sent Messages.mbox", 3, 5, 1709485200, """From: Sam Weller <sam@example.net>
To: Clara Ruiz <clara@example.org>
Subject: Re: Spring fair
Date: Sun, 03 Mar 2024 09:00:00 -0800
Message-ID: <fair-3@example.net>
In-Reply-To: <fair-1@example.org>
MIME-Version: 1.0
Content-Type: multipart/mixed; boundary="sample-boundary-42"

--sample-boundary-42
Content-Type: text/plain; charset=us-ascii
Content-Transfer-Encoding: 7bit

Yes, I will be there. The agenda is attached.

--sample-boundary-42
Content-Type: text/plain; charset=us-ascii; name="agenda.txt"
Content-Disposition: attachment; filename="agenda.txt"
Content-Transfer-Encoding: base64

""" + base64.encodebytes(NOTES.encode()).decode() + """
--sample-boundary-42--
"""),
]


def main():
    for mailbox, number, flags, received, text in MESSAGES:
        folder = os.path.join(ACCOUNT, mailbox, SHARD)
        os.makedirs(folder, exist_ok=True)
        message = text.encode()
        with open(os.path.join(folder, f"{number}.emlx"), "wb") as f:
            f.write(b"%-10d\n" % len(message))
            f.write(message)
            f.write(PLIST.format(received=received, flags=flags).encode())


if __name__ == "__main__":
    main()
