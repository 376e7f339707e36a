#!/usr/bin/env python3
"""check_eyecatcher.py IMAGE: the image must carry the header template's eyecatcher
exactly once, or the builder would fill the wrong copy. A failing image is removed."""
import os
import sys

EYECATCHER = b"TRV\x01sfx\x02"

path = sys.argv[1]
with open(path, "rb") as f:
    data = f.read()
count = 0
at = data.find(EYECATCHER)
while at >= 0:
    count += 1
    at = data.find(EYECATCHER, at + 1)
if count != 1:
    print("%s carries the eyecatcher %d times, not once" % (path, count), file=sys.stderr)
    os.remove(path)
    sys.exit(1)
