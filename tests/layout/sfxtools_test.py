#!/usr/bin/env python3
"""Tests of tools/sfxpack.py and tools/sfxcheck.py on a hand-made stub and Zips from zipfile."""

import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import sfxsample  # noqa: E402
from sfxsample import NT_OFFSET, RECORD_OFFSET, SECTION_TABLE, STUB_SIZE, make_stub, make_zip  # noqa: E402

ENTRIES = [
    ("a.txt", b"stored text\n" * 10, zipfile.ZIP_STORED),
    ("dir/b.bin", bytes(range(256)) * 8, zipfile.ZIP_DEFLATED),
    ("dir/empty", b"", zipfile.ZIP_STORED),
]
TOTAL = sum(len(data) for _, data, _ in ENTRIES)
INSTALL = {
    "about": "About \u00e4", "command": "setup.exe /q", "dialog-text": "Press OK \u20ac",
    "title": "T", "greeting": "Hi", "options": "-win32 -setup -le -overwrite -runasuser -c setup.exe /q ",
}
STANDARD = {
    "folder": "C:\\Quolla", "program": "C:\\Program Files\\x y\\run.exe", "arguments": "-a \"b c\"",
    "greeting": "", "title": "", "about": "about", "options": "-win32 -le -overwrite -runasuser ",
}


class Workspace(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="sfxtools")
        self.addCleanup(shutil.rmtree, self.dir)
        self.stub = self.write("stub.exe", make_stub())
        self.zip = self.write("in.zip", make_zip(ENTRIES, comment=b"archive comment"))

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def pack(self, *args, stub=None, zip=None, texts=INSTALL, mode="install", expect=0):
        out = os.path.join(self.dir, "out.exe")
        cmd = [sys.executable, sfxsample.SFXPACK, stub or self.stub, zip or self.zip, out, "--mode", mode]
        for name, text in texts.items():
            cmd += ["--" + name, text]
        run = subprocess.run(cmd + list(args), capture_output=True, text=True)
        self.assertEqual(run.returncode, expect, run.stderr)
        return out if expect == 0 else run.stderr

    def check(self, path, expect=0):
        run = subprocess.run([sys.executable, sfxsample.SFXCHECK, path, "--json"], capture_output=True, text=True)
        self.assertEqual(run.returncode, expect, run.stderr if expect == 0 else run.stdout)
        return json.loads(run.stdout) if expect == 0 else run.stderr

    def record(self, data):
        return struct.unpack_from("<8s6I8sBBHHIBBHI", data, RECORD_OFFSET)


