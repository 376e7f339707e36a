#!/usr/bin/env python3
"""AES archives through a packed stub, the password dialog answered by the robot:
the right password extracts, a wrong one shows 1006 and leaves no file, Cancel
ends the run cleanly. The runs and checks are those of stubtest.py; only the
archives differ (7z writes the AES entries).

usage: crypt_e2e_test.py crypt --wine QL_WINE --launcher QLLAUNCH --stubs DIR --tools DIR --work DIR --fake FAKE
"""
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import stubtest  # noqa: E402
from stubtest import (CAPTION, DIALOG, FLAG_AUTO, FLAG_ENCRYPTED, LEAVE_DIALOG, PASSWORD_DIALOG,  # noqa: E402
                      SETUP_ENTRIES, STANDARD_ENTRIES, Case, all_of, files_are, install, setup_ran,
                      standard)

TEXT_WRONG_PASSWORD = "Incorrect password specified"
NOTHING_OUT = files_are({"out/readme.txt": None, "out/sub/b.txt": None})


def aes(cipher, **kw):
    """A case whose entries 7z encrypts with this cipher and the case's password."""
    case = Case(**kw)
    case.cipher = cipher
    return case


def answer_password(text):
    return ["window", "caption " + PASSWORD_DIALOG, "set 402 " + text, "press 1"]


UNZIP = ["window", "caption " + DIALOG, "press 1"]
# The robot answers each window once, and the main dialog stays after Cancel:
# the driver presses Cancel, then Close (both posted, so taken in this order).
LEAVE_PASSWORD = ["window", "caption " + PASSWORD_DIALOG, "leave"]


def cancelled(run):
    """No message followed Cancel in the password dialog. The driver waits for
    that dialog before it presses Cancel (a run where it never comes ends at
    the deadline); the robot only watches, and may miss a dialog the driver
    closes at once, so its list is not asked for the dialog itself."""
    captions = [w["caption"] for w in run.windows]
    return ["a box after Cancel: %r" % c for c in captions if c == CAPTION]


CANCEL_THEN_CLOSE = ["waitfor", PASSWORD_DIALOG, "click", PASSWORD_DIALOG, "2", "click", "{exe}", "2"]

GROUPS = {
    "crypt": [
        aes("AES256", name="standard, AES-256: the right password unzips", stub="std-aes-en",
            mode="standard", entries=STANDARD_ENTRIES, password="Quolla secret", pack=standard(flags=FLAG_ENCRYPTED),
            args='/AUTO "{dir}\\out"', auto_dialog=True, script=answer_password("Quolla secret") + LEAVE_DIALOG,
            windows=[(DIALOG, "To unzip"), (PASSWORD_DIALOG, "Please type the &password:")],
            check=files_are({"out/readme.txt": "read me", "out/sub/b.txt": "bee"})),
        aes("AES256", name="standard, AES-256: a wrong password, 1006, no file", stub="std-aes-en",
            mode="standard", entries=STANDARD_ENTRIES, password="Quolla secret", pack=standard(flags=FLAG_ENCRYPTED),
            script=UNZIP + answer_password("Quolla secreT"),
            windows=[(DIALOG, "To unzip"), (PASSWORD_DIALOG, "password"), (CAPTION, TEXT_WRONG_PASSWORD)],
            check=NOTHING_OUT),
        aes("AES128", name="standard, AES-128: Cancel unzips nothing", stub="std-aes-en",
            mode="standard", entries=STANDARD_ENTRIES, password="Quolla secret", pack=standard(flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
            processes=3, driver=CANCEL_THEN_CLOSE,
            script=LEAVE_PASSWORD + LEAVE_DIALOG, check=all_of(cancelled, NOTHING_OUT)),
        aes("AES128", name="install, AES-128: the right password runs the setup", stub="inst-aes-en",
            entries=SETUP_ENTRIES, password="Quolla secret", processes=3, temp=[],
            pack=install(arguments="sleep 100", flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
            script=answer_password("Quolla secret") + LEAVE_DIALOG,
            windows=[(DIALOG, "Press Setup"), (PASSWORD_DIALOG, "Please type the &password:")],
            check=setup_ran("setup.exe sleep 100")),
        aes("AES256", name="install, AES-256: a wrong password, 1006, no setup", stub="inst-aes-en",
            entries=SETUP_ENTRIES, password="Quolla secret",
            pack=install(arguments="sleep 100", flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
            script=answer_password("wrong") + LEAVE_DIALOG,
            windows=[(DIALOG, "Press Setup"), (PASSWORD_DIALOG, "password"),
                     (CAPTION, TEXT_WRONG_PASSWORD)],
            check=lambda run: ["the setup ran"] if run.fake else []),
        aes("AES128", name="install, AES-128: Cancel, no setup", stub="inst-aes-en",
            entries=SETUP_ENTRIES, password="Quolla secret",
            pack=install(arguments="sleep 100", flags=FLAG_AUTO | FLAG_ENCRYPTED), auto_dialog=True,
            processes=3, driver=CANCEL_THEN_CLOSE, script=LEAVE_PASSWORD + LEAVE_DIALOG,
            check=all_of(cancelled, lambda run: ["the setup ran"] if run.fake else [])),
    ],
}


class CryptRunner(stubtest.Runner):
    def run(self, case):
        faults = super().run(case)
        if case.windows is None:
            # Without a list of windows the runner counts them against dialog 100
            # and the boxes; the Cancel cases check theirs themselves.
            faults = [f for f in faults if " windows, wanted 0: " not in f]
        return faults

    def archive(self, case, folder):
        cipher = getattr(case, "cipher", None)
        if cipher is None:
            return super().archive(case, folder)
        path = os.path.join(folder, "payload.zip")
        source = os.path.join(folder, "payload")
        for name, data in case.entries:
            full = os.path.join(source, *name.split("/"))
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(self.fake_bytes() if data is stubtest.FAKE else data)
        subprocess.run(["7z", "a", "-bd", "-tzip", "-mem=" + cipher, "-p" + case.password, "-mtc=off", path] +
                       [n for n, _ in case.entries], cwd=source, check=True, timeout=60,
                       stdout=subprocess.DEVNULL)
        return path


if __name__ == "__main__":
    # The start-up runner and its checks, with these groups and archives.
    stubtest.GROUPS = GROUPS
    stubtest.Runner = CryptRunner
    sys.exit(stubtest.main())
