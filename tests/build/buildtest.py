#!/usr/bin/env python3
"""Builds under Wine with the real builder, helper library and stubs: each made
self-extractor must pass the layout checker, test clean with `unzip -t` (no
"extra bytes": the offsets really moved), come from the expected stub variant,
carry PE headers that an independent reader (pefile) finds right (the added
section, the image size, the checksum field), the manifest and icons asked
for, and, where it runs, extract the tree that `unzip -d` extracts.

Cases that need other code pages run the builder and the stub in a UTF-8 locale
of their own, generated once into a folder beside the work folder.

usage: buildtest.py GROUP --wine QL_WINE --wine-state DIR --launcher QLLAUNCH --fake QLFAKE --builder EXE
                    --helper DLL --help-file CHM --stubs DIR --tools DIR --native-build DIR --work DIR
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
import zlib
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wintools"))
from launch import launch  # noqa: E402

import pefile

RUN_DEADLINE = 120
BUILT, BUILD_FAILED = 1, 2
FLAG_PE_SECTION = 0x800
FLAG_SILENT = 0x400000
FLAG_TITLE = 0x10
FLAG_WAIT = 0x4
FLAG_AUTO = 0x200
FLAG_TITLE_CAPTION = 0x40000
FLAG_OPTION_3 = 0x1
FLAG_OVERWRITE = 0x2
FLAG_LONG_NAMES = 0x8
FLAG_OPTION_K = 0x400
FLAG_NO_ABOUT = 0x2000
FLAG_COMMAND_SPLIT = 0x10000
FLAG_INSTALL_INF = 0x20000
FLAG_GREETING_BUTTONS = 0x80000
FLAG_GREETING_OK_CANCEL = 0x100000
FLAG_PASS_ARGV0 = 0x200000
MSG_LIBRARY_ERROR = 1080     # "Error (%i): %s", a refusal of the helper library
MSG_ZIP_NAME = 1073
MSG_NO_ZIP_NAME = 1017
MSG_VALIDATION = 6324
REFUSED = 3                  # the command line was refused
JAPANESE = "ja_JP.UTF-8"     # ANSI and OEM code page 932


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
        z = zipwriter()
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
        z.write_zip(path, [z.Entry.of(name, 97, data, plain)])
    return make


def zipwriter():
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "wavpack"))
    import zipwriter as module
    return module


def stored_names(entries):
    """Stored entries whose names are given as the bytes to store (no UTF-8
    flag): names in the code page of the tool that wrote them."""
    def make(path):
        z = zipwriter()
        z.write_zip(path, [z.Entry.of(name, 0, data, data) for name, data in entries])
    return make


def hidden_entry(path):
    """A stored entry whose data is a whole local record of a second entry,
    and a directory that lists both: the stub's walk meets only the first."""
    def record(name, data):
        return struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, zlib.crc32(data), len(data), len(data),
                           len(name), 0) + name + data

    def central(name, data, offset):
        return struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0, zlib.crc32(data), len(data),
                           len(data), len(name), 0, 0, 0, 0, 0, offset) + name
    inner = record(b"hidden.txt", b"not extracted")
    body = record(b"outer.bin", inner)
    directory = central(b"outer.bin", inner, 0) + central(b"hidden.txt", b"not extracted", 30 + 9)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 2, 2, len(directory), len(body), 0)
    with open(path, "wb") as f:
        f.write(body + directory + end)


NATIVE_BUILD = None  # the native build tree, for the test encoders (--native-build)


