"""A race, tried many times rather than tested once: SIGTERM sent to emlx2mbox as soon as it is
running (its program loaded), before it can have done anything. Each trial ends either as the
program ends a run on a signal (status 143, "interrupted by SIGTERM") or killed outright by the
signal, which happens only while no handler is installed yet.

    python3 tests/cli/trial_early_signal.py EMLX2MBOX [TRIALS]
"""

import os
import signal
import subprocess
import sys
import tempfile


def main():
    tool = os.path.realpath(sys.argv[1])
    trials = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    outcomes = {}
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, "src")
        os.makedirs(source)
        with open(os.path.join(source, "1.emlx"), "wb") as f:
            message = b"From: a@example.org\nSubject: s\n\nbody\n"
            f.write(b"%d\n" % len(message) + message)
        for _ in range(trials):
            process = subprocess.Popen([tool, "-o", os.path.join(tmp, "out"), source],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            # As soon as the program image replaced the child's.
            while True:
                try:
                    if os.readlink(f"/proc/{process.pid}/exe") == tool:
                        break
                except OSError:
                    break
            process.send_signal(signal.SIGTERM)
            _, stderr = process.communicate()
            if process.returncode == -signal.SIGTERM:
                outcome = "killed outright"
            elif process.returncode == 143 and b"interrupted by SIGTERM" in stderr:
                outcome = "ended with its report (143)"
            else:
                outcome = f"status {process.returncode}"
            outcomes[outcome] = outcomes.get(outcome, 0) + 1
    for outcome, count in sorted(outcomes.items()):
        print(f"{count:5d}  {outcome}")


if __name__ == "__main__":
    main()
