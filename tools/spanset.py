#!/usr/bin/env python3
"""spanset.py: make a spanned self-extracting set on "disks" (folders), without the builder.

A test tool, not shipped. It packs the stub and the Zip as sfxpack.py does
(spanning flag set, no CRC), then cuts the archive's bytes into parts, one a
disk: disk N is the folder OUT/diskN with the part under the set's name and
the volume label "PKBACK# 00N" in .windows-label (where Wine reads a drive's
label from).

  spanset.py STUB ZIP OUT --form exe|zip --name BIG --cut 40000,80000 [sfxpack options]

--form exe: every part is NAME.EXE; disk 1's holds the stub and the texts in
front of the archive's first bytes (the header's Zip-on-first-disk flag).
--form zip: disk 1 holds NAME.EXE (stub and texts only) and every disk the
part NAME.ZIP, the first read from its offset 0.
--cut: offsets in the archive (the Zip's own bytes) where a new disk begins;
--cut-at-data NAME also cuts where the data of entry NAME begins, so that
its local header ends exactly at the end of a part.
Prints one line a disk: its folder and part sizes.
"""

import argparse
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sfxpack  # noqa: E402

FLAG_SPANNING = 0x1000
FLAG_ZIP_ON_FIRST_DISK = 0x8000


def data_offset(zipdata, name):
    """Where the data of entry `name` begins in the Zip (behind its local header)."""
    at = 0
    while True:
        at = zipdata.find(sfxpack.SIG_LOCAL, at)
        if at < 0:
            raise sfxpack.Refused("no local header for %r" % name)
        name_len, extra_len = struct.unpack_from("<HH", zipdata, at + 26)
        if zipdata[at + 30:at + 30 + name_len].decode("cp437") == name:
            return at + 30 + name_len + extra_len
        at += 4


def label(disk):
    return "PKBACK# %03d" % disk


def write_disk(out, disk, files):
    folder = os.path.join(out, "disk%d" % disk)
    os.makedirs(folder, exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)
    with open(os.path.join(folder, ".windows-label"), "w") as f:
        f.write(label(disk) + "\n")
    print("%s %s" % (folder, " ".join("%s=%d" % (n, len(d)) for n, d in files.items())))


def make(stub, zipdata, out, form, name, cuts, mode, texts, flags):
    flags |= FLAG_SPANNING
    if form == "exe":
        flags |= FLAG_ZIP_ON_FIRST_DISK
    whole = sfxpack.pack(stub, zipdata, mode, texts, flags, crc=False)
    head = sfxpack.u32(whole, whole.find(sfxpack.EYECATCHER) + 12)  # the archive offset
    # sfxpack raised the offsets for an archive behind the stub; a plain
    # Zip set keeps the archive's own.
    archive = whole[head:] if form == "exe" else zipdata
    cuts = sorted(set(c for c in cuts if 0 < c < len(archive)))
    bounds = [0] + cuts + [len(archive)]
    parts = [archive[bounds[i]:bounds[i + 1]] for i in range(len(bounds) - 1)]
    exe, part = name + ".EXE", name + (".EXE" if form == "exe" else ".ZIP")
    for disk, data in enumerate(parts, 1):
        files = {}
        if disk == 1:
            files[exe] = whole[:head] + (data if form == "exe" else b"")
        if form == "zip" or disk > 1:
            files[part] = data
        write_disk(out, disk, files)
    return len(parts)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("stub")
    parser.add_argument("zip")
    parser.add_argument("out")
    parser.add_argument("--form", choices=["exe", "zip"], required=True)
    parser.add_argument("--name", default="SET")
    parser.add_argument("--cut", default="", help="archive offsets, comma-separated")
    parser.add_argument("--cut-at-data", action="append", default=[], metavar="ENTRY")
    parser.add_argument("--mode", choices=sorted(sfxpack.FIELDS), default="standard")
    for field in sorted(set(sfxpack.FIELDS["install"] + sfxpack.FIELDS["standard"]) - {"reserved"}):
        parser.add_argument("--" + field.replace("_", "-"), dest=field, default="")
    parser.add_argument("--flags", type=sfxpack.number, default=0)
    args = parser.parse_args(argv)
    try:
        with open(args.stub, "rb") as f:
            stub = f.read()
        with open(args.zip, "rb") as f:
            zipdata = f.read()
        cuts = [int(c, 0) for c in args.cut.split(",") if c]
        cuts += [data_offset(zipdata, entry) for entry in args.cut_at_data]
        texts = {n: getattr(args, n, "") for n in sfxpack.FIELDS[args.mode] if n != "reserved"}
        make(stub, zipdata, args.out, args.form, args.name, cuts, args.mode, texts, args.flags)
    except (sfxpack.Refused, OSError, ValueError) as e:
        print("spanset: %s" % e, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
