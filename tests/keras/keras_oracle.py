#!/usr/bin/env python3
"""Keras `.keras` archives, written here with h5py in the layout Keras 3 uses, against h5py's
reading of them.

Usage: keras_oracle.py <tarnwick binary>
Archives stored and deflated, with contiguous, chunked-and-gzipped, big-endian, integer and
bool datasets and optimizer variables. Then:
- `contents --json` lists every dataset of model.weights.h5 with h5py's path, dtype, shape and
  bytes, and for a contiguous dataset of a stored archive the offset h5py gives (plus the
  member's place in the zip); the layers come from config.json;
- a byte flipped inside each contiguous dataset makes `diff --contents` name exactly it, and
  the same values stored another way (deflated archive, chunked, big-endian) compare unchanged;
- `contents --stats` equals numpy over h5py's arrays;
- a Lambda layer (marshalled bytecode) is dangerous for `scan`; a plain model is safe;
- every archive cut short is an error.
Closes with "N passed, N failed".
"""
import io
import json
import os
import subprocess
import sys
import tempfile
import zipfile

import h5py
import numpy as np

BINARY = None
RESULTS = {"passed": 0, "failed": 0}
DTYPES = {"<f4": "float32", "<f8": "float64", "<f2": "float16", "<i8": "int64", "<i4": "int32", "|u1": "uint8",
          "|i1": "int8", ">f4": "float32", "|b1": "bool"}


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


def weights(chunked=False, big_endian=False):
    rng = np.random.default_rng(3)
    kernel = rng.standard_normal((4, 8)).astype(np.float32)
    return [("dense", "Dense", 8, "relu", [kernel.astype(">f4") if big_endian else kernel, np.zeros(8, np.float32)]),
            ("embed", "Embedding", None, None, [rng.standard_normal((10, 3)).astype(np.float64)]),
            ("norm", "BatchNormalization", None, None,
             [rng.standard_normal(8).astype(np.float16), np.arange(8, dtype=np.int64), np.array([1, 0, 1], bool)])], chunked


def keras_file(path, layers_and_chunked, compression=zipfile.ZIP_STORED, extra_layer=None):
    layers, chunked = layers_and_chunked
    config = {"module": "keras", "class_name": "Sequential", "config": {"name": "seq", "layers": []}}
    buffer = io.BytesIO()
    with h5py.File(buffer, "w") as h5:
        for name, kind, units, activation, arrays in layers:
            settings = {"name": name}
            if units:
                settings["units"] = units
            if activation:
                settings["activation"] = activation
            config["config"]["layers"].append({"module": "keras.layers", "class_name": kind, "config": settings})
            group = h5.create_group(f"layers/{name}/vars")
            for index, array in enumerate(arrays):
                options = {"chunks": True, "compression": "gzip"} if chunked and array.ndim > 0 and array.size > 4 else {}
                group.create_dataset(str(index), data=array, **options)
        h5.create_group("optimizer/vars").create_dataset("0", data=np.array(7, np.int64))
    if extra_layer:
        config["config"]["layers"].append(extra_layer)
    with zipfile.ZipFile(path, "w", compression) as archive:
        archive.writestr("metadata.json", json.dumps({"keras_version": "3.3.3", "date_saved": "2026-12-08"}))
        archive.writestr("config.json", json.dumps(config))
        archive.writestr("model.weights.h5", buffer.getvalue())
    return path


def h5py_listing(path):
    """(path, dtype, shape, bytes, file offset or None, array) per dataset, as h5py sees them."""
    archive = zipfile.ZipFile(path)
    info = archive.getinfo("model.weights.h5")
    data = archive.read("model.weights.h5")
    member_start = None
    if info.compress_type == zipfile.ZIP_STORED:
        with open(path, "rb") as raw:
            raw.seek(info.header_offset + 26)
            name_length, extra_length = np.frombuffer(raw.read(4), "<u2")
            member_start = info.header_offset + 30 + int(name_length) + int(extra_length)
    rows = []
    with h5py.File(io.BytesIO(data), "r") as h5:
        def visit(name, item):
            if isinstance(item, h5py.Dataset):
                offset = item.id.get_offset()
                contiguous = item.chunks is None and item.dtype.byteorder != ">" and offset is not None
                file_offset = member_start + offset if contiguous and member_start is not None else None
                rows.append((name, DTYPES[item.dtype.str], list(item.shape), item.dtype.itemsize * item.size,
                             file_offset, item[()]))
        h5.visititems(visit)
    return sorted(rows, key=lambda row: row[0])


def contents(path, *options):
    return json.loads(run("contents", "--json", *options, path).stdout)