def jpeg_method(name):
    """A Zip with one JPEG-method entry (method 96), made by the native test
    encoder from a small picture that cjpeg writes."""
    def make(path):
        ppm, jpg = path + ".ppm", path + ".jpg"
        with open(ppm, "wb") as f:
            f.write(b"P6\n32 24\n255\n" + bytes(v for y in range(24) for x in range(32)
                                                for v in (x * 8 % 256, y * 10 % 256, (x ^ y) * 7 % 256)))
        subprocess.run(["cjpeg", "-quality", "80", "-outfile", jpg, ppm], check=True, timeout=60)
        subprocess.run([os.path.join(NATIVE_BUILD, "tools", "jpeg", "jpegzip"), jpg, path, name], check=True,
                       stdout=subprocess.DEVNULL, timeout=60)
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
                 crc=True, comment=None, texts=None, tester=None, hold_ms=0, messages=None, zip_name="in.zip", files=None,
                 raw=None, locale=None, tree=None, env=None, icon=None, icon_used=None, manifest=None, log=None,
                 custom_stub=None, setup_fake=False):
        self.files = files or {}  # more files in the case folder
        self.zip_name = zip_name
        self.tester = tester or ["unzip", "-t"]  # a tool that tests the output as a Zip
        self.hold_ms = hold_ms                   # another process holds the output open meanwhile
        self.messages = messages                 # ids of the builder's boxes, when they matter
        # The builder's arguments behind the Zip name as one raw line, which
        # reaches the builder exactly as written (no quoting by Wine), in
        # place of `args`.
        self.raw = raw
        self.locale = locale                     # a UTF-8 locale for the builder and the stub
        self.tree = tree                         # name -> bytes the stub must extract, in place of unzip's tree
        self.name, self.make, self.args, self.variant = name, make, args, variant
        self.exit_code, self.extract, self.flags_on, self.flags_off = exit_code, extract, flags_on, flags_off
        self.crc, self.comment, self.texts = crc, comment, texts
        self.env = env or {}                     # more environment of the builder
        self.icon = icon                         # bytes of {dir}\\icon.ico
        self.icon_used = icon_used               # group 1 holds the icon file's images (else the stub's)
        if manifest is None:
            # An installation build runs as administrator unless told otherwise.
            words = (args or []) + (raw or "").split()
            manifest = "requireAdministrator" if "-runasadmin" in words or (
                "-setup" in words and "-runasuser" not in words) else "asInvoker"
        self.manifest = manifest                 # the level RT_MANIFEST 1 asks for
        self.log = log                           # text the build log held before, or None: no log
        self.custom_stub = custom_stub           # (variant, bytes appended): {dir}\\custom.exe for -f
        self.setup_fake = setup_fake             # setup.exe in the archive is the fake program


AES = ["-mem=AES256", "-psecret"]
SEVEN_ZIP_TEST = ["7z", "t", "-psecret", "-bd"]
INSTALL = ["-setup", "-t", "{dir}\\dialog.txt"]
SETUP = [("setup.exe", b"MZ")]
UNICODE_TEXT = "\ufeffGr\u00fc\u00dfe".encode("utf-8")   # a text file that needs a Unicode-capable stub
GREETING_FLAGS = FLAG_GREETING_BUTTONS | FLAG_GREETING_OK_CANCEL
SJIS_NAMES = [("\u30dd\u30fc\u30c8.txt", b"port"),        # trail byte 0x7C, '|' when read as Latin-1
              ("\u8868/\u65e5\u672c\u8a9e\u3067\u3059.txt", b"nihongo")]  # 8.3 in characters, not in bytes
CP437_NAMES = [("gr\u00fc\u00dfe.txt", b"hallo"), ("\u00c9lan/\u00dcbung.txt", b"practice")]

