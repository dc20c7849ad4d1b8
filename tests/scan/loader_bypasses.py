#!/usr/bin/env python3
"""Container tricks that once got code past `scan`: each file is first proven to run a harmless
marker (creating a file) under the real loader, then `tarnwick scan` must refuse it (exit 1,
verdict unsafe or unscannable).

usage: loader_bypasses.py <tarnwick>
"""
import json
import os
import pickle
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib

LEGACY_MAGIC = 0x1950A86A20F9469CFC6C


class RunsMarker:
    """Unpickling calls os.system, which creates the marker file."""

    def __init__(self, marker):
        self.marker = marker

    def __reduce__(self):
        return (os.system, ("touch " + self.marker,))


def payload(marker):
    return pickle.dumps(RunsMarker(marker), protocol=2)


def harmless():
    return pickle.dumps({"weights": [1, 2, 3]}, protocol=2)


# --- legacy torch.save files: five pickles, the first holding the magic number ---------------

def legacy_file(first_pickle, marker):
    sys_info = {"protocol_version": 1001, "little_endian": True, "type_sizes": {"short": 2, "int": 4, "long": 4}}
    return (first_pickle + pickle.dumps(1001, protocol=2) + pickle.dumps(sys_info, protocol=2) + payload(marker) +
            pickle.dumps([], protocol=2))


def magic_long1_with_sign_byte(marker):
    # LONG1 of 11 bytes: the number and a redundant zero sign byte
    return legacy_file(b"\x80\x02\x8a\x0b" + LEGACY_MAGIC.to_bytes(11, "little") + b".", marker)


def magic_protocol0_long(marker):
    return legacy_file(b"L" + str(LEGACY_MAGIC).encode() + b"L\n.", marker)


def magic_padded_first_pickle(marker):
    # the first pickle runs past 64 bytes: a long string pushed and popped before the number
    padding = b"X" + struct.pack("<I", 200) + b"p" * 200 + b"0"
    return legacy_file(b"\x80\x02" + padding + b"\x8a\x0a" + LEGACY_MAGIC.to_bytes(10, "little") + b".", marker)


class MagicByCall:
    """Unpickles to the magic number through a call of int, which torch compares as equal."""

    def __reduce__(self):
        return (int, (str(LEGACY_MAGIC),))


def magic_returned_by_a_call(marker):
    return legacy_file(pickle.dumps(MagicByCall(), protocol=2), marker)


# --- zip checkpoints --------------------------------------------------------------------------

def zip_bytes(entries):
    """A stored zip of (name, bytes), written by Python's zipfile."""
    path = tempfile.mktemp()
    with zipfile.ZipFile(path, "w", zipfile.ZIP_STORED) as archive:
        for name, data in entries:
            archive.writestr(name, data)
    with open(path, "rb") as f:
        data = f.read()
    os.unlink(path)
    return data


def upper_case_pickle_name(marker):
    return zip_bytes([("archive/data.PKL", payload(marker)), ("archive/decoy.pkl", harmless()),
                      ("archive/version", b"3\n")])


class RawZip:
    """A zip laid out by hand, for directories that disagree."""

    def __init__(self):
        self.data = b""

    def local(self, name, body):
        offset = len(self.data)
        name = name.encode()
        self.data += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, 0, 0, zlib.crc32(body), len(body), len(body),
                                  len(name), 0) + name + body
        return (name, body, offset)

    @staticmethod
    def central(entries):
        out = b""
        for name, body, offset in entries:
            out += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, 0, 0, zlib.crc32(body), len(body),
                               len(body), len(name), 0, 0, 0, 0, 0, offset) + name
        return out

    def directory(self, entries):
        offset = len(self.data)
        self.data += self.central(entries)
        return offset, len(self.data) - offset, len(entries)

    def eocd(self, directory, comment=b""):
        offset, size, count = directory
        return struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, count, count, size, offset, len(comment)) + comment

    def zip64_end(self, directory):
        offset, size, count = directory
        record_at = len(self.data)
        self.data += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, count, count, size, offset)
        self.data += struct.pack("<IIQI", 0x07064B50, 0, record_at, 1)


def zip64_locator_to_another_directory(marker):
    z = RawZip()
    evil = z.local("archive/data.pkl", payload(marker))
    version = z.local("archive/version", b"3\n")
    decoy = z.local("archive/data.pkl", harmless())
    plain = z.directory([decoy, version])
    hidden = z.directory([evil, version])
    z.zip64_end(hidden)
    return z.data + z.eocd(plain)


def fake_end_record_in_the_comment(marker):
    z = RawZip()
    evil = z.local("archive/data.pkl", payload(marker))
    version = z.local("archive/version", b"3\n")
    decoy = z.local("archive/data.pkl", harmless())
    real = z.directory([evil, version])
    fake = z.directory([decoy, version])
    fake_record = z.eocd(fake)[:20]  # 20 of its 22 bytes: size and offset fit, the comment length does not
    return z.data + z.eocd(real, comment=fake_record)


CASES = [
    ("legacy magic as LONG1 with a sign byte", ".pt", magic_long1_with_sign_byte),
    ("legacy magic as protocol-0 LONG", ".pt", magic_protocol0_long),
    ("legacy magic after 200 bytes of padding", ".pt", magic_padded_first_pickle),
    ("legacy magic returned by a call of int", ".pt", magic_returned_by_a_call),
    ("zip pickle named data.PKL beside a decoy", ".pt", upper_case_pickle_name),
    ("zip64 locator to a second directory", ".pt", zip64_locator_to_another_directory),
    ("fake end record of 20 bytes in the real one's comment", ".pt", fake_end_record_in_the_comment),
]

LOADER = """
import sys, torch
try:
    torch.load(sys.argv[1], weights_only=False) if 'weights_only' in torch.load.__code__.co_varnames else torch.load(sys.argv[1])
except Exception:
    pass
"""


def runs_under_torch(path, marker):
    subprocess.run(["/usr/bin/python3", "-c", LOADER, path], capture_output=True, timeout=300)
    return os.path.exists(marker)


def main():
    tarnwick = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as work:
        for label, suffix, build in CASES:
            marker = os.path.join(work, "marker")
            path = os.path.join(work, "model" + suffix)
            with open(path, "wb") as f:
                f.write(build(marker))
            if not runs_under_torch(path, marker):
                print(f"FAIL {label}: the file does not run its marker under torch.load, so it proves nothing")
                failures += 1
                continue
            os.unlink(marker)
            scan = subprocess.run([tarnwick, "scan", "--json", path], capture_output=True, text=True)
            verdict = json.loads(scan.stdout)["files"][0]["verdict"] if scan.stdout else "(no report)"
            ok = scan.returncode == 1 and verdict in ("unsafe", "unscannable")
            print(f"{'ok' if ok else 'FAIL'} {label}: runs under torch.load; scan exit {scan.returncode}, {verdict}")
            failures += not ok
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
