#!/usr/bin/env python3
"""make-crypto-e2e-fixtures.py OUTDIR: encrypted archives as whole cases for
the engine test program.

Per case OUTDIR/<case>.zip, <case>.password (the password the run gives) and
either <case>.expected/ (what 7z x extracts with the right password) or
<case>.fail (the message id the extraction ends with), or both (the entries
before the failing one came out).

Archives from the real tools: zip -P (sizes deferred to a descriptor, so the
check byte is the time's), 7z -mem=ZipCrypto (the check byte is the CRC's) and
7z -mem=AES128/192/256 (AE-2). AE-1 entries, tampered data and mixed archives
are made from those by re-assembling their local records (the central
directory is written anew from the local headers).
"""
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

OUT = None
SOURCE_MTIME = 1718459130  # an even time, so that the DOS time is exact

NO_PASSWORD = 1005
WRONG_PASSWORD = 1006
BAD_CRC = 1041
NOT_AUTHENTIC = 1067

PASSWORD = b"Quolla secret"
# Printable bytes; the engine takes 99 and refuses 100.
PASSWORD_99 = bytes(0x21 + (i * 7) % 94 for i in range(99))
PASSWORD_100 = PASSWORD_99 + b"~"

AES_SALT = {1: 8, 2: 12, 3: 16}
AES_KEY = {1: 16, 2: 24, 3: 32}


def data_of(size, seed):
    out = bytearray()
    x = seed
    while len(out) < size:
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out.append((x >> 16) & 0xFF)
    return bytes(out)