CASES = [
    Case("plain standard", deflated(FILES), ["-y", "-silent", "-d", "{out}"], "std-basic-en",
         flags_on=FLAG_PE_SECTION | FLAG_SILENT | FLAG_COMMAND_SPLIT | FLAG_OVERWRITE,
         flags_off=FLAG_LONG_NAMES | FLAG_NO_ABOUT | GREETING_FLAGS | FLAG_INSTALL_INF,
         texts={"options": "-win32 -le -silent -d* -overwrite -runasuser ", "program": "", "arguments": ""}),
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
         flags_off=FLAG_COMMAND_SPLIT | FLAG_INSTALL_INF,
         texts={"dialog text": "Press Setup.", "command": "setup.exe", "arguments": "",
                "options": "-win32 -setup -t* -le -overwrite -runasadmin -c setup.exe "}),
    # unzip knows neither PPMd nor AES: 7-Zip tests the result.
    Case("AES with PPMd: full", seven_zip(FILES[:1], ["-mm=PPMd", "-mem=AES256", "-psecret"]),
         ["-y", "-silent", "-d", "{out}"], "std-full-en", extract=False,
         tester=["7z", "t", "-psecret", "-bd"]),
    # unzip cannot decode WavPack: it lists the result, which still shows
    # offsets that were not shifted.
    Case("WavPack alone: full", wavpack_only("tone.wav"), ["-y", "-silent", "-d", "{out}"], "std-full-en",
         extract=False, tester=["unzip", "-l"]),
    Case("-auto; -y keeps a long name's flag off", deflated(FILES + [("a long file name.txt", b"x")]),
         ["-y", "-auto", "-silent", "-d", "{out}"], "std-basic-en", flags_on=FLAG_AUTO, flags_off=FLAG_LONG_NAMES),
    Case("-wait and -sta, installation mode", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-wait", "prog", "-sta", "My Setup", "-c", "setup.exe"],
         "inst-basic-en", extract=False, flags_on=FLAG_WAIT | FLAG_TITLE | FLAG_TITLE_CAPTION,
         texts={"title": "My Setup",
                "options": "-win32 -setup -t* -sta -wait prog -le -overwrite -runasadmin -c setup.exe "}),
    Case("German installation mode", deflated(FILES + [("setup.exe", b"MZ")]),
         ["-y", "-lg", "-setup", "-t", "{dir}\\dialog.txt", "-c", "setup.exe"], "inst-basic-de", extract=False),
    # The builder waits up to 8 s for its output; these holds start before
    # the builder and leave it a wide margin either way.
    Case("output held open for 3 s: still written", deflated(FILES), ["-y", "-silent", "-d", "{out}"],
         "std-basic-en", hold_ms=3000),
    Case("output held open far longer: refused", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED,
         extract=False, hold_ms=20000, messages=[1046]),
    # Each text within its own limit, all of them past the block's.
    # The command as typed, not quoted whole: a quoted one would name a
    # program "setup.exe xxx...", which the command check refuses.
    Case("texts too long together: refused with a message", deflated(FILES + [("setup.exe", b"MZ")]),
         None, None, exit_code=BUILD_FAILED, extract=False,
         raw="-y -setup -t {dir}\\long.txt -m {dir}\\greeting.txt -a {dir}\\about.txt -st " + "t" * 60 +
             " -c setup.exe " + "x" * 200,
         messages=[6340], files={"greeting.txt": b"g" * 500, "about.txt": b"a" * 250, "long.txt": b"d" * 250}),
    Case("bad extension", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED, extract=False,
         zip_name="in.zap", messages=[1039]),

    # Every row of the variant table, chosen by the methods the scan finds
    # and by the texts that need a Unicode-capable stub (one bit at a time).
    Case("std-aes-en; a UNC program with blanks", seven_zip(FILES[:1], AES),
         None, "std-aes-en", extract=False, tester=SEVEN_ZIP_TEST,
         raw="-y -c \\\\srv x\\share y\\prog.exe a1  a2",
         texts={"program": "\\\\srv x\\share y\\prog.exe", "arguments": "a1  a2",
                "options": "-win32 -le -overwrite -runasuser -c \\\\srv x\\share y\\prog.exe a1  a2 "}),
    Case("std-jpg-en; a tab splits no command", jpeg_method("photo.jpg"), None, "std-jpg-en", extract=False,
         tester=["unzip", "-l"], raw="-y -c prog.exe\targ", texts={"program": "prog.exe\targ", "arguments": ""}),
    Case("inst-aes-en; a non-ASCII folder needs nothing here", seven_zip(FILES[:1] + SETUP, AES),
         INSTALL + ["-d", "C:\\\u00dcnpack", "-c", "setup.exe"], "inst-aes-en", extract=False, tester=SEVEN_ZIP_TEST),
    Case("inst-lzpp-en: non-ASCII dialog text", deflated(FILES + SETUP),
         ["-setup", "-t", "{dir}\\unicode.txt", "-c", "setup.exe"], "inst-lzpp-en", extract=False,
         files={"unicode.txt": UNICODE_TEXT}, texts={"dialog text": "Gr\u00fc\u00dfe"}),
    Case("inst-full-en; an .inf command", wavpack_only("tone.wav"), INSTALL + ["-c", "setup.inf"], "inst-full-en",
         extract=False, tester=["unzip", "-l"], flags_on=FLAG_COMMAND_SPLIT | FLAG_INSTALL_INF,
         texts={"command": "setup.inf", "arguments": ""}),
    Case("inst-jpg-en; a quoted .inf with arguments", jpeg_method("photo.jpg"), None, "inst-jpg-en",
         extract=False, tester=["unzip", "-l"], raw='-setup -t {dir}\\dialog.txt -o -c "my setup.inf" /q',
         flags_on=FLAG_COMMAND_SPLIT | FLAG_INSTALL_INF, texts={"command": '"my setup.inf" /q', "arguments": ""}),
    # No -y: the long name sets its flag; every switch in its item.
    Case("std-aes-de; all the options", seven_zip([("a long file name.txt", b"long")], AES),
         ["-3", "-noac", "-a", "{dir}\\about.txt", "-mokcancel", "{dir}\\greeting.txt", "-st", "Title", "-argv0",
          "-nocrc", "-auto", "-silent", "-k", "-lg", "-z", "{dir}\\comment.txt", "-d", "{out}", "-nooverwrite",
          "-noabout", "-c", "prog.exe", "a"], "std-aes-de", extract=False, tester=SEVEN_ZIP_TEST, crc=False,
         comment=b"line one\nline two is longer\n", files={"about.txt": b"About this.", "greeting.txt": b"Hello."},
         flags_on=FLAG_OPTION_3 | FLAG_TITLE | GREETING_FLAGS | FLAG_AUTO | FLAG_OPTION_K | FLAG_NO_ABOUT |
         FLAG_PASS_ARGV0 | FLAG_SILENT | FLAG_COMMAND_SPLIT | FLAG_LONG_NAMES | 0x100,
         flags_off=FLAG_OVERWRITE | FLAG_PE_SECTION | FLAG_INSTALL_INF,
         texts={"program": "prog.exe", "arguments": "a", "title": "Title", "about": "About this.",
                "greeting": "Hello.",
                "options": "-3 -win32 -noac -a* -mokcancel* -st -lg -argv0 -nocrc -auto -silent -k -z* -d* "
                           "-nooverwrite -runasuser -c prog.exe a "}),
    Case("std-lzpp-de: non-ASCII greeting, Yes/No", deflated(FILES),
         ["-y", "-lg", "-myesno", "{dir}\\greeting.txt", "-silent", "-d", "{out}"], "std-lzpp-de", extract=False,
         files={"greeting.txt": UNICODE_TEXT}, flags_on=FLAG_GREETING_BUTTONS, flags_off=FLAG_GREETING_OK_CANCEL,
         texts={"greeting": "Gr\u00fc\u00dfe", "options": "-win32 -myesno* -lg -silent -d* -overwrite -runasuser "}),
    Case("std-full-de: LZMA with AES; an .inf program", seven_zip(FILES[:1], ["-mm=LZMA"] + AES),
         ["-y", "-lg", "-c", "readme.INF"], "std-full-de", extract=False, tester=SEVEN_ZIP_TEST,
         flags_on=FLAG_COMMAND_SPLIT | FLAG_INSTALL_INF, texts={"program": "readme.INF", "arguments": ""}),
    Case("std-jpg-de", jpeg_method("photo.jpg"), ["-y", "-lg", "-silent", "-d", "{out}"], "std-jpg-de",
         extract=False, tester=["unzip", "-l"]),
    Case("inst-aes-de", seven_zip(FILES[:1] + SETUP, AES), ["-lg"] + INSTALL + ["-c", "setup.exe"], "inst-aes-de",
         extract=False, tester=SEVEN_ZIP_TEST),
    Case("inst-lzpp-de: non-ASCII about text", deflated(FILES + SETUP),
         ["-lg"] + INSTALL + ["-a", "{dir}\\about.txt", "-c", "setup.exe"], "inst-lzpp-de", extract=False,
         files={"about.txt": UNICODE_TEXT}, texts={"about": "Gr\u00fc\u00dfe"}),
    Case("inst-full-de: AES with PPMd", seven_zip(FILES[:1] + SETUP, ["-mm=PPMd"] + AES),
         ["-lg"] + INSTALL + ["-c", "setup.exe"], "inst-full-de", extract=False, tester=SEVEN_ZIP_TEST),
    Case("inst-jpg-de", jpeg_method("photo.jpg"), ["-lg"] + INSTALL + ["-c", "setup.exe"], "inst-jpg-de",
         extract=False, tester=["unzip", "-l"]),
    Case("PPMd alone: std-lzpp-en", seven_zip(FILES[:1], ["-mm=PPMd"]), ["-y"], "std-lzpp-en", extract=False,
         tester=SEVEN_ZIP_TEST),
    Case("LZMA alone: inst-lzpp-en", seven_zip(FILES[:1] + SETUP, ["-mm=LZMA"]), INSTALL + ["-c", "setup.exe"],
         "inst-lzpp-en", extract=False, tester=SEVEN_ZIP_TEST),
    Case("non-ASCII default folder", deflated(FILES), ["-y", "-d", "C:\\\u00dcnpack"], "std-lzpp-en",
         extract=False, texts={"folder": "C:\\\u00dcnpack"}),
    Case("non-ASCII command: a quoted program with a blank", deflated(FILES), None, "std-lzpp-en", extract=False,
         raw='-y -c "C:\\Pr\u00f6gram Files\\x.exe" a b',
         texts={"program": "C:\\Pr\u00f6gram Files\\x.exe", "arguments": "a b"}),
    Case("non-ASCII Zip name", deflated(FILES), ["-y"], "std-lzpp-en", extract=False, zip_name="\u00efn.zip"),

    # Refusals.
    Case("a command whose quote never closes", deflated(FILES), None, None, exit_code=BUILD_FAILED,
         extract=False, raw='-y -c"C:\\a b\\x.exe', messages=[MSG_VALIDATION]),
    Case("a Zip name that Windows opens as a device", deflated(FILES), ["-y"], None, exit_code=REFUSED,
         extract=False, zip_name="con.tar.zip", messages=[MSG_ZIP_NAME, MSG_NO_ZIP_NAME]),
    Case("an entry hidden inside another's data", hidden_entry, ["-y"], None, exit_code=BUILD_FAILED,
         extract=False, messages=[MSG_LIBRARY_ERROR]),

    # Names without the UTF-8 flag, in the code page the stub reads them in.
    Case("Shift-JIS names under code page 932", stored_names([(n.encode("cp932"), d) for n, d in SJIS_NAMES]),
         ["-silent", "-d", "{out}"], "std-lzpp-en", locale=JAPANESE, flags_off=FLAG_LONG_NAMES,
         tree=dict(SJIS_NAMES)),
    Case("CP437 names", stored_names([(n.encode("cp437"), d) for n, d in CP437_NAMES]),
         ["-y", "-silent", "-d", "{out}"], "std-lzpp-en", tree=dict(CP437_NAMES)),
]


