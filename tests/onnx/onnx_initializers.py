#!/usr/bin/env python3
"""Compare the initializers of `tarnwick contents --json` with the onnx package's reading.

Usage: onnx_initializers.py <tarnwick binary> <model.onnx>...
Walks the main graph and every subgraph (node attributes g and graphs) as the reader does, and
compares names, dtypes, shapes, element counts and byte sizes in order. Exits 1 on a mismatch.
"""
import json
import subprocess
import sys

import onnx

DTYPES = {1: "float32", 2: "uint8", 3: "int8", 4: "uint16", 5: "int16", 6: "int32", 7: "int64", 8: "string",
          9: "bool", 10: "float16", 11: "float64", 12: "uint32", 13: "uint64", 14: "complex64", 15: "complex128",
          16: "bfloat16", 17: "float8_e4m3fn", 18: "float8_e4m3fnuz", 19: "float8_e5m2", 20: "float8_e5m2fnuz",
          21: "uint4", 22: "int4", 23: "float4_e2m1", 24: "float8_e8m0"}
BITS = {1: 32, 2: 8, 3: 8, 4: 16, 5: 16, 6: 32, 7: 64, 9: 8, 10: 16, 11: 64, 12: 32, 13: 64, 14: 64, 15: 128,
        16: 16, 17: 8, 18: 8, 19: 8, 20: 8, 21: 4, 22: 4, 23: 4, 24: 8}


def initializers(graph):
    for tensor in graph.initializer:
        yield tensor
    for node in graph.node:
        for attribute in node.attribute:
            if attribute.HasField("g"):
                yield from initializers(attribute.g)
            for sub in attribute.graphs:
                yield from initializers(sub)


def expected(tensor):
    numel = 1
    for dim in tensor.dims:
        numel *= dim
    bits = BITS.get(tensor.data_type, 0)
    return {"name": tensor.name, "dtype": DTYPES.get(tensor.data_type, f"unknown({tensor.data_type})"),
            "shape": list(tensor.dims), "numel": numel, "bytes": (numel * bits + 7) // 8 if bits else None}


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    failed = 0
    for path in paths:
        model = onnx.load(path, load_external_data=False)
        want = [expected(t) for t in initializers(model.graph)]
        run = subprocess.run([binary, "contents", "--json", path], capture_output=True, text=True)
        if run.returncode != 0:
            print(f"FAIL {path}: {run.stderr.strip()}")
            failed += 1
            continue
        document = json.loads(run.stdout)
        got = [{k: t[k] for k in ("name", "dtype", "shape", "numel", "bytes")} for t in document["tensors"]]
        for entry, mine in zip(want, got):
            if entry["bytes"] is None:
                entry["bytes"] = mine["bytes"]
        ok = got == want and document["tensor_count"] == len(want) and document["format"] == "onnx"
        print(("ok  " if ok else "FAIL") + f" {path}: {len(want)} initializers")
        if not ok:
            failed += 1
            for entry, mine in zip(want, got):
                if entry != mine:
                    print(f"  expected {entry}\n  got      {mine}")
                    break
    print(f"{len(paths) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