def text_of(size):
    words = b"salt verifier counter block cipher key stream window quolla entry "
    return (words * (size // len(words) + 1))[:size]


# Empty, small, and more than one 0x7000-byte refill (stored and deflated).
FILES = {
    "empty.txt": b"",
    "small.txt": b"The quick brown fox jumps over the lazy dog.\r\n",
    "random.bin": data_of(0x7000 * 3 + 17, 5),
    "text.txt": text_of(100000),
}


# --- the tools ------------------------------------------------------------------

def run(args, cwd):
    subprocess.run(args, cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_sources(src):
    os.makedirs(src, exist_ok=True)
    for name, data in FILES.items():
        path = os.path.join(src, name)
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (SOURCE_MTIME, SOURCE_MTIME))


def zip_p(src, path, password, names, level="-6"):
    run(["zip", "-q", "-X", level, "-P", password.decode("latin-1"), path] + names, src)


def seven(src, path, cipher, password, names, method):
    # -mx=0 stores; Deflate at -mx=9 otherwise. No NTFS times: the DOS time only.
    level = ["-mx=0"] if method == "stored" else ["-mm=Deflate", "-mx=9"]
    run(["7z", "a", "-bd", "-tzip", "-mem=" + cipher, "-p" + password.decode("latin-1"),
         "-mtc=off"] + level + [path] + names, src)


def expect_from_7z(case, password):
    """What 7z x extracts with the password is the expected tree."""
    target = os.path.join(OUT, case + ".expected")
    os.makedirs(target, exist_ok=True)
    run(["7z", "x", "-bd", "-y", "-p" + password.decode("latin-1"), "-o" + target,
         os.path.join(OUT, case + ".zip")], OUT)


# --- local records ----------------------------------------------------------------

class Record:
    """One entry as it stands in the archive: local header fields, name, extra,
    the stored data and what follows it (a descriptor)."""

    def __init__(self, raw, info):
        at = info.header_offset
        (sig, self.version, self.flags, self.method, self.time, self.date, self.crc,
         self.csize, self.usize, nlen, xlen) = struct.unpack_from("<4sHHHHHIIIHH", raw, at)
        assert sig == b"PK\x03\x04"
        at += 30
        self.name = raw[at:at + nlen]
        self.extra = bytearray(raw[at + nlen:at + nlen + xlen])
        at += nlen + xlen
        self.data = bytearray(raw[at:at + info.compress_size])
        at += info.compress_size
        self.tail = b""
        if self.flags & 8:
            self.tail = raw[at:at + 16] if raw[at:at + 4] == b"PK\x07\x08" else raw[at:at + 12]

    def local(self):
        return struct.pack("<4sHHHHHIIIHH", b"PK\x03\x04", self.version, self.flags, self.method,
                           self.time, self.date, self.crc, len(self.data), self.usize,
                           len(self.name), len(self.extra)) + self.name + bytes(self.extra) + \
            bytes(self.data) + self.tail

    def aes_field(self):
        """Offset of the 0x9901 sub-field's data in the extra field."""
        at = 0
        while at + 4 <= len(self.extra):
            tag, size = struct.unpack_from("<HH", self.extra, at)
            if tag == 0x9901:
                return at + 4
            at += 4 + size
        raise ValueError("no AES field in %r" % self.name)

    def aes_strength(self):
        return self.extra[self.aes_field() + 4]


def records_of(path):
    with open(path, "rb") as f:
        raw = f.read()
    with zipfile.ZipFile(path) as z:
        return [Record(raw, i) for i in z.infolist()]


def assemble(records):
    out, cd = bytearray(), bytearray()
    for r in records:
        at = len(out)
        out += r.local()
        cd += struct.pack("<4sHHHHHHIIIHHHHHII", b"PK\x01\x02", r.version, r.version, r.flags,
                          r.method, r.time, r.date, r.crc, len(r.data), r.usize, len(r.name),
                          len(r.extra), 0, 0, 0, 0, at) + r.name + bytes(r.extra)
    end = struct.pack("<4sHHHHIIH", b"PK\x05\x06", 0, 0, len(records), len(records), len(cd),
                      len(out), 0)
    return bytes(out) + bytes(cd) + end


def to_ae1(record, plain):
    """Vendor version 1 and the real CRC, as AE-1 writers keep it."""
    struct.pack_into("<H", record.extra, record.aes_field(), 1)
    record.crc = zlib.crc32(plain)
    return record


# --- small crypto of our own, to pick passwords that behave as a case needs ----

def crc_step(crc, byte):
    return zlib.crc32(bytes([byte]), crc ^ 0xFFFFFFFF) ^ 0xFFFFFFFF


def traditional_check_byte(password, header):
    k0, k1, k2 = 0x12345678, 0x23456789, 0x34567890

    def update(c):
        nonlocal k0, k1, k2
        k0 = crc_step(k0, c)
        k1 = ((k1 + (k0 & 0xFF)) * 134775813 + 1) & 0xFFFFFFFF
        k2 = crc_step(k2, k1 >> 24)

    for c in password:
        update(c)
    plain = 0
    for c in header:
        t = (k2 | 2) & 0xFFFF
        plain = c ^ (((t * (t ^ 1)) >> 8) & 0xFF)
        update(plain)
    return plain


def traditional_expected(record):
    return (record.time >> 8) if record.flags & 8 else (record.crc >> 24)


def passes_traditional(password, record):
    return traditional_check_byte(password, record.data[:12]) == traditional_expected(record)


def aes_verifier(password, record):
    strength = record.aes_strength()
    salt = bytes(record.data[:AES_SALT[strength]])
    return hashlib.pbkdf2_hmac("sha1", password, salt, 1000, 2 * AES_KEY[strength] + 2)[-2:]


def passes_aes(password, record):
    salt = AES_SALT[record.aes_strength()]
    return aes_verifier(password, record) == bytes(record.data[salt:salt + 2])


def refused_password(records, passes):
    """A wrong password that the first encrypted entry's check refuses."""
    for n in range(1000):
        candidate = b"wrong password %d" % n
        if not passes(candidate, records[0]):
            return candidate
    raise RuntimeError("no refused password")


# --- cases ------------------------------------------------------------------------

def write_case(name, data, password, outcome=None, expected=None):
    with open(os.path.join(OUT, name + ".zip"), "wb") as f:
        f.write(data)
    if password is not None:
        with open(os.path.join(OUT, name + ".password"), "wb") as f:
            f.write(password)
    if outcome is not None:
        with open(os.path.join(OUT, name + ".fail"), "w") as f:
            f.write("%d\n" % outcome)
    if expected is not None:
        root = os.path.join(OUT, name + ".expected")
        os.makedirs(root, exist_ok=True)
        for rel, content in expected.items():
            with open(os.path.join(root, rel), "wb") as f:
                f.write(content)


def good_case(name, path, password):
    shutil.copyfile(path, os.path.join(OUT, name + ".zip"))
    with open(os.path.join(OUT, name + ".password"), "wb") as f:
        f.write(password)
    expect_from_7z(name, password)


def tool_cases(src, work):
    every = sorted(FILES)
    made = {}

    def tool(name, build):
        path = os.path.join(work, name + ".zip")
        build(path)
        made[name] = path
        return path

    for method in ("stored", "deflated"):
        level = "-0" if method == "stored" else "-9"
        tool("zip-p-" + method, lambda p: zip_p(src, p, PASSWORD, every, level))
        tool("7z-zipcrypto-" + method,
             lambda p: seven(src, p, "ZipCrypto", PASSWORD, every, method))
        for bits in (128, 192, 256):
            tool("7z-aes%d-%s" % (bits, method),
                 lambda p: seven(src, p, "AES%d" % bits, PASSWORD, every, method))
    for name, path in made.items():
        good_case(name, path, PASSWORD)

    # AE-1: vendor version 1 and the real CRC, in both headers; a wrong CRC
    # with a right code is a damaged file all the same.
    for bits, method in ((128, "stored"), (256, "deflated")):
        records = [to_ae1(r, FILES[r.name.decode()])
                   for r in records_of(made["7z-aes%d-%s" % (bits, method)])]
        write_case("ae1-aes%d-%s" % (bits, method), assemble(records), PASSWORD)
        expect_from_7z("ae1-aes%d-%s" % (bits, method), PASSWORD)
    records = [to_ae1(r, FILES[r.name.decode()]) for r in records_of(made["7z-aes128-stored"])
               if r.name == b"small.txt"]
    records[0].crc ^= 0x00800000
    write_case("ae1-wrong-crc", assemble(records), PASSWORD, BAD_CRC)
    # AE-2 keeps no CRC: a header CRC of anything is not checked.
    records = [r for r in records_of(made["7z-aes256-stored"]) if r.name == b"small.txt"]
    records[0].crc = 0xDEADBEEF
    write_case("ae2-any-crc", assemble(records), PASSWORD, expected={"small.txt": FILES["small.txt"]})
    return made


def failure_cases(made, src, work):
    small = FILES["small.txt"]
    # Wrong and missing passwords, for each way the check is made.
    for name, passes in (("zip-p-stored", passes_traditional),
                         ("7z-zipcrypto-stored", passes_traditional),
                         ("7z-aes128-stored", passes_aes), ("7z-aes256-deflated", passes_aes)):
        records = records_of(made[name])
        write_case("wrong-password-" + name, assemble(records), refused_password(records, passes),
                   WRONG_PASSWORD)
    write_case("no-password", assemble(records_of(made["7z-aes192-stored"])), None, NO_PASSWORD)

    # A wrong password that passes the one-byte check decrypts to garbage: the
    # CRC check catches it and no file stays.
    record = [r for r in records_of(made["7z-zipcrypto-stored"]) if r.name == b"small.txt"][0]
    lucky = next(b"lucky %d" % n for n in range(100000)
                 if passes_traditional(b"lucky %d" % n, record))
    write_case("wrong-password-passing-check", assemble([record]), lucky, BAD_CRC)
    # The same for AES: the stored verifier made to match a wrong password.
    record = [r for r in records_of(made["7z-aes256-stored"]) if r.name == b"small.txt"][0]
    salt = AES_SALT[record.aes_strength()]
    record.data[salt:salt + 2] = aes_verifier(b"not the password", record)
    write_case("wrong-password-passing-verifier", assemble([record]), b"not the password",
               NOT_AUTHENTIC)

    # Tampering: the last byte of the code, a byte of the ciphertext; of a
    # later entry, after a good one.
    for bits in (128, 256):
        for what in ("mac", "ciphertext"):
            records = records_of(made["7z-aes%d-stored" % bits])
            first = [r for r in records if r.name == b"small.txt"][0]
            victim = [r for r in records if r.name == b"random.bin"][0]
            at = len(victim.data) - 1 if what == "mac" else AES_SALT[victim.aes_strength()] + 2 + 0x7000
            victim.data[at] ^= 0x01
            write_case("flipped-%s-aes%d" % (what, bits), assemble([first, victim]), PASSWORD,
                       NOT_AUTHENTIC, {"small.txt": small})

    # Passwords of 99 bytes (taken) and 100 bytes (refused before the entry is read).
    for name, make in (("password-99-zip-p", lambda p: zip_p(src, p, PASSWORD_99, ["small.txt"])),
                       ("password-99-aes256",
                        lambda p: seven(src, p, "AES256", PASSWORD_99, ["small.txt"], "stored"))):
        path = os.path.join(work, name + ".zip")
        make(path)
        good_case(name, path, PASSWORD_99)
        write_case(name.replace("99", "100"), open(path, "rb").read(), PASSWORD_100, WRONG_PASSWORD)

    # Encrypted and plain entries in one archive, under one password.
    plain_path = os.path.join(work, "plain.zip")
    run(["zip", "-q", "-X", "-9", plain_path, "text.txt", "empty.txt"], src)
    plain = records_of(plain_path)
    aes = [r for r in records_of(made["7z-aes192-deflated"]) if r.name == b"random.bin"]
    trad = [r for r in records_of(made["zip-p-deflated"]) if r.name == b"small.txt"]
    crypt = [r for r in records_of(made["7z-zipcrypto-stored"]) if r.name == b"empty.txt"]
    # The traditional cipher does not cover the name.
    crypt[0].name = b"empty-crypt.txt"
    write_case("mixed", assemble([plain[0]] + aes + trad + [plain[1]] + crypt), PASSWORD)
    expect_from_7z("mixed", PASSWORD)
    # An AE-2 entry does not take the CRC check away from the plain entry behind it.
    plain[0].crc ^= 1
    aes = [r for r in records_of(made["7z-aes128-deflated"]) if r.name == b"random.bin"]
    write_case("ae2-then-plain-bad-crc", assemble(aes + [plain[0]]), PASSWORD, BAD_CRC,
               {"random.bin": FILES["random.bin"]})


def main():
    global OUT
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    OUT = os.path.abspath(sys.argv[1])
    os.makedirs(OUT, exist_ok=True)
    # The DOS times (and so zip's check bytes) are local time.
    os.environ["TZ"] = "UTC"
    with tempfile.TemporaryDirectory() as work:
        src = os.path.join(work, "src")
        make_sources(src)
        made = tool_cases(src, work)
        failure_cases(made, src, work)


if __name__ == "__main__":
    main()
