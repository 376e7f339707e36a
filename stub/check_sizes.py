#!/usr/bin/env python3
"""check_sizes.py [--builder IMAGE] CODE=LIMIT=IMAGE...: prints every stub image's
size against its limit (the size of the original image it replaces) and fails
when one is larger, so that size cannot creep back; the builder, which carries
all of them, is printed too."""
import os
import sys


def main(argv):
    builder = None
    rows = []
    args = list(argv)
    while args:
        arg = args.pop(0)
        if arg == "--builder":
            builder = args.pop(0)
            continue
        code, limit, path = arg.split("=", 2)
        rows.append((code, int(limit), path))

    over = []
    print("%-16s %10s %10s %6s" % ("stub image", "bytes", "original", "ratio"))
    total = 0
    for code, limit, path in rows:
        size = os.path.getsize(path)
        total += size
        mark = "  TOO LARGE" if size > limit else ""
        print("%-16s %10s %10s %6.2f%s" % (code, "{:,}".format(size), "{:,}".format(limit),
                                          size / limit, mark))
        if size > limit:
            over.append(code)
    print("%-16s %10s" % ("all images", "{:,}".format(total)))
    if builder is not None:
        print("%-16s %10s" % ("qlxtra32", "{:,}".format(os.path.getsize(builder))))
    if over:
        print("stub images larger than the originals they replace: %s" % ", ".join(over),
              file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
