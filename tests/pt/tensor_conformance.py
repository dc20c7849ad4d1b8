#!/usr/bin/env python3
"""Cross-check `tarnwick contents --json` against torch.load on real checkpoints.

Usage: tensor_conformance.py <tarnwick binary> <checkpoint>...
torch.load(path, map_location="cpu", weights_only=True) loads each checkpoint (the corpus holds
only tensors, state dicts and plain containers, so the restricted loader suffices); the loaded
object is flattened into name -> (dtype, shape) by key paths joined with "." (dicts by key, lists
and tuples by index), which must equal tarnwick's tensor table in names, order, dtypes, shapes and
element counts; where tarnwick gives a tensor's file offset, the bytes there must equal the
tensor's own bytes as torch loaded them. Closes with "N passed, N failed".
"""
import json
import subprocess
import sys

import torch

DTYPES = {
    torch.float64: "float64", torch.float32: "float32", torch.float16: "float16",
    torch.bfloat16: "bfloat16", torch.int64: "int64", torch.int32: "int32", torch.int16: "int16",
    torch.int8: "int8", torch.uint8: "uint8", torch.bool: "bool", torch.complex64: "complex64",
    torch.complex128: "complex128",
}


def flatten(value, prefix, out):
    if isinstance(value, torch.Tensor):
        out.append((prefix, DTYPES.get(value.dtype, str(value.dtype)), list(value.shape), value.numel(),
                    value.numel() * value.element_size()))
    elif isinstance(value, dict):
        for key, item in value.items():
            flatten(item, f"{prefix}.{key}" if prefix else str(key), out)
    elif isinstance(value, (list, tuple)):
        for index, item in enumerate(value):
            flatten(item, f"{prefix}.{index}" if prefix else str(index), out)
    return out


def tensors_of(value, prefix, out):
    if isinstance(value, torch.Tensor):
        out.append((prefix, value))
    elif isinstance(value, dict):
        for key, item in value.items():
            tensors_of(item, f"{prefix}.{key}" if prefix else str(key), out)
    elif isinstance(value, (list, tuple)):
        for index, item in enumerate(value):
            tensors_of(item, f"{prefix}.{index}" if prefix else str(index), out)
    return out


def raw_bytes(tensor):
    return tensor.detach().contiguous().reshape(-1).view(torch.uint8).numpy().tobytes()


def check(binary, path):
    loaded = torch.load(path, map_location="cpu", weights_only=True)
    expected = flatten(loaded, "", [])
    run = subprocess.run([binary, "contents", "--json", path], capture_output=True, text=True)
    if run.returncode != 0:
        return [f"tarnwick failed: {run.stderr.strip()}"]
    document = json.loads(run.stdout)
    actual = [(t["name"], t["dtype"], t["shape"], t["numel"], t["bytes"]) for t in document["tensors"]]
    problems = []
    with open(path, "rb") as stream:
        for tensor, (name, value) in zip(document["tensors"], tensors_of(loaded, "", [])):
            if tensor.get("offset") is None:
                continue
            stream.seek(tensor["offset"])
            if stream.read(tensor["bytes"]) != raw_bytes(value):
                problems.append(f"{name}: the bytes at offset {tensor['offset']} are not the tensor's")
    if document.get("format") not in ("pytorch-zip", "pytorch-legacy"):
        problems.append(f"format {document.get('format')!r}")
    if len(actual) != len(expected):
        problems.append(f"{len(actual)} tensors, torch.load finds {len(expected)}")
    for mine, theirs in zip(actual, expected):
        if mine != theirs:
            problems.append(f"tarnwick {mine} != torch {theirs}")
    if document.get("tensor_count", len(actual)) != len(expected):
        problems.append(f"tensor_count {document.get('tensor_count')}")
    return problems


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    for path in paths:
        problems = check(binary, path)
        if problems:
            failed += 1
            print(f"FAIL {path}")
            for problem in problems[:10]:
                print(f"  {problem}")
        else:
            passed += 1
            print(f"ok   {path}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
