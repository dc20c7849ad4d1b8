#!/usr/bin/env python3
"""NumPy .npy and .npz files written by numpy itself, against numpy's reading of them.

Usage: numpy_oracle.py <tarnwick binary>
Arrays of every plain dtype (both byte orders), C and Fortran order, 0-d and empty arrays,
object, structured, string and datetime arrays are saved with np.save, np.savez and
np.savez_compressed. Then:
- `contents --json` lists each array numpy.load opens, named as numpy keys it, with numpy's
  dtype, shape, element count and bytes, and the offset numpy's own header reader stops at;
- fingerprints are over little-endian C-order elements: the same values saved in another byte
  order, memory order or compressed compare as unchanged, and `diff --contents` shows
  XXH3-64 of numpy's little-endian C-order bytes for a changed array;
- one byte flipped inside each stored array makes `diff --contents` name exactly that array;
- object and structured arrays are listed as not compared, with the reason;
- every file cut at several points is an error for `contents` and `inspect`.
Closes with "N passed, N failed".
"""
import io
import json
import os
import subprocess
import sys
import tempfile
import zipfile

import numpy as np
import xxhash

CANONICAL = {"f8": "float64", "f4": "float32", "f2": "float16", "c8": "complex64", "c16": "complex128",
             "i8": "int64", "i4": "int32", "i2": "int16", "i1": "int8", "u8": "uint64", "u4": "uint32",
             "u2": "uint16", "u1": "uint8", "b1": "bool"}
RESULTS = {"passed": 0, "failed": 0}
BINARY = None


def report(label, problems):
    RESULTS["failed" if problems else "passed"] += 1
    print(("FAIL " if problems else "ok   ") + label)
    for problem in problems[:6]:
        print("  " + problem)


def run(*args, ok=True):
    done = subprocess.run([BINARY, *args], capture_output=True, text=True)
    if ok and done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return done


def contents(path):
    return json.loads(run("contents", "--json", path).stdout)


def arrays():
    rng = np.random.default_rng(7)
    plain = {}
    for code in CANONICAL:
        kind = code[0]
        if kind == "b":
            value = rng.integers(0, 2, (3, 4)).astype(bool)
        elif kind in "iu":
            value = rng.integers(0, 100, (3, 4)).astype("<" + code)
        elif kind == "c":
            value = (rng.standard_normal((3, 4)) + 1j * rng.standard_normal((3, 4))).astype("<" + code)
        else:
            value = rng.standard_normal((3, 4)).astype("<" + code)
        plain[code] = value
    plain["scalar"] = np.float32(2.5) * np.ones((), np.float32)
    plain["empty"] = np.zeros((0, 3), np.int16)
    plain["cube"] = np.asfortranarray(rng.standard_normal((2, 3, 4)).astype(np.float32))
    return plain


def expected_dtype(array):
    if array.dtype.hasobject:
        return "object"
    code = array.dtype.str[1:]
    if array.dtype.names is None and code in CANONICAL:
        return CANONICAL[code]
    return None  # unknown(<descr>), checked by prefix


def canonical_bytes(array):
    """Little-endian elements in C order: what a fingerprint is taken over."""
    little = array.astype(array.dtype.newbyteorder("<")) if array.dtype.byteorder == ">" else array
    return np.ascontiguousarray(little).tobytes()


def header_end(stream):
    np.lib.format.read_magic(stream)
    stream.seek(0)
    version = np.lib.format.read_magic(stream)
    if version == (1, 0):
        np.lib.format.read_array_header_1_0(stream)
    else:
        np.lib.format.read_array_header_2_0(stream)
    return stream.tell()


def numpy_listing(path):
    """(name, dtype, shape, numel, bytes, offset or None) for each array numpy.load opens."""
    rows = []
    if zipfile.is_zipfile(path):
        archive = zipfile.ZipFile(path)
        with open(path, "rb") as raw:
            for info in archive.infolist():
                data = archive.read(info.filename)
                if not data.startswith(b"\x93NUMPY"):
                    continue
                name = info.filename[:-4] if info.filename.endswith(".npy") else info.filename
                array = np.load(path, allow_pickle=True)[name]
                offset = None
                if info.compress_type == zipfile.ZIP_STORED:
                    raw.seek(info.header_offset + 26)
                    name_length, extra_length = np.frombuffer(raw.read(4), "<u2")
                    offset = info.header_offset + 30 + int(name_length) + int(extra_length) + header_end(io.BytesIO(data))
                rows.append((name, array, offset))
    else:
        array = np.load(path, allow_pickle=True)
        with open(path, "rb") as raw:
            rows.append(("array", array, header_end(raw)))
    return rows