SETUP_FILES = FILES + [("setup.exe", None)]  # None: the fake program's bytes
SILENT = ["-y", "-silent", "-d", "{out}"]
INSTALL_AUTO = ["-y", "-setup", "-t", "{dir}\\dialog.txt", "-auto"]
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
         INSTALL_AUTO + ["-i", "{dir}\\icon.ico", "-c", "setup.exe"], "inst-basic-en", setup_fake=True,
         icon=icon_file([48, 32, 16, 24]), icon_used=True),
    Case("installation mode -runasuser", deflated(SETUP_FILES), INSTALL_AUTO + ["-runasuser", "-c", "setup.exe"],
         "inst-basic-en", setup_fake=True),
    Case("-v: the build log, standard mode", deflated(FILES), SILENT + ["-v"], "std-basic-en", log=""),
    Case("-v appends to the log, installation mode", deflated(SETUP_FILES),
         INSTALL_AUTO + ["-v", "-c", "setup.exe"], "inst-basic-en", log=LOG_TEXT, extract=False),
    Case("-v with a log that cannot be opened: 1041", deflated(FILES), ["-y", "-v"], None,
         exit_code=BUILD_FAILED, messages=[1041], files={"in.LOG/x": b""}),
    # A stub image that does not end on the file alignment: the section starts
    # at the next boundary and still reaches the end of the file.
    Case("-f stub off the file alignment", deflated(FILES), SILENT + ["-f", "{dir}\\custom.exe"], "std-basic-en",
         custom_stub=("std-basic-en", b"\0" * 100), flags_on=FLAG_PE_SECTION),
    Case("header record refused once, 1061 OK: written again", deflated(FILES), SILENT, "std-basic-en",
         env={"QL_FAIL_RECORD_WRITES": "1", "QL_MESSAGE_ANSWERS": "1061=ok"}, messages=[1061]),
    Case("header record refused, 1061 Cancel: no output", deflated(FILES), ["-y"], None, exit_code=BUILD_FAILED,
         env={"QL_FAIL_RECORD_WRITES": "1", "QL_MESSAGE_ANSWERS": "1061=cancel"}, messages=[1061]),
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
        # The locales the cases ask for, kept beside the work folder: made once.
        self.locales = os.path.join(os.path.dirname(os.path.abspath(args.work)), "locales")
        for locale in sorted({c.locale for cases in GROUPS.values() for c in cases if c.locale}):
            if not os.path.isdir(os.path.join(self.locales, locale)):
                os.makedirs(self.locales, exist_ok=True)
                language, charmap = locale.split(".")
                subprocess.run(["localedef", "-i", language, "-f", charmap, os.path.join(self.locales, locale)],
                               check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)

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

    def environment(self, case, **more):
        env = dict(os.environ, **more)
        if case.locale:
            env.update(QL_WINE_LOCALE=case.locale, LOCPATH=self.locales)
        return env

    def run(self, case):
        try:
            return self.build(case)
        except (OSError, subprocess.SubprocessError) as e:
            return ["%s: %s" % (type(e).__name__, e)]

    def build(self, case):
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
        exe = os.path.splitext(zip_path)[0] + ".exe"
        holder = None
        if case.hold_ms:
            with open(exe, "wb") as f:
                f.write(b"old")
            holder = subprocess.Popen([self.args.wine, self.args.fake, "hold", winpath(exe), str(case.hold_ms)],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(2)
        log = os.path.join(folder, "messages.log")
        env = self.environment(case, QL_MESSAGE_LOG=winpath(log), **case.env)
        builder = os.path.join(self.dist, "qlxtra32.exe")
        if case.raw is not None:
            line = os.path.join(folder, "builder-line.txt")
            with open(line, "w", encoding="utf-8", newline="") as f:
                f.write('"%s" "%s" %s' % (winpath(builder), winpath(zip_path),
                                          case.raw.replace("{out}", winpath(out_dir)).replace("{dir}", winpath(folder))))
            options = ["-timeout", str(RUN_DEADLINE), "-cmdfile", line]
        else:
            args = [a.replace("{out}", winpath(out_dir)).replace("{dir}", winpath(folder)) for a in case.args]
            options = ["-timeout", str(RUN_DEADLINE), "--", builder, winpath(zip_path)] + args
        run = launch(self.args.wine, self.args.launcher, options, env=env, cwd=folder,
                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=RUN_DEADLINE + 60)
        messages = open(log, encoding="utf-8").read() if os.path.exists(log) else ""
        if holder is not None:
            holder.wait(timeout=RUN_DEADLINE)
        faults = []
        ids = [int(line.split("\t", 1)[0]) for line in messages.splitlines() if line.strip()]
        if case.messages is not None and ids != case.messages:
            faults.append("messages %s, wanted %s: %r" % (ids, case.messages, messages))
        if run.returncode != case.exit_code:
            return faults + ["exit code %d, wanted %d; messages %r" % (run.returncode, case.exit_code, messages)]
        if case.exit_code != BUILT:
            if os.path.exists(exe) and not case.hold_ms:
                faults.append("a refused build left %s behind" % os.path.basename(exe))
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
            faults.append("flags 0x%x: wanted on 0x%x, off 0x%x" % (rec["flags"], case.flags_on, case.flags_off))
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
                faults.append("%s = %r, wanted %r" % (name, fields.get(name), text))
        test = subprocess.run(case.tester + [exe], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=60)
        text = test.stdout.decode("utf-8", "replace")
        if test.returncode != 0 or "extra bytes" in text:
            faults.append("%s: %s" % (" ".join(case.tester), text))
        if case.extract and not faults:
            if case.setup_fake:
                faults += self.extract_setup(case, folder, exe)
            else:
                faults += self.extract(case, folder, exe, zip_path, out_dir)
        return faults

    def extract_setup(self, case, folder, exe):
        """An installation build: the stub presses Setup itself (-auto), the
        fake setup runs once in a temporary folder that is gone afterwards."""
        line = os.path.join(folder, "line.txt")
        with open(line, "w", encoding="utf-8", newline="") as f:
            f.write('"%s"' % winpath(exe))
        script = os.path.join(folder, "script.txt")
        with open(script, "w") as f:
            f.write("default cancel 300\nwindow\ncaption Self-Extractor - \nrepeat\nleave\n")
        fake_log = os.path.join(folder, "fake.jsonl")
        run = launch(self.args.wine, self.args.launcher,
                     ["-timeout", str(RUN_DEADLINE), "-script", script, "-env", "QLFAKE_LOG=" + winpath(fake_log),
                      "-log", os.path.join(folder, "log.jsonl"), "-cmdfile", line],
                     env=self.environment(case), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                     timeout=RUN_DEADLINE + 60)
        if run.returncode != 0:
            return ["stub ended with %d: %s" % (run.returncode, run.stdout.decode("utf-8", "replace"))]
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

    def extract(self, case, folder, exe, zip_path, out_dir):
        line = os.path.join(folder, "line.txt")
        with open(line, "w", encoding="utf-8", newline="") as f:
            f.write('"%s"' % winpath(exe))
        script = os.path.join(folder, "script.txt")
        with open(script, "w") as f:
            f.write("default cancel 300\n")
        run = launch(self.args.wine, self.args.launcher,
                     ["-timeout", str(RUN_DEADLINE), "-script", script, "-log", os.path.join(folder, "log.jsonl"),
                      "-cmdfile", line],
                     env=self.environment(case), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                     timeout=RUN_DEADLINE + 60)
        if run.returncode != 0:
            return ["stub ended with %d: %s" % (run.returncode, run.stdout.decode("utf-8", "replace"))]
        wanted = os.path.join(folder, "unzipped")
        if case.tree is None:
            subprocess.run(["unzip", "-q", "-d", wanted, zip_path], check=True, timeout=60)
        else:
            for name, data in case.tree.items():
                os.makedirs(os.path.dirname(os.path.join(wanted, name)), exist_ok=True)
                with open(os.path.join(wanted, name), "wb") as f:
                    f.write(data)
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
                 "native-build", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only", help="run only the cases whose name holds this text")
    args = parser.parse_args(argv)
    cases = [c for c in GROUPS[args.group] if not args.only or args.only in c.name]
    global NATIVE_BUILD
    NATIVE_BUILD = args.native_build
    runner = Runner(args)
    failed = 0
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
