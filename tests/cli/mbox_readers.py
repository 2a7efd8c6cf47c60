"""How many messages independent mbox readers find in a mailbox file. Each function gives None
when its reader is not installed; readers that may rewrite what they open get a copy."""

import os
import pty
import re
import select
import shutil
import subprocess
import tempfile


def _copy(box: str, scratch: str, name: str) -> str:
    folder = os.path.join(scratch, name)
    os.makedirs(folder, exist_ok=True)
    return shutil.copy(box, os.path.join(folder, "box"))


def formail_count(box: str, scratch: str):
    if not shutil.which("formail"):
        return None
    with open(box, "rb") as f:
        split = subprocess.run(["formail", "-s", "echo", "x"], stdin=f, capture_output=True,
                               timeout=60)
    return len(split.stdout.splitlines())


def mailutils_count(box: str, scratch: str):
    """GNU mailutils' count of the messages."""
    if not shutil.which("messages"):
        return None
    copy = _copy(box, scratch, "mailutils")
    env = dict(os.environ, HOME=scratch, MAIL=os.path.join(scratch, "no-mail"),
               MAILRC="/dev/null")
    counted = subprocess.run(["messages", copy], capture_output=True, env=env,
                             stdin=subprocess.DEVNULL, timeout=60)
    found = re.search(rb"(\d+)\s*$", counted.stdout)
    return int(found.group(1)) if counted.returncode == 0 and found else -1


def mutt_count(box: str, scratch: str):
    """The message count on mutt's status line, read from a pseudo-terminal."""
    if not shutil.which("mutt"):
        return None
    home = os.path.join(scratch, "mutt")
    os.makedirs(home, exist_ok=True)
    rc = os.path.join(home, "muttrc")
    with open(rc, "w") as f:
        f.write(f'set mbox_type=mbox\nset folder={home}\nset record=""\nset postponed=""\n'
                'set status_format="Msgs:%m"\n')
    env = dict(os.environ, HOME=home, TERM="vt100", LINES="10", COLUMNS="100")
    pid, fd = pty.fork()
    if pid == 0:
        os.execvpe("mutt", ["mutt", "-n", "-F", rc, "-R", "-f", box], env)
    seen, count = b"", None
    try:
        while count is None and select.select([fd], [], [], 60)[0]:
            chunk = os.read(fd, 4096)
            if not chunk:
                break
            seen += chunk
            found = re.search(rb"Msgs:(\d+)", seen)
            count = int(found.group(1)) if found else None
    except OSError:  # the terminal closed: mutt ended without showing the box
        pass
    finally:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
        os.close(fd)
    return count if count is not None else -1


def dovecot_count(box: str, scratch: str):
    """doveadm's search of the box as the only mailbox of a private configuration, without a
    server. Dovecot refuses root: as root it runs as nobody, in a folder of its own that nobody
    can reach (`scratch` may not be)."""
    if not shutil.which("doveadm"):
        return None
    folder = tempfile.mkdtemp(prefix="dovecot-")
    try:
        copy = shutil.copy(box, os.path.join(folder, "box"))
        inbox = os.path.join(folder, "inbox")
        open(inbox, "wb").close()
        uid, gid = (65534, 65534) if os.getuid() == 0 else (os.getuid(), os.getgid())
        os.chmod(folder, 0o777)
        for path in (copy, inbox):
            os.chmod(path, 0o666)
        conf = os.path.join(folder, "dovecot.conf")
        with open(conf, "w") as f:
            f.write(f"mail_location = mbox:{folder}:INBOX={inbox}\n"
                    f"base_dir = {folder}/run\nlog_path = {folder}/log\nssl = no\n"
                    f"mail_uid = {uid}\nmail_gid = {gid}\nfirst_valid_uid = {uid}\n"
                    f"first_valid_gid = {gid}\n")

        def as_reader():
            if os.getuid() == 0:
                os.setgid(gid)
                os.setuid(uid)

        search = subprocess.run(["doveadm", "-c", conf, "search", "mailbox", "box", "all"],
                                capture_output=True, preexec_fn=as_reader, timeout=60,
                                env=dict(os.environ, HOME=folder, USER="reader"))
        return len(search.stdout.splitlines()) if search.returncode == 0 else -1
    finally:
        shutil.rmtree(folder, True)


READERS = {"formail": formail_count, "mailutils": mailutils_count, "mutt": mutt_count,
           "dovecot": dovecot_count}