def check_listing(path):
    problems = []
    document = contents(path)
    got = sorted((t["name"], t["dtype"], t["shape"], t["bytes"], t["offset"]) for t in document["tensors"])
    want = [(name, dtype, shape, size, offset) for name, dtype, shape, size, offset, _ in h5py_listing(path)]
    if got != want:
        problems.append(f"tensors {got[:3]} vs h5py's {want[:3]}")
    layers = [(layer.get("class"), layer.get("name")) for layer in document["metadata"]["layers"]]
    if layers != [("Dense", "dense"), ("Embedding", "embed"), ("BatchNormalization", "norm")]:
        problems.append(f"layers {layers}")
    if document["metadata"]["keras_version"] != "3.3.3":
        problems.append(f"keras_version {document['metadata']['keras_version']}")
    return problems


def check_flips(path, folder):
    problems = []
    data = open(path, "rb").read()
    for name, _, _, size, offset, _ in h5py_listing(path):
        if offset is None or size == 0:
            continue
        at = offset + size // 2
        copy = os.path.join(folder, "flipped.keras")
        with open(copy, "wb") as out:
            out.write(data[:at] + bytes([data[at] ^ 1]) + data[at + 1:])
        diff = json.loads(run("diff", "--contents", "--json", path, copy).stdout)
        changed = [(c["name"], c["what"]) for c in diff["changed"]]
        if changed != [(name, ["values"])] or diff["uncompared"]:
            problems.append(f"flip in {name}: diff --contents says {changed[:3]}")
    return problems


def check_stats(path):
    problems = []
    stats = {t["name"]: t.get("stats") for t in contents(path, "--stats")["tensors"]}
    for name, _, _, _, _, array in h5py_listing(path):
        values = np.asarray(array, dtype=np.float64).reshape(-1)
        mine = stats.get(name) or {}
        want = {"min": values.min(), "max": values.max(), "mean": values.mean(), "l2": float(np.sqrt((values ** 2).sum()))}
        for key, value in want.items():
            if mine.get(key) is None or abs(mine[key] - value) > 1e-9 * max(1.0, abs(value)):
                problems.append(f"{name}: {key} {mine.get(key)} for numpy's {value}")
    return problems


def main():
    global BINARY
    BINARY = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        stored = keras_file(os.path.join(folder, "stored.keras"), weights())
        deflated = keras_file(os.path.join(folder, "deflated.keras"), weights(), zipfile.ZIP_DEFLATED)
        chunked = keras_file(os.path.join(folder, "chunked.keras"), weights(chunked=True))
        swapped = keras_file(os.path.join(folder, "swapped.keras"), weights(big_endian=True))
        for path in (stored, deflated, chunked, swapped):
            report(f"listing of {os.path.basename(path)} equals h5py's", check_listing(path))
            report(f"statistics of {os.path.basename(path)} equal numpy's", check_stats(path))
        report("a flipped byte names its dataset", check_flips(stored, folder))
        problems = []
        for other in (deflated, chunked, swapped):
            diff = json.loads(run("diff", "--contents", "--json", stored, other).stdout)
            if diff["changed"] or diff["uncompared"] or diff["added"] or diff["removed"]:
                problems.append(f"{os.path.basename(other)}: {diff['changed'][:2]} {diff['uncompared'][:2]}")
        report("the same values stored another way compare unchanged", problems)

        lambda_layer = {"module": "keras.layers", "class_name": "Lambda",
                        "config": {"name": "shell", "function": {"class_name": "__lambda__",
                                                                 "config": {"code": "4wEAAAAAAAAAAAAAAAEAAAADAAAA"}}}}
        risky = keras_file(os.path.join(folder, "lambda.keras"), weights(), extra_layer=lambda_layer)
        problems = []
        plain = json.loads(run("scan", "--json", stored, ok=False).stdout)["files"][0]
        judged = json.loads(run("scan", "--json", risky, ok=False).stdout)["files"][0]
        if plain["verdict"] != "safe":
            problems.append(f"a plain model is {plain['verdict']}: {plain['findings']}")
        if judged["verdict"] != "unsafe" or not any("Lambda layer shell" in f["message"] for f in judged["findings"]):
            problems.append(f"a Lambda layer gives {judged['verdict']}: {judged['findings']}")
        report("scan: Lambda layers are dangerous, plain models safe", problems)

        problems = []
        for path in (stored, deflated):
            data = open(path, "rb").read()
            for cut in sorted({1, 7, len(data) // 4, len(data) // 2, 3 * len(data) // 4, len(data) - 1}):
                short = os.path.join(folder, "short.keras")
                with open(short, "wb") as out:
                    out.write(data[:cut])
                for command in ("contents", "inspect"):
                    done = run(command, short, ok=False)
                    if done.returncode != 1 or not done.stderr.startswith("error: "):
                        problems.append(f"{command} of {os.path.basename(path)} cut to {cut}: exit {done.returncode}")
        report("a cut archive is an error", problems)
    print(f"{RESULTS['passed']} passed, {RESULTS['failed']} failed")
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
