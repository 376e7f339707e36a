#!/usr/bin/env python3
"""Builds under Wine with the real builder, helper library and stubs: each made
self-extractor must pass the layout checker, test clean with `unzip -t` (no
"extra bytes": the offsets really moved), come from the expected stub variant,
carry PE headers that an independent reader (pefile) finds right (the added
section, the image size, the checksum field), the manifest and icons asked
for, and, where it runs, extract the tree that `unzip -d` extracts.

usage: buildtest.py GROUP --wine QL_WINE --launcher QLLAUNCH --fake QLFAKE --builder EXE --helper DLL
                    --help-file CHM --stubs DIR --tools DIR --work DIR
GROUP: table (the build table) or resources (icon, manifest, build log, PE
section, header-record retry).
"""
import argparse
import concurrent.futures
import filecmp
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import time
import wave
import zipfile

import pefile

RUN_DEADLINE = 120
BUILT, BUILD_FAILED = 1, 2
FLAG_PE_SECTION = 0x800
FLAG_SILENT = 0x400000
FLAG_TITLE = 0x10
FLAG_WAIT = 0x4
FLAG_AUTO = 0x200
FLAG_TITLE_CAPTION = 0x40000


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# The fake program's bytes, for archives whose setup.exe is the fake (None).
FAKE_BYTES = b""


def deflated(entries):
    def make(path):
        with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in entries:
                z.writestr(name, FAKE_BYTES if data is None else data)
    return make


def streamed(entries):
    """Entries with deferred sizes: written to a stream that cannot seek."""
    class NoSeek:
        def __init__(self, f):
            self.f = f
        def write(self, b):
            return self.f.write(b)
        def flush(self):
            self.f.flush()
        def tell(self):
            raise OSError("no tell")
        def seek(self, *a):
            raise OSError("no seek")

    def make(path):
        with open(path, "wb") as raw:
            with zipfile.ZipFile(NoSeek(raw), "w", zipfile.ZIP_DEFLATED) as z:
                for name, data in entries:
                    with z.open(name, "w") as member:
                        member.write(data)
    return make


def seven_zip(entries, switches):
    def make(path):
        source = path + ".d"
        os.makedirs(source, exist_ok=True)
        for name, data in entries:
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        subprocess.run(["7z", "a", "-tzip", "-bd", "-y"] + switches + [path] + [n for n, _ in entries],
                       cwd=source, check=True, stdout=subprocess.DEVNULL, timeout=120)
    return make


