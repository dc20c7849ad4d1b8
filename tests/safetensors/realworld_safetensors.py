#!/usr/bin/env python3
"""The real safetensors files of the shared corpus against numpy's reading of them.

Usage: realworld_safetensors.py <tarnwick binary> <file.safetensors>...
For every file: `contents --json` lists each tensor with the name, dtype, shape, offset and
size that the header gives and numpy reads (the bytes at the offset are numpy's array); the
`inspect --json` file fingerprint is what `xxhsum -H3` prints; and one byte flipped inside each
tensor makes `diff --contents` name exactly that tensor, with the old fingerprint XXH3-64 of
numpy's bytes. Closes with "N passed, N failed".
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import numpy
import xxhash

# safetensors dtype: (canonical name, numpy dtype or None where numpy has none)
DTYPES = {"F64": ("float64", "<f8"), "F32": ("float32", "<f4"), "F16": ("float16", "<f2"),
          "BF16": ("bfloat16", None), "I64": ("int64", "<i8"), "I32": ("int32", "<i4"),
          "I16": ("int16", "<i2"), "I8": ("int8", "i1"), "U64": ("uint64", "<u8"),
          "U32": ("uint32", "<u4"), "U16": ("uint16", "<u2"), "U8": ("uint8", "u1"),
          "BOOL": ("bool", "?"), "F8_E4M3": ("float8_e4m3fn", None), "F8_E5M2": ("float8_e5m2", None)}


def run(binary, *args):
    done = subprocess.run([binary, *args], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return json.loads(done.stdout)


def numpy_reading(path):
    """(name, dtype, shape, offset, bytes) per tensor in data order, as numpy sees the file."""
    data = open(path, "rb").read()
    (header_size,) = struct.unpack("<Q", data[:8])
    header = json.loads(data[8:8 + header_size])
    header.pop("__metadata__", None)
    base = 8 + header_size
    tensors = []
    for name, info in header.items():
        begin, end = info["data_offsets"]
        raw = data[base + begin:base + end]
        dtype, numpy_dtype = DTYPES[info["dtype"]]
        if numpy_dtype:
            raw = numpy.frombuffer(raw, dtype=numpy_dtype).reshape(info["shape"]).tobytes()
        tensors.append((name, dtype, info["shape"], base + begin, raw))
    tensors.sort(key=lambda t: (t[3], t[0]))
    return data, tensors


def xxhsum(path):
    line = subprocess.run(["xxhsum", "-H3", path], capture_output=True, text=True, check=True).stdout
    return int(line.split("=")[-1].strip(), 16)


def check_file(binary, path, folder):
    problems = []
    data, expected = numpy_reading(path)
    listed = run(binary, "contents", "--json", path)["tensors"]
    got = [(t["name"], t["dtype"], t["shape"], t["offset"], t["bytes"]) for t in listed]
    want = [(name, dtype, shape, offset, len(raw)) for name, dtype, shape, offset, raw in expected]
    if got != want:
        problems.append(f"contents {got[:3]} vs numpy {want[:3]}")
    for name, _, _, offset, raw in expected:
        if data[offset:offset + len(raw)] != raw:
            problems.append(f"{name}: the bytes at its offset are not numpy's array")
    fingerprint = run(binary, "inspect", "--json", path)["file_fingerprint"]
    if fingerprint != xxhsum(path):
        problems.append(f"file_fingerprint {fingerprint:#x} is not xxhsum -H3's {xxhsum(path):#x}")
    copy = os.path.join(folder, os.path.basename(path))
    for name, _, _, offset, raw in expected:
        if not raw:
            continue
        at = offset + len(raw) // 2
        with open(copy, "wb") as out:
            out.write(data[:at] + bytes([data[at] ^ 0x01]) + data[at + 1:])
        diff = run(binary, "diff", "--contents", "--json", path, copy)
        changed = [(c["name"], c["what"]) for c in diff["changed"]]
        if changed != [(name, ["values"])] or diff["uncompared"] or diff["added"] or diff["removed"]:
            problems.append(f"flip in {name}: diff --contents says {changed[:3]}")
        elif int(diff["changed"][0]["old"]["fingerprint"], 16) != xxhash.xxh3_64_intdigest(raw):
            problems.append(f"{name}: fingerprint {diff['changed'][0]['old']['fingerprint']} is not XXH3-64 of its bytes")
    return problems


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        for path in paths:
            problems = check_file(binary, path, folder)
            print(("ok  " if not problems else "FAIL") + " " + os.path.basename(path))
            for problem in problems[:5]:
                print("  " + problem)
            failed += bool(problems)
    print(f"{len(paths) - failed} passed, {failed} failed")
    return 1 if failed or not paths else 0


if __name__ == "__main__":
    sys.exit(main())