class SfxToolsPackAndCheck(Workspace):
    def test_install_mode_record_and_texts(self):
        out = self.pack("--flags", "0x16", "--wait", "_ISDEL")
        data = self.read(out)
        result = self.check(out)
        rec = result["record"]
        self.assertEqual(rec["record_offset"], RECORD_OFFSET)
        self.assertEqual(rec["stub_length"], STUB_SIZE)
        self.assertEqual(data[rec["archive_offset"]:rec["archive_offset"] + 4], b"PK\x03\x04")
        self.assertEqual(rec["end_record_offset"], data.rfind(b"PK\x05\x06"))
        self.assertEqual(rec["total_size"], TOTAL)
        self.assertEqual((rec["flags"], rec["wait_name"], rec["written_marker"]), (0x16, "_ISDEL", 0xFFFF))
        self.assertEqual((rec["entry_point"], rec["header_version"]), (0x1A2B, 8))
        self.assertEqual(data[:STUB_SIZE][:RECORD_OFFSET], make_stub()[:RECORD_OFFSET])
        # The CRC from offset 0 over stub and block, with its own field as 0.
        head = bytearray(data[:rec["archive_offset"]])
        head[RECORD_OFFSET + 8:RECORD_OFFSET + 12] = bytes(4)
        self.assertEqual(rec["crc32"], zlib.crc32(head))
        self.assertEqual(result["crc_range"], [0, rec["archive_offset"]])
        self.assertEqual(result["mode"], "install")
        self.assertEqual(result["texts"], ["About \u00e4", "setup.exe /q", "", "", "Press OK \u20ac", "T", "Hi",
                                           INSTALL["options"]])
        # The block is raw Deflate of UTF-16LE strings, each ended by one NUL unit.
        block = data[STUB_SIZE:rec["archive_offset"]]
        raw = zlib.decompress(block, -15)
        self.assertEqual(raw, "".join(t + "\0" for t in result["texts"]).encode("utf-16-le"))

    def test_standard_mode_texts_and_empty_block(self):
        result = self.check(self.pack(mode="standard", texts=STANDARD))
        self.assertEqual(result["mode"], "standard")
        self.assertEqual(result["texts"], [STANDARD[n] if n != "reserved" else ""
                                           for n in ("folder", "program", "arguments", "reserved",
                                                     "greeting", "title", "about", "options")])
        empty = self.check(self.pack(texts={"options": "-win32 -le "}))
        self.assertEqual(empty["texts"], [""] * 7 + ["-win32 -le "])

    def test_wait_name_of_eight_characters(self):
        data = self.read(self.pack("--wait", "SETUPEXE", "--flags", "4"))
        self.assertEqual(data[RECORD_OFFSET + 32:RECORD_OFFSET + 41], b"SETUPEXE\0")
        self.assertEqual(self.check(os.path.join(self.dir, "out.exe"))["record"]["wait_name"], "SETUPEXE")

    def test_pe_section_flag_leaves_the_pe_headers_out_of_the_crc(self):
        out = self.pack("--flags", "0x802")
        result = self.check(out)
        self.assertEqual(result["crc_range"][0], NT_OFFSET + 248)
        data = bytearray(self.read(out))
        checksum = NT_OFFSET + 24 + 64
        data[checksum] ^= 0xFF
        data[0x50] ^= 0xFF  # DOS stub
        self.check(self.write("headers.exe", data))
        data[SECTION_TABLE + 2] ^= 0xFF
        self.assertIn("CRC-32", self.check(self.write("table.exe", data), expect=1))

    def test_no_crc_leaves_zero_and_skips_the_check(self):
        out = self.pack("--no-crc")
        data = bytearray(self.read(out))
        self.assertEqual(self.record(data)[1], 0)
        self.assertIsNone(self.check(out)["crc_range"])
        data[0x210] ^= 0xFF
        self.check(self.write("changed.exe", data))

    def test_first_of_two_eyecatchers_is_the_record(self):
        stub = self.write("two.exe", make_stub(second_eyecatcher=True))
        data = self.read(self.pack(stub=stub))
        self.assertEqual(self.record(data)[10], 0xFFFF)
        self.assertEqual(data[0x300 + 42:0x300 + 44], b"\0\0")
        self.assertEqual(self.check(os.path.join(self.dir, "out.exe"))["record"]["record_offset"], RECORD_OFFSET)


class SfxToolsShiftedArchive(Workspace):
    def unzip_test(self, path):
        return subprocess.run(["unzip", "-t", path], capture_output=True, text=True)

    def test_unzip_accepts_the_shifted_archive(self):
        zips = {
            "plain": self.zip,
            "descriptors": self.write("dd.zip", make_zip(ENTRIES, descriptors=True)),
        }
        for name, path in zips.items():
            with self.subTest(name):
                with zipfile.ZipFile(path) as z:
                    self.assertEqual(any(i.flag_bits & 8 for i in z.infolist()), name == "descriptors")
                out = self.pack(zip=path)
                run = self.unzip_test(out)
                self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
                self.assertIn("No errors detected", run.stdout)
                self.assertNotIn("extra bytes", run.stdout + run.stderr)
                result = self.check(out)
                self.assertEqual(result["archive"]["entries"], len(ENTRIES))
                self.assertEqual(result["record"]["total_size"], TOTAL)

    def test_unshifted_prefix_is_what_unzip_complains_about(self):
        # The control: the same bytes without raising the offsets.
        data = self.read(self.stub) + self.read(self.zip)
        run = self.unzip_test(self.write("unshifted.exe", data))
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("extra bytes", run.stdout + run.stderr)

    def test_archive_comment_stays_behind_the_end_record(self):
        data = self.read(self.pack())
        end = self.check(os.path.join(self.dir, "out.exe"))["record"]["end_record_offset"]
        self.assertEqual(data[end + 22:], b"archive comment")