def check_listing(path):
    problems = []
    listed = {t["name"]: t for t in contents(path)["tensors"]}
    theirs = numpy_listing(path)
    if sorted(listed) != sorted(name for name, _, _ in theirs):
        return [f"names {sorted(listed)} vs numpy's {sorted(n for n, _, _ in theirs)}"]
    for name, array, offset in theirs:
        tensor = listed[name]
        want_dtype = expected_dtype(array)
        if want_dtype and tensor["dtype"] != want_dtype or not want_dtype and not tensor["dtype"].startswith("unknown("):
            problems.append(f"{name}: dtype {tensor['dtype']} for numpy's {array.dtype.str}")
        if tensor["shape"] != list(array.shape) or tensor["numel"] != array.size:
            problems.append(f"{name}: shape {tensor['shape']} for numpy's {list(array.shape)}")
        if array.dtype.names is None and not array.dtype.hasobject and tensor["bytes"] != array.nbytes:
            problems.append(f"{name}: {tensor['bytes']} bytes for numpy's {array.nbytes}")
        if tensor["offset"] != offset:
            problems.append(f"{name}: offset {tensor['offset']} where numpy's header ends at {offset}")
    return problems


def flipped(path, at, folder):
    data = bytearray(open(path, "rb").read())
    data[at] ^= 0x01
    copy = os.path.join(folder, "flipped-" + os.path.basename(path))
    with open(copy, "wb") as out:
        out.write(data)
    return copy


def changes(old, new):
    diff = json.loads(run("diff", "--contents", "--json", old, new).stdout)
    return diff, [(c["name"], c["what"]) for c in diff["changed"]]


