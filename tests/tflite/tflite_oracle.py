#!/usr/bin/env python3
"""TFLite models against flatc's reading of them with the published schema's tables.

Usage: tflite_oracle.py <tarnwick binary> <schema.fbs> [<model.tflite>...]
Models are written by flatc from JSON here (two subgraphs, quantized tensors, a custom operator,
a signature def, metadata, an old file that sets only the deprecated operator byte) and read
with the real ones given. For each, `contents --json` lists exactly the tensors whose buffer
holds data, with flatc's name, type, shape and byte count; operator counts and custom operator
names, subgraph inputs and outputs, signature defs and quantization parameters agree with
flatc's JSON; one byte flipped inside each tensor's data makes `diff --contents` name exactly that
tensor with its fingerprint XXH3-64 of flatc's bytes; and every file cut short is an error.
Closes with "N passed, N failed".
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import xxhash

DTYPES = {"FLOAT32": "float32", "FLOAT16": "float16", "INT32": "int32", "UINT8": "uint8", "INT64": "int64",
          "STRING": "string", "BOOL": "bool", "INT16": "int16", "COMPLEX64": "complex64", "INT8": "int8",
          "FLOAT64": "float64", "COMPLEX128": "complex128", "UINT64": "uint64", "UINT32": "uint32",
          "UINT16": "uint16", "BFLOAT16": "bfloat16"}
CUSTOM = 32


def run(binary, *args, ok=True):
    done = subprocess.run([binary, *args], capture_output=True, text=True)
    if ok and done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return done


def flatc_reading(schema, path, folder):
    subprocess.run(["flatc", "--json", "--raw-binary", "--strict-json", "--defaults-json", "-o", folder, schema,
                    "--", path], check=True, capture_output=True)
    name = os.path.splitext(os.path.basename(path))[0] + ".json"
    with open(os.path.join(folder, name)) as handle:
        return json.load(handle)


def expected_tensors(model):
    rows = []
    for index, subgraph in enumerate(model.get("subgraphs", [])):
        prefix = "" if index == 0 else (subgraph.get("name") or f"subgraph{index}") + "/"
        for tensor in subgraph.get("tensors", []):
            data = model["buffers"][tensor.get("buffer", 0)].get("data", []) if tensor.get("buffer", 0) else []
            if data:
                rows.append((prefix + tensor.get("name", ""), DTYPES.get(tensor["type"], tensor["type"]),
                             tensor.get("shape", []), bytes(data)))
    return rows


def operator_codes(model):
    names = []
    for code in model.get("operator_codes", []):
        value = max(code.get("deprecated_builtin_code", 0), code.get("builtin_code", 0))
        names.append(("custom", code.get("custom_code", "CUSTOM")) if value == CUSTOM else ("builtin", value))
    return names


def check_model(binary, schema, path, folder):
    problems = []
    theirs = flatc_reading(schema, path, folder)
    mine = json.loads(run(binary, "contents", "--json", path).stdout)
    want = expected_tensors(theirs)
    got = [(t["name"], t["dtype"], t["shape"], t["bytes"]) for t in mine["tensors"]]
    if got != [(n, d, s, len(b)) for n, d, s, b in want]:
        problems.append(f"tensors {got[:3]} vs flatc's {[(n, d, s, len(b)) for n, d, s, b in want][:3]}")
    meta = mine["metadata"]
    codes = operator_codes(theirs)
    used = [codes[op.get("opcode_index", 0)] for sub in theirs.get("subgraphs", []) for op in sub.get("operators", [])]
    if sum(meta["operators"].values()) != len(used):
        problems.append(f"{sum(meta['operators'].values())} operators counted, flatc has {len(used)}")
    customs = sorted({name for kind, name in codes if kind == "custom"})
    if meta["custom_operators"] != customs:
        problems.append(f"custom operators {meta['custom_operators']} vs {customs}")
    for kind, name in set(used):
        if kind == "custom" and meta["operators"].get(name) != used.count((kind, name)):
            problems.append(f"custom operator {name}: {meta['operators'].get(name)} vs {used.count((kind, name))}")
    for index, subgraph in enumerate(theirs.get("subgraphs", [])):
        prefix = "" if index == 0 else (subgraph.get("name") or f"subgraph{index}") + "/"
        names = [prefix + t.get("name", "") for t in subgraph.get("tensors", [])]
        listed = meta["subgraphs"][index]
        if listed["inputs"] != [names[i] for i in subgraph.get("inputs", [])] or \
                listed["outputs"] != [names[i] for i in subgraph.get("outputs", [])]:
            problems.append(f"subgraph {index} inputs/outputs {listed['inputs']} {listed['outputs']}")
        for tensor, name in zip(subgraph.get("tensors", []), names):
            q = tensor.get("quantization") or {}
            if q.get("scale") and meta.get("quantization", {}).get(name, {}).get("scale") != q["scale"][:16]:
                problems.append(f"{name}: quantization {meta.get('quantization', {}).get(name)} vs {q}")
    signatures = [(s.get("signature_key", ""), [m.get("name", "") for m in s.get("inputs", [])],
                   [m.get("name", "") for m in s.get("outputs", [])]) for s in theirs.get("signature_defs", [])]
    if [(s["key"], s["inputs"], s["outputs"]) for s in meta["signature_defs"]] != signatures:
        problems.append(f"signature defs {meta['signature_defs']} vs {signatures}")
    data = open(path, "rb").read()
    copy = os.path.join(folder, "flipped.tflite")
    for tensor, (name, _, _, raw) in zip(mine["tensors"], want):
        at = tensor["offset"] + len(raw) // 2
        if data[tensor["offset"]:tensor["offset"] + len(raw)] != raw:
            problems.append(f"{name}: the bytes at its offset are not flatc's")
            continue
        with open(copy, "wb") as out:
            out.write(data[:at] + bytes([data[at] ^ 1]) + data[at + 1:])
        diff = json.loads(run(binary, "diff", "--contents", "--json", path, copy).stdout)
        changed = [(c["name"], c["what"]) for c in diff["changed"]]
        if changed != [(name, ["values"])] or diff["uncompared"]:
            problems.append(f"flip in {name}: diff --contents says {changed[:3]}")
        elif int(diff["changed"][0]["old"]["fingerprint"], 16) != xxhash.xxh3_64_intdigest(raw):
            problems.append(f"{name}: fingerprint is not XXH3-64 of its bytes")
    for cut in sorted({1, 7, 9, len(data) // 3, len(data) // 2, len(data) - 1}):
        short = os.path.join(folder, "short.tflite")
        with open(short, "wb") as out:
            out.write(data[:cut])
        for command in ("contents", "inspect"):
            done = run(binary, command, short, ok=False)
            if done.returncode != 1 or not done.stderr.startswith("error: "):
                problems.append(f"{command} of the file cut to {cut} bytes: exit {done.returncode}")
    return problems


def floats(*values):
    return list(struct.pack(f"<{len(values)}f", *values))


def written_models():
    """Models as flatc would be given them by a converter: JSON, compiled with the schema."""
    conv = {"version": 3, "description": "written by the test",
            "operator_codes": [{"deprecated_builtin_code": 3, "builtin_code": 3},
                               {"deprecated_builtin_code": 32, "builtin_code": 32, "custom_code": "MyFusedOp"},
                               {"deprecated_builtin_code": 127, "builtin_code": 150}],
            "buffers": [{}, {"data": floats(*range(12))}, {"data": floats(0.5, -0.5)},
                        {"data": list(range(16))}, {"data": [1, 2, 3, 4]}, {"data": list(b"{\"author\": \"t\"}")}],
            "subgraphs": [
                {"name": "main", "inputs": [0], "outputs": [3],
                 "tensors": [{"name": "x", "shape": [1, 4], "type": "FLOAT32"},
                             {"name": "w", "shape": [3, 4], "type": "FLOAT32", "buffer": 1},
                             {"name": "b", "shape": [2], "type": "FLOAT32", "buffer": 2},
                             {"name": "y", "shape": [1, 3], "type": "FLOAT32"},
                             {"name": "w_q", "shape": [4, 4], "type": "INT8", "buffer": 3,
                              "quantization": {"scale": [0.5, 0.25, 0.125, 1.0], "zero_point": [0, 0, 1, -1],
                                               "quantized_dimension": 0}}],
                 "operators": [{"opcode_index": 0, "inputs": [0, 1, 2], "outputs": [3]},
                               {"opcode_index": 1, "inputs": [3, 4], "outputs": [3]},
                               {"opcode_index": 2, "inputs": [3], "outputs": [3]}]},
                {"name": "", "inputs": [0], "outputs": [1],
                 "tensors": [{"name": "in", "shape": [4], "type": "UINT8"},
                             {"name": "table", "shape": [4], "type": "UINT8", "buffer": 4}],
                 "operators": [{"opcode_index": 0, "inputs": [0, 1], "outputs": [0]}]}],
            "metadata": [{"name": "min_runtime_version", "buffer": 5}],
            "signature_defs": [{"signature_key": "serving_default", "subgraph_index": 0,
                                "inputs": [{"name": "x", "tensor_index": 0}],
                                "outputs": [{"name": "y", "tensor_index": 3}]}]}
    old = {"version": 3, "operator_codes": [{"deprecated_builtin_code": 9}],
           "buffers": [{}, {"data": floats(1, 2)}],
           "subgraphs": [{"tensors": [{"name": "fc", "shape": [2], "type": "FLOAT32", "buffer": 1}],
                          "operators": [{"opcode_index": 0, "inputs": [0], "outputs": [0]}]}]}
    return {"written.tflite": conv, "old_opcode.tflite": old}


def main():
    binary, schema, real = sys.argv[1], sys.argv[2], sys.argv[3:]
    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for name, model in written_models().items():
            source = os.path.join(folder, os.path.splitext(name)[0] + ".json")
            with open(source, "w") as handle:
                json.dump(model, handle)
            subprocess.run(["flatc", "-b", "-o", folder, schema, source], check=True, capture_output=True)
            paths.append(os.path.join(folder, name))
        work = os.path.join(folder, "work")
        os.makedirs(work)
        for path in paths + real:
            problems = check_model(binary, schema, path, work)
            print(("ok  " if not problems else "FAIL") + " " + os.path.basename(path))
            for problem in problems[:6]:
                print("  " + problem)
            failed += bool(problems)
        print(f"{len(paths) + len(real) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