class SfxToolsCheckerRefuses(Workspace):
    def test_damaged_files(self):
        good = self.read(self.pack())
        rec = self.check(os.path.join(self.dir, "out.exe"))["record"]
        end = rec["end_record_offset"]

        def flip(at):
            data = bytearray(good)
            data[at] ^= 0x01
            return bytes(data)

        cases = [
            ("byte of the stub inside the CRC range", flip(0x300), "CRC-32"),
            ("byte of the configuration block", flip(STUB_SIZE + 3), "CRC-32"),
            ("end-record signature", good[:end] + b"PK\x05\x07" + good[end + 4:], "no end-record signature"),
            ("truncated inside the comment", good[:-4], "comment runs past"),
            ("truncated before the end record", good[:end + 2], "beyond the file"),
            ("truncated inside the block", good[:STUB_SIZE + 5], "beyond the file"),
            ("no record at all", good[:RECORD_OFFSET] + b"X" + good[RECORD_OFFSET + 1:], "eyecatcher"),
            ("central offset not raised", good[:end + 16] + struct.pack("<I", struct.unpack_from("<I", good, end + 16)[0] - rec["archive_offset"]) + good[end + 20:], "central directory"),
        ]
        for why, data, message in cases:
            with self.subTest(why):
                self.assertIn(message, self.check(self.write("bad.exe", data), expect=1))

    def test_records_the_stub_would_refuse(self):
        cases = [
            ("never written", ["--unwritten"], "never written"),
            ("wrong entry point", ["--entry-point", "0x999"], "entry point"),
            ("flag never set", ["--flags", "0x20"], "never set"),
        ]
        for why, args, message in cases:
            with self.subTest(why):
                self.assertIn(message, self.check(self.pack(*args), expect=1))

    def test_forged_configuration_blocks(self):
        def deflate(raw):
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            return c.compress(raw) + c.flush()

        def strings(n):
            return "".join("s%d\0" % i for i in range(n)).encode("utf-16-le")

        noise = random.Random(5).randbytes(3000)
        cases = [
            ("nine strings", deflate(strings(9)), "not exactly 8"),
            ("seven strings", deflate(strings(7)), "not exactly 8"),
            ("last string without NUL", deflate(strings(8) + b"x\0"), "has no NUL"),
            ("odd byte count", deflate(strings(8) + b"\0"), "whole UTF-16 units"),
            ("longer than any builder writes", deflate(noise)[:1280], "longer than 1279"),
            ("too many units", deflate(strings(7) + b"x\0" * 1300 + b"\0\0"), "more than 1285"),
            ("not Deflate", b"\xff" * 40, "does not inflate"),
            ("bytes behind the stream", deflate(strings(8)) + b"\0\0", "behind its Deflate stream"),
            ("stream cut short", deflate(strings(8))[:-2], "ends inside"),
        ]
        for why, block, message in cases:
            with self.subTest(why):
                out = self.pack("--block-file", self.write("block.bin", block))
                self.assertIn(message, self.check(out, expect=1))


class SfxToolsPackerRefuses(Workspace):
    def zip64(self):
        """The test Zip in Zip64 form: Zip64 end record and locator, end record fields all ones."""
        data = self.read(self.zip)
        end = data.rfind(b"PK\x05\x06")
        count, cd_size, cd_offset = struct.unpack_from("<HII", data, end + 10)
        z64 = struct.pack("<4sQHHIIQQQQ", b"PK\x06\x06", 44, 45, 45, 0, 0, count, count, cd_size, cd_offset)
        locator = struct.pack("<4sIQI", b"PK\x06\x07", 0, end, 1)
        eocd = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0)
        return data[:end] + z64 + locator + eocd

    def test_inputs_it_cannot_pack(self):
        cases = [
            ("Zip64 archive", {"zip": self.write("z64.zip", self.zip64())}, [], "Zip64"),
            ("not a Zip", {"zip": self.write("no.zip", b"PK\x03\x04" + bytes(40))}, [], "no end-of-central"),
            ("stub without template", {"stub": self.write("s1.exe", make_stub().replace(b"TRV\x01", b"TRV\x00"))}, [], "eyecatcher"),
            ("old header version", {"stub": self.write("s2.exe", make_stub(version=7))}, [], "too old"),
            ("e_lfanew beyond the stub", {"stub": self.write("s3.exe", make_stub(nt_offset=STUB_SIZE - 8))}, [], "beyond"),
            ("wait name of nine", {}, ["--wait", "SETUP.EXE"], "longer than 8"),
            ("texts too long", {"texts": {"about": "x" * 1280}}, [], "more than 1285"),
            ("text of the other mode", {"texts": {"folder": "C:\\"}}, [], "not a text of the install mode"),
        ]
        for why, inputs, args, message in cases:
            with self.subTest(why):
                self.assertIn(message, self.pack(*args, expect=2, **inputs))


if __name__ == "__main__":
    unittest.main()