def check_flips(path, folder):
    problems = []
    for tensor in contents(path)["tensors"]:
        if tensor["offset"] is None or tensor["bytes"] == 0 or tensor["dtype"] == "object":
            continue
        copy = flipped(path, tensor["offset"] + tensor["bytes"] // 2, folder)
        diff, changed = changes(path, copy)
        if changed != [(tensor["name"], ["values"])] or diff["uncompared"]:
            problems.append(f"flip in {tensor['name']}: diff --contents says {changed[:3]}, uncompared {diff['uncompared'][:2]}")
        os.remove(copy)
    return problems


def main():
    global BINARY
    BINARY = sys.argv[1]
    plain = arrays()
    with tempfile.TemporaryDirectory() as folder:
        def save(name, array):
            path = os.path.join(folder, name)
            np.save(path, array, allow_pickle=True)
            return path

        singles = {key: save(f"{key}.npy", value) for key, value in plain.items()}
        singles["big"] = save("big.npy", plain["f4"].astype(">f4"))
        singles["bigc"] = save("bigc.npy", plain["c16"].astype(">c16"))
        singles["fortran"] = save("fortran.npy", np.asfortranarray(plain["f8"]))
        singles["object"] = save("object.npy", np.array([1, "a", None], dtype=object))
        singles["structured"] = save("structured.npy", np.zeros(3, dtype=[("a", "<i4"), ("b", "<f8")]))
        singles["text"] = save("text.npy", np.array(["ab", "cde"]))
        singles["time"] = save("time.npy", np.array(["2026-01-01"], dtype="datetime64[ns]"))
        stored = os.path.join(folder, "stored.npz")
        np.savez(stored, **{key: value for key, value in plain.items()}, note=np.array(["x"]))
        packed = os.path.join(folder, "packed.npz")
        np.savez_compressed(packed, **{key: value for key, value in plain.items()})
        with zipfile.ZipFile(stored, "a") as archive:
            archive.writestr("README.txt", "not an array")

        for path in list(singles.values()) + [stored, packed]:
            report(f"listing of {os.path.basename(path)}", check_listing(path))
        for path in (singles["f4"], singles["cube"], stored):
            report(f"a flipped byte per array of {os.path.basename(path)}", check_flips(path, folder))

        # The same values in another byte order, memory order or compression compare as unchanged.
        problems = []
        for other in ("big", "fortran"):
            original = singles["f4" if other == "big" else "f8"]
            diff, changed = changes(original, singles[other])
            if changed or diff["uncompared"] or diff["unchanged_count"] != 1:
                problems.append(f"{other}: {changed} {diff['uncompared']}")
        diff, changed = changes(stored, packed)
        if changed or diff["uncompared"] or diff["unchanged_count"] != len(plain):
            problems.append(f"stored vs compressed: {changed} {diff['uncompared']}")
        report("equal values in other layouts compare as unchanged", problems)

        # A changed array's fingerprint is XXH3-64 of numpy's little-endian C-order bytes.
        problems = []
        for key in ("f4", "c16", "cube", "bool" if "bool" in plain else "b1"):
            array = plain[key]
            changed_array = array.copy()
            changed_array.flat[0] = not changed_array.flat[0] if array.dtype == bool else changed_array.flat[0] + 1
            for layout, value in (("as is", changed_array), ("big-endian", changed_array.astype(changed_array.dtype.newbyteorder(">")))):
                path = save(f"changed-{key}.npy", value)
                diff, changed = changes(singles[key], path)
                if changed != [("array", ["values"])]:
                    problems.append(f"{key} {layout}: {changed}")
                    continue
                sides = diff["changed"][0]
                for side, expected in (("old", array), ("new", changed_array)):
                    if int(sides[side]["fingerprint"], 16) != xxhash.xxh3_64_intdigest(canonical_bytes(expected)):
                        problems.append(f"{key} {layout}: {side} fingerprint is not XXH3-64 of numpy's C-order bytes")
        report("fingerprints are XXH3-64 of little-endian C-order elements", problems)

        # Statistics read the values whatever the layout: numpy's figures for each (float64 sums).
        problems = []
        for key, path in (("f8", singles["fortran"]), ("f4", singles["big"]), ("cube", singles["cube"]),
                          ("f2", packed)):
            values = plain[key].astype(np.float64)
            document = json.loads(run("contents", "--stats", "--json", path).stdout)
            tensor = next(t for t in document["tensors"] if t["name"] in (key, "array"))
            stats = tensor.get("stats") or {}
            want = {"min": values.min(), "max": values.max(), "mean": values.mean(), "std": values.std(),
                    "l2": float(np.sqrt((values * values).sum()))}
            for name, value in want.items():
                if stats.get(name) is None or abs(stats[name] - value) > 1e-9 * max(1.0, abs(value)):
                    problems.append(f"{os.path.basename(path)} {key}: {name} {stats.get(name)} for numpy's {value}")
        report("statistics of byte-swapped, Fortran-order and compressed arrays equal numpy's", problems)

        # Arrays whose values are not plain elements are listed, never counted as unchanged.
        problems = []
        for key in ("object", "structured"):
            diff, _ = changes(singles[key], singles[key])
            if [u["name"] for u in diff["uncompared"]] != ["array"] or diff["unchanged_count"] != 0:
                problems.append(f"{key}: uncompared {diff['uncompared']}, unchanged {diff['unchanged_count']}")
        report("object and structured arrays are listed as not compared", problems)

        # Cut short anywhere: an error, never a listing of what is left.
        problems = []
        for path in (singles["f4"], singles["cube"], stored, packed):
            data = open(path, "rb").read()
            for cut in sorted({1, 7, 9, len(data) // 3, len(data) // 2, len(data) - 1}):
                short = os.path.join(folder, "short-" + os.path.basename(path))
                with open(short, "wb") as out:
                    out.write(data[:cut])
                for command in ("contents", "inspect"):
                    done = run(command, short, ok=False)
                    if done.returncode != 1 or not done.stderr.startswith("error: "):
                        problems.append(f"{command} of {os.path.basename(path)} cut to {cut}: exit {done.returncode}")
        report("a cut file is an error", problems)
    print(f"{RESULTS['passed']} passed, {RESULTS['failed']} failed")
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