def wavpack_only(name):
    """A Zip whose one entry is a short WAV file compressed by the wavpack tool
    (method 97), written by the generators' own Zip writer."""
    def make(path):
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wavpack"))
        import zipwriter
        source, packed = path + ".wav", path + ".wv"
        with wave.open(source, "wb") as w:
            w.setnchannels(2)
            w.setsampwidth(2)
            w.setframerate(22050)
            w.writeframes(b"".join(struct.pack("<hh", (i * 37) % 20000 - 10000, (i * 11) % 3000)
                                   for i in range(4000)))
        subprocess.run(["wavpack", "-q", "-y", source, "-o", packed], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        with open(source, "rb") as f:
            plain = f.read()
        with open(packed, "rb") as f:
            data = f.read()
        zipwriter.write_zip(path, [zipwriter.Entry.of(name, 97, data, plain)])
    return make


FILES = [("readme.txt", b"Quolla build test\r\n" * 50), ("sub/b.txt", b"bee" * 300),
         ("empty.txt", b"")]


def stub_variant(image):
    """The variant code in the stub's version resource (its InternalName)."""
    key = "InternalName".encode("utf-16-le")
    at = image.find(key)
    if at < 0:
        return None
    at += len(key)
    while at + 1 < len(image) and image[at:at + 2] == b"\0\0":
        at += 2
    end = at
    while end + 1 < len(image) and image[end:end + 2] != b"\0\0":
        end += 2
    return image[at:end].decode("utf-16-le")


def icon_file(sizes):
    """An icon file of 32-bit images of these sizes, each of its own colour, so
    that no image equals one of the stub's."""
    images = []
    for n, size in enumerate(sizes):
        pixels = bytes([40 * n % 256, 200, 255 - 30 * n, 255]) * (size * size)
        mask = bytes(((size + 31) // 32) * 4 * size)
        header = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        images.append((size, header + pixels + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset + len(body))
        body += data
    return out + body


def icon_images(data):
    """The ICONDIRENTRY fields and image bytes of an icon file."""
    count = struct.unpack_from("<H", data, 4)[0]
    out = []
    for i in range(count):
        fields = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        out.append((fields[:7], data[fields[7]:fields[7] + fields[6]]))
    return out


# A bitmap file is no icon file: the stub keeps its own icon.
BITMAP = b"BM" + struct.pack("<IHHI", 70, 0, 0, 54) + struct.pack("<IiiHHIIiiII", 40, 2, 2, 1, 24, 0, 16, 0, 0, 0, 0) + bytes(16)


class Case:
    def __init__(self, name, make, args, variant, exit_code=BUILT, extract=True, flags_on=0, flags_off=0,
                 crc=True, comment=None, texts=None, tester=None, hold_ms=0, messages=None, zip_name="in.zip",
                 files=None, env=None, icon=None, icon_used=None, manifest=None, log=None, custom_stub=None,
                 setup_fake=False, output_gone=False):
        self.files = files or {}  # more files in the case folder
        self.zip_name = zip_name
        self.tester = tester or ["unzip", "-t"]  # a tool that tests the output as a Zip
        self.hold_ms = hold_ms                   # another process holds the output open meanwhile
        self.messages = messages                 # ids of the builder's boxes, when they matter
        self.name, self.make, self.args, self.variant = name, make, args, variant
        self.exit_code, self.extract, self.flags_on, self.flags_off = exit_code, extract, flags_on, flags_off
        self.crc, self.comment, self.texts = crc, comment, texts
        self.env = env or {}                     # more environment of the builder
        self.icon = icon                         # bytes of {dir}\\icon.ico
        self.icon_used = icon_used               # group 1 holds the icon file's images (else the stub's)
        if manifest is None:
            # An installation build runs as administrator unless told otherwise.
            manifest = "requireAdministrator" if "-runasadmin" in args or (
                "-setup" in args and "-runasuser" not in args) else "asInvoker"
        self.manifest = manifest                 # the level RT_MANIFEST 1 asks for
        self.log = log                           # text the build log held before, or None: no log
        self.custom_stub = custom_stub           # (variant, bytes appended): {dir}\\custom.exe for -f
        self.setup_fake = setup_fake             # setup.exe in the archive is the fake program
        self.output_gone = output_gone           # a failed build leaves no output


CASES = [
    Case("plain standard", deflated(FILES), ["-y", "-silent", "-d", "{out}"], "std-basic-en",
         flags_on=FLAG_PE_SECTION | FLAG_SILENT),
    Case("german", deflated(FILES), ["-y", "-lg", "-silent", "-d", "{out}"], "std-basic-de"),
    Case("-nocrc", deflated(FILES), ["-y", "-nocrc", "-silent", "-d", "{out}"], "std-basic-en", crc=False),
    Case("-noac: no section", deflated(FILES), ["-y", "-noac", "-silent", "-d", "{out}"], "std-basic-en",
         flags_off=FLAG_PE_SECTION),
    Case("non-ASCII title: smallest Unicode-capable", deflated(FILES),
         ["-y", "-st", "T\u00eftle", "-silent", "-d", "{out}"], "std-lzpp-en", flags_on=FLAG_TITLE),
    Case("non-ASCII entry name", deflated([("gr\u00fc\u00dfe.txt", b"hallo")]),
         ["-y", "-silent", "-d", "{out}"], "std-lzpp-en"),
    Case("deferred sizes", streamed(FILES[:2]), ["-y", "-silent", "-d", "{out}"], "std-basic-en"),
    Case("-z comment", deflated(FILES), ["-y", "-z", "{dir}\\comment.txt", "-silent", "-d", "{out}"],
         "std-basic-en", comment=b"line one\nline two is longer\n"),
    Case("installation mode", deflated(FILES + [("setup.exe", b"MZ" + bytes(64))]),
         ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-c", "setup.exe"], "inst-basic-en", extract=False,
         texts={"dialog text": "Press Setup."}),
    # unzip knows neither PPMd nor AES: 7-Zip tests the result.
    Case("AES with PPMd: full", seven_zip(FILES[:1], ["-mm=PPMd", "-mem=AES256", "-psecret"]),
         ["-y", "-silent", "-d", "{out}"], "std-full-en", extract=False,
         tester=["7z", "t", "-psecret", "-bd"]),
    # unzip cannot decode WavPack: it lists the result, which still shows
    # offsets that were not shifted.
    Case("WavPack alone: full", wavpack_only("tone.wav"), ["-y", "-silent", "-d", "{out}"], "std-full-en",
         extract=False, tester=["unzip", "-l"]),
    Case("-auto", deflated(FILES), ["-y", "-auto", "-silent", "-d", "{out}"], "std-basic-en",
         flags_on=FLAG_AUTO),
    Case("-wait and -sta, installation mode", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-wait", "prog", "-sta", "My Setup", "-c", "setup.exe"],
         "inst-basic-en", extract=False, flags_on=FLAG_WAIT | FLAG_TITLE | FLAG_TITLE_CAPTION,
         texts={"title": "My Setup"}),
    Case("German installation mode", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-lg", "-setup", "-t", "{dir}\\dialog.txt", "-c", "setup.exe"], "inst-basic-de", extract=False),
    # The builder waits up to 8 s for its output; these holds start before
    # the builder and leave it a wide margin either way.
    Case("output held open for 3 s: still written", deflated(FILES), ["-y", "-silent", "-d", "{out}"],
         "std-basic-en", hold_ms=3000),
    Case("output held open far longer: refused", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED,
         extract=False, hold_ms=20000, messages=[1046]),
    # Each text within its own limit, all of them past the block's.
    Case("texts too long together: refused with a message", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-setup", "-t", "{dir}\\long.txt", "-m", "{dir}\\greeting.txt", "-a", "{dir}\\about.txt",
          "-st", "t" * 60, "-c", "setup.exe " + "x" * 200], None, exit_code=BUILD_FAILED, extract=False,
         messages=[6340], files={"greeting.txt": b"g" * 500, "about.txt": b"a" * 250, "long.txt": b"d" * 250}),
    Case("bad extension", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED, extract=False,
         zip_name="in.zap", messages=[1039]),
]


SETUP_FILES = FILES + [("setup.exe", None)]  # None: the fake program's bytes
SILENT = ["-y", "-silent", "-d", "{out}"]
INSTALL = ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-auto"]
LOG_TEXT = "an earlier build\r\n"

RESOURCE_CASES = [
    # The stub's group 1 holds three images.
    Case("icon of 1 image for a group of 3", deflated(FILES), SILENT + ["-i", "{dir}\\icon.ico"], "std-basic-en",
         icon=icon_file([32]), icon_used=True),
    Case("icon of 3 images", deflated(FILES), SILENT + ["-i", "{dir}\\icon.ico"], "std-basic-en",
         icon=icon_file([48, 32, 16]), icon_used=True),
    Case("icon of 5 images: two new ids", deflated(FILES), SILENT + ["-i", "{dir}\\icon.ico"], "std-basic-en",
         icon=icon_file([64, 48, 32, 24, 16]), icon_used=True),
    Case("bitmap as icon: 6050, stub icon kept", deflated(FILES), SILENT + ["-i", "{dir}\\icon.ico"],
         "std-basic-en", icon=BITMAP, icon_used=False, messages=[6050]),
    Case("-runasadmin, standard mode", deflated(FILES), SILENT + ["-runasadmin"], "std-basic-en"),
    Case("installation mode runs as administrator, with an icon", deflated(SETUP_FILES),
         INSTALL + ["-i", "{dir}\\icon.ico", "-c", "setup.exe"], "inst-basic-en", setup_fake=True,
         icon=icon_file([48, 32, 16, 24]), icon_used=True),
    Case("installation mode -runasuser", deflated(SETUP_FILES), INSTALL + ["-runasuser", "-c", "setup.exe"],
         "inst-basic-en", setup_fake=True),
    Case("-v: the build log, standard mode", deflated(FILES), SILENT + ["-v"], "std-basic-en", log=""),
    Case("-v appends to the log, installation mode", deflated(SETUP_FILES),
         INSTALL + ["-v", "-c", "setup.exe"], "inst-basic-en", log=LOG_TEXT, extract=False),
    Case("-v with a log that cannot be opened: 1041", deflated(FILES), ["-y", "-v"], None,
         exit_code=BUILD_FAILED, messages=[1041], files={"in.LOG/x": b""}, output_gone=True),
    # A stub image that does not end on the file alignment: the section starts
    # at the next boundary and still reaches the end of the file.
    Case("-f stub off the file alignment", deflated(FILES), SILENT + ["-f", "{dir}\\custom.exe"], "std-basic-en",
         custom_stub=("std-basic-en", b"\0" * 100), flags_on=FLAG_PE_SECTION),
    Case("header record refused once, 1061 OK: written again", deflated(FILES), SILENT, "std-basic-en",
         env={"QL_FAIL_RECORD_WRITES": "1", "QL_MESSAGE_ANSWERS": "1061=ok"}, messages=[1061]),
    Case("header record refused, 1061 Cancel: no output", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED,
         env={"QL_FAIL_RECORD_WRITES": "1", "QL_MESSAGE_ANSWERS": "1061=cancel"}, messages=[1061],
         output_gone=True),
]

GROUPS = {"table": CASES, "resources": RESOURCE_CASES}


def round_up(value, unit):
    return (value + unit - 1) // unit * unit


def resources(pe):
    """{(type, id or name): {language: bytes}} of a PE image."""
    out = {}
    for kind in getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None).entries:
        type_key = kind.id if kind.id is not None else str(kind.name)
        for entry in kind.directory.entries:
            key = entry.id if entry.id is not None else str(entry.name)
            for lang in entry.directory.entries:
                d = lang.data.struct
                out.setdefault((type_key, key), {})[lang.id] = pe.get_data(d.OffsetToData, d.Size)
    return out


def group_ids(group):
    count = struct.unpack_from("<H", group, 4)[0]
    return [struct.unpack_from("<H", group, 6 + 14 * i + 12)[0] for i in range(count)]


RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


def pe_faults(data, rec, stub):
    """The PE headers of a built file, read by pefile, against the stub image
    it came from and the header record."""
    pe = pefile.PE(data=data)
    faults = ["pefile: %s" % w for w in pe.get_warnings()]
    base = pefile.PE(data=stub)
    opt = pe.OPTIONAL_HEADER
    fa, sa = opt.FileAlignment, opt.SectionAlignment
    sections = pe.sections
    names = [s.Name for s in sections]
    stub_names = [s.Name for s in base.sections]
    # Where the Zip data ends: the end record and its comment.
    end = rec["end_record_offset"] + 22 + struct.unpack_from("<H", data, rec["end_record_offset"] + 20)[0]
    if not rec["flags"] & FLAG_PE_SECTION:
        if names != stub_names or len(data) != end:
            faults.append("sections %r (stub %r), file of %d bytes for data ending at %d" %
                          (names, stub_names, len(data), end))
        return faults
    if names[:-1] != stub_names or names[-1] != b"_quolla_" or pe.FILE_HEADER.NumberOfSections != len(stub_names) + 1:
        return faults + ["sections %r, wanted the stub's %r and _quolla_" % (names, stub_names)]
    section = sections[-1]
    stub_end = max(s.VirtualAddress + s.Misc_VirtualSize for s in sections[:-1])
    length = end - rec["stub_length"]
    wanted = {
        "VirtualAddress": round_up(stub_end, sa),
        "VirtualSize": round_up(length, sa),
        "PointerToRawData": round_up(rec["stub_length"], fa),
        "SizeOfRawData": round_up(length, fa),
        "Characteristics": 0x42000040,
    }
    got = {"VirtualAddress": section.VirtualAddress, "VirtualSize": section.Misc_VirtualSize,
           "PointerToRawData": section.PointerToRawData, "SizeOfRawData": section.SizeOfRawData,
           "Characteristics": section.Characteristics}
    for field, value in wanted.items():
        if got[field] != value:
            faults.append("section %s 0x%x, wanted 0x%x" % (field, got[field], value))
    if opt.SizeOfImage != wanted["VirtualAddress"] + wanted["VirtualSize"]:
        faults.append("SizeOfImage 0x%x, wanted 0x%x" % (opt.SizeOfImage, wanted["VirtualAddress"] + wanted["VirtualSize"]))
    if opt.CheckSum != 0:
        faults.append("checksum field 0x%x, wanted 0" % opt.CheckSum)
    if len(data) != section.PointerToRawData + section.SizeOfRawData or data[end:].strip(b"\0"):
        faults.append("file of %d bytes, the section ends at %d; padding from %d" %
                      (len(data), section.PointerToRawData + section.SizeOfRawData, end))
    return faults


def resource_faults(case, data, stub, folder):
    """The manifest RT_MANIFEST 1 asks for, and group icon 1 with its images."""
    faults = []
    got, before = resources(pefile.PE(data=data)), resources(pefile.PE(data=stub))
    manifest = got.get((RT_MANIFEST, 1), {})
    level = re.search(rb'requestedExecutionLevel level="([A-Za-z]+)"', manifest.get(1033, b""))
    if list(manifest) != [1033] or not level or level.group(1).decode() != case.manifest:
        faults.append("RT_MANIFEST 1 in languages %r asks for %r, wanted %s" %
                      (list(manifest), level and level.group(1), case.manifest))
    if got.get(("QL_MANIFEST", "ADMIN_MANIFEST")) != before.get(("QL_MANIFEST", "ADMIN_MANIFEST")):
        faults.append("the administrator manifest changed")
    old_group = before[(RT_GROUP_ICON, 1)][1033]
    old_ids = group_ids(old_group)
    icons = {key[1] for key in got if key[0] == RT_ICON}
    old_icons = {key[1] for key in before if key[0] == RT_ICON}
    group = got.get((RT_GROUP_ICON, 1), {})
    if list(group) != [1033]:
        return faults + ["group icon 1 in languages %r" % list(group)]
    group = group[1033]
    if not case.icon_used:
        if group != old_group or icons != old_icons or any(got[(RT_ICON, i)] != before[(RT_ICON, i)] for i in icons):
            faults.append("the stub's icon changed")
        return faults
    images = icon_images(case.icon)
    ids = old_ids[:len(images)] + list(range(max(old_ids) + 1, max(old_ids) + 1 + len(images) - len(old_ids)))
    if group_ids(group) != ids or len(group) != 14 * len(ids) + 20:
        faults.append("group icon 1 names %r in %d bytes, wanted %r" % (group_ids(group), len(group), ids))
        return faults
    for i, (fields, image) in enumerate(images):
        entry = struct.unpack_from("<BBBBHHI", group, 6 + 14 * i)
        if entry != fields or got.get((RT_ICON, ids[i]), {}).get(1033) != image:
            faults.append("icon %d: entry %r, wanted %r, or its image differs" % (ids[i], entry, fields))
    # The images the new group no longer names are deleted. Wine's
    # EndUpdateResourceW keeps an existing resource that the update deletes:
    # such a leftover must at least be the stub's image, named by no group.
    named = {i for key, langs in got.items() if key[0] == RT_GROUP_ICON for i in group_ids(langs[1033])}
    for i in set(old_ids) - set(ids):
        if i in icons and (i in named or got[(RT_ICON, i)] != before[(RT_ICON, i)]):
            faults.append("icon %d was not deleted: %s" % (i, "a group names it" if i in named else "it changed"))
    wanted = (old_icons - set(old_ids)) | set(ids)
    if not wanted <= icons <= wanted | set(old_ids):
        faults.append("icon ids %r, wanted %r" % (sorted(icons), sorted(wanted)))
    return faults


def log_faults(case, folder, rec):
    """The build log: the earlier text, then one line per step, the CRC line
    with the header record's CRC."""
    path = os.path.join(folder, "in.LOG")
    if not os.path.exists(path):
        return ["no build log"]
    text = open(path, "rb").read().decode("cp1252")
    if not text.startswith(case.log):
        return ["the log lost its earlier text: %r" % text]
    when = r"\w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}"
    zip_name, exe = re.escape(winpath(os.path.join(folder, "in.zip"))), re.escape(winpath(os.path.join(folder, "in.exe")))
    wanted = [
        "Quolla Self-Extractor started at " + when,
        "Zip file %s validated for Quolla Self-Extractor" % zip_name,
        re.escape("Writing SFX header to result file."),
        re.escape("SFX header written to result file."),
        re.escape("Copying Zip file to result file."),
        re.escape("Copying complete. Updating Eyecatcher."),
        "Zivevevoz CRC",
        "CRC value for SFX header is %08X" % rec["crc32"],
        "Quolla Self-Extractor Done - created %s at %s\\." % (exe, when),
    ]
    lines = text[len(case.log):].split("\r\n")
    if lines[-1] != "" or len(lines) != len(wanted) + 1:
        return ["the log holds %r" % text]
    return ["log line %r, wanted %r" % (line, want) for line, want in zip(lines, wanted) if not re.fullmatch(want, line)]


def launch(args, options, folder, line):
    """Runs the command line in the file `line` through the launcher and its
    robot: (exit code, output). The launcher's log holds the code its run
    ended with; under an emulator Wine may kill the launcher's process on its
    way out after that, which loses nothing of the run."""
    log = os.path.join(folder, "log.jsonl")
    run = subprocess.run([args.wine, args.launcher, "-timeout", str(RUN_DEADLINE)] + options +
                         ["-log", log, "-cmdfile", line],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE + 60)
    code = run.returncode
    if code == 128 + 9:
        try:
            with open(log, encoding="utf-8") as f:
                ends = [e["code"] for e in map(json.loads, f) if e["event"] == "end"]
        except OSError:
            ends = []
        if ends:
            code = ends[-1]
    return code, run.stdout.decode("utf-8", "replace")


class Runner:
    def __init__(self, args):
        self.args = args
        shutil.rmtree(args.work, ignore_errors=True)
        os.makedirs(args.work)
        # The distribution layout: builder, helper library and help file side by side.
        self.dist = os.path.join(args.work, "dist")
        os.makedirs(self.dist)
        for path, name in ((args.builder, "qlxtra32.exe"), (args.helper, "QLSE32.DLL"),
                           (args.help_file, "quollase.chm")):
            shutil.copyfile(path, os.path.join(self.dist, name))
        global FAKE_BYTES
        with open(args.fake, "rb") as f:
            FAKE_BYTES = f.read()

    def stub(self, variant):
        with open(os.path.join(self.args.stubs, "SFXHDR_%s.exe" % variant), "rb") as f:
            return f.read()

    def unix_path(self, windows_path):
        """C:\\... inside the prefix, or Z:\\..., as a Unix path."""
        drive, rest = windows_path[:2].upper(), windows_path[3:].split("\\")
        if drive == "C:":
            return os.path.join(self.args.wine_state, "prefix", "drive_c", *rest)
        return "/" + "/".join(rest) if drive == "Z:" else None

    def run(self, case):
        folder = os.path.join(self.args.work, case.name.replace(" ", "_").replace(":", "").replace("/", "_"))
        os.makedirs(folder)
        zip_path = os.path.join(folder, case.zip_name)
        case.make(zip_path)
        with open(os.path.join(folder, "dialog.txt"), "w") as f:
            f.write("Press Setup.")
        for name, data in case.files.items():
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        if case.comment is not None:
            with open(os.path.join(folder, "comment.txt"), "wb") as f:
                f.write(case.comment)
        if case.icon is not None:
            with open(os.path.join(folder, "icon.ico"), "wb") as f:
                f.write(case.icon)
        if case.custom_stub is not None:
            with open(os.path.join(folder, "custom.exe"), "wb") as f:
                f.write(self.stub(case.custom_stub[0]) + case.custom_stub[1])
        if case.log:
            with open(os.path.join(folder, "in.LOG"), "wb") as f:
                f.write(case.log.encode("cp1252"))
        out_dir = os.path.join(folder, "out")
        holder = None
        if case.hold_ms:
            exe = os.path.join(folder, "in.exe")
            with open(exe, "wb") as f:
                f.write(b"old")
            holder = subprocess.Popen([self.args.wine, self.args.fake, "hold", winpath(exe), str(case.hold_ms)],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(2)
        args = [a.replace("{out}", winpath(out_dir)).replace("{dir}", winpath(folder)) for a in case.args]
        log = os.path.join(folder, "messages.log")
        env = dict(os.environ, QL_MESSAGE_LOG=winpath(log), **case.env)
        builder = os.path.join(self.dist, "qlxtra32.exe")
        run = subprocess.run([self.args.wine, builder, winpath(zip_path)] + args, env=env, cwd=folder,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE)
        messages = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
        if holder is not None:
            holder.wait(timeout=RUN_DEADLINE)
        faults = []
        ids = [int(line.split("\t", 1)[0]) for line in messages.splitlines() if line.strip()]
        if case.messages is not None and ids != case.messages:
            faults.append("messages %s, wanted %s: %r" % (ids, case.messages, messages))
        if run.returncode != case.exit_code:
            return faults + ["exit code %d, wanted %d; messages %r" % (run.returncode, case.exit_code, messages)]
        exe = os.path.join(folder, "in.exe")
        if case.exit_code != BUILT:
            if case.output_gone and os.path.exists(exe):
                faults.append("the failed build left %s behind" % exe)
            return faults
        check = subprocess.run([sys.executable, os.path.join(self.args.tools, "sfxcheck.py"), exe, "--json"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if check.returncode != 0:
            return ["checker: %s" % check.stdout.decode()]
        result = json.loads(check.stdout)
        rec = result["record"]
        variant = stub_variant(open(exe, "rb").read()[:rec["stub_length"]])
        if variant != case.variant:
            faults.append("stub %s, wanted %s" % (variant, case.variant))
        with open(exe, "rb") as f:
            data = f.read()
        stub = self.stub(case.variant)
        faults += pe_faults(data, rec, stub)
        faults += resource_faults(case, data, stub, folder)
        if case.log is not None:
            faults += log_faults(case, folder, rec)
        if rec["flags"] & case.flags_on != case.flags_on or rec["flags"] & case.flags_off:
            faults.append("flags 0x%x" % rec["flags"])
        if (rec["crc32"] != 0) != case.crc:
            faults.append("CRC 0x%x" % rec["crc32"])
        for name, data in case.files.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(data)
        if case.comment is not None:
            data = open(exe, "rb").read()
            at = rec["comment_offset"]
            if data[at:at + len(case.comment)] != case.comment or rec["comment_lines"] != 2 or \
                    rec["comment_longest_line"] != len("line two is longer"):
                faults.append("comment not where the record says")
        for name, text in (case.texts or {}).items():
            fields = dict(zip(["about", "command", "arguments", "reserved", "dialog text", "title",
                               "greeting", "options"] if result["mode"] == "install" else
                              ["folder", "program", "arguments", "reserved", "greeting", "title",
                               "about", "options"], result["texts"]))
            if fields.get(name) != text:
                faults.append("%s = %r" % (name, fields.get(name)))
        test = subprocess.run(case.tester + [exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=60)
        text = test.stdout.decode("utf-8", "replace")
        if test.returncode != 0 or "extra bytes" in text:
            faults.append("%s: %s" % (" ".join(case.tester), text))
        if case.extract and not faults:
            if case.setup_fake:
                faults += self.extract_setup(folder, exe)
            else:
                faults += self.extract(folder, exe, zip_path, out_dir)
        return faults

    def extract_setup(self, folder, exe):
        """An installation build: the stub presses Setup itself (-auto), the
        fake setup runs once in a temporary folder that is gone afterwards."""
        line = os.path.join(folder, "line.txt")
        with open(line, "w", encoding="utf-8", newline="") as f:
            f.write('"%s"' % winpath(exe))
        script = os.path.join(folder, "script.txt")
        with open(script, "w") as f:
            f.write("default cancel 300\nwindow\ncaption Self-Extractor - \nrepeat\nleave\n")
        fake_log = os.path.join(folder, "fake.jsonl")
        code, output = launch(self.args, ["-script", script, "-env", "QLFAKE_LOG=" + winpath(fake_log)], folder, line)
        if code != 0:
            return ["stub ended with %d: %s" % (code, output)]
        try:
            with open(fake_log, encoding="utf-8") as f:
                runs = [json.loads(l) for l in f]
        except OSError:
            runs = []
        if len(runs) != 1 or not re.search(r"\\QLSE\d+\.TMP\\?$", runs[0]["folder"], re.IGNORECASE):
            return ["the setup ran %r, wanted once in a temporary folder" % runs]
        path = self.unix_path(runs[0]["folder"])
        if path is None or os.path.exists(path):
            return ["the temporary folder %r is still there" % runs[0]["folder"]]
        return []

    def extract(self, folder, exe, zip_path, out_dir):
        line = os.path.join(folder, "line.txt")
        with open(line, "w", encoding="utf-8", newline="") as f:
            f.write('"%s"' % winpath(exe))
        script = os.path.join(folder, "script.txt")
        with open(script, "w") as f:
            f.write("default cancel 300\n")
        code, output = launch(self.args, ["-script", script], folder, line)
        if code != 0:
            return ["stub ended with %d: %s" % (code, output)]
        wanted = os.path.join(folder, "unzipped")
        subprocess.run(["unzip", "-q", "-d", wanted, zip_path], check=True, timeout=60)
        compare = filecmp.dircmp(wanted, out_dir)
        faults = []

        def walk(c, prefix):
            for name in c.left_only + c.right_only + c.diff_files + c.funny_files:
                faults.append("tree differs at %s%s" % (prefix, name))
            for name, sub in c.subdirs.items():
                walk(sub, prefix + name + "/")
        walk(compare, "")
        return faults


def main(argv):
    parser = argparse.ArgumentParser()
    parser.add_argument("group", choices=sorted(GROUPS))
    for name in ("wine", "wine-state", "launcher", "fake", "builder", "helper", "help-file", "stubs", "tools",
                 "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args(argv)
    runner = Runner(args)
    failed = 0
    cases = GROUPS[args.group]
    with concurrent.futures.ThreadPoolExecutor(4) as pool:
        for case, faults in zip(cases, pool.map(runner.run, cases)):
            print("%s %s" % ("ok  " if not faults else "FAIL", case.name))
            for fault in faults:
                print("     " + fault)
            failed += bool(faults)
    print("%d of %d builds failed" % (failed, len(cases)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
