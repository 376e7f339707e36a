"""Runs a program under Wine through the launcher (qllaunch), for the test harnesses.

On a loaded machine wineserver kills a process whose Unix side has not gone a
second after its last thread ended, so the launcher may die of SIGKILL (137
through ql-wine) after the run itself ended well.  The launcher has already
written the run's end and its exit code to the run log by then, so that code is
taken; a run whose log holds no end keeps the 137.
"""

import json
import os
import subprocess
import tempfile

KILLED = (137, -9)


def end_code(log_path):
    """The exit code of the run log's end record, or None."""
    try:
        with open(log_path, encoding="utf-8") as f:
            for line in f:
                try:
                    record = json.loads(line)
                except ValueError:
                    continue
                if record.get("event") == "end":
                    return record.get("code")
    except OSError:
        pass
    return None


def named_log(options):
    """The log path of the launcher's own options (those before "--"), or None."""
    for i, option in enumerate(options):
        if option == "--":
            break
        if option == "-log" and i + 1 < len(options):
            return options[i + 1]
    return None


def launch(wine, launcher, options, **kwargs):
    """subprocess.run of the launcher with these options; when they name no
    run log, one is kept in a temporary file for the exit code."""
    options = list(options)
    log = named_log(options)
    own = None
    if log is None:
        handle, own = tempfile.mkstemp(suffix=".jsonl")
        os.close(handle)
        log = own
        options = ["-log", log] + options
    try:
        done = subprocess.run([wine, launcher] + options, **kwargs)
        if done.returncode in KILLED:
            code = end_code(log)
            if code is not None:
                done.returncode = code
        return done
    finally:
        if own is not None:
            os.unlink(own)
