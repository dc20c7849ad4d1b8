#!/usr/bin/env python3
"""Write each PyTorch checkpoint's tensors as a safetensors file, then expect
`tarnwick diff --contents` to find no change between the two.

Usage: pytorch_safetensors_cross.py <tarnwick binary> <checkpoint>...
Checkpoints are loaded with torch's weights-only loader; the safetensors layout is written by
hand (no safetensors package). Exits 77 while the PyTorch tensor reader is not available.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import torch

CODES = {torch.float32: "F32", torch.float16: "F16", torch.bfloat16: "BF16", torch.float64: "F64",
         torch.int64: "I64", torch.int32: "I32", torch.int16: "I16", torch.int8: "I8", torch.uint8: "U8",
         torch.bool: "BOOL", torch.complex64: "C64"}


def tensors(value, prefix=""):
    if isinstance(value, torch.Tensor):
        yield prefix, value
    elif isinstance(value, dict):
        for key, item in value.items():
            yield from tensors(item, f"{prefix}.{key}" if prefix else str(key))
    elif isinstance(value, (list, tuple)):
        for index, item in enumerate(value):
            yield from tensors(item, f"{prefix}.{index}" if prefix else str(index))


def write_safetensors(path, named):
    header, data = {}, bytearray()
    for name, tensor in named:
        raw = tensor.detach().contiguous().reshape(-1).view(torch.uint8).numpy().tobytes()
        header[name] = {"dtype": CODES[tensor.dtype], "shape": list(tensor.shape),
                        "data_offsets": [len(data), len(data) + len(raw)]}
        data += raw
    text = json.dumps(header).encode()
    text += b" " * (-len(text) % 8)
    with open(path, "wb") as out:
        out.write(struct.pack("<Q", len(text)) + text + bytes(data))


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    probe = subprocess.run([binary, "contents", paths[0]], capture_output=True, text=True)
    if "not available yet" in probe.stderr:
        print("skipped: the PyTorch tensor reader is not available yet")
        return 77
    failed = checked = 0
    with tempfile.TemporaryDirectory() as directory:
        for path in paths:
            try:
                state = torch.load(path, map_location="cpu", weights_only=True)
            except Exception as error:  # noqa: BLE001 - a checkpoint the weights-only loader refuses
                print(f"skip {path}: torch.load(weights_only=True) refused it ({type(error).__name__})")
                continue
            named = list(tensors(state))
            if any(t.dtype not in CODES for _, t in named):
                print(f"skip {path}: a dtype safetensors cannot hold")
                continue
            written = os.path.join(directory, os.path.basename(path) + ".safetensors")
            write_safetensors(written, named)
            run = subprocess.run([binary, "diff", "--contents", "--json", path, written], capture_output=True, text=True)
            checked += 1
            if run.returncode != 0:
                print(f"FAIL {path}: {run.stderr.strip()}")
                failed += 1
                continue
            diff = json.loads(run.stdout)
            ok = not diff["added"] and not diff["removed"] and not diff["changed"] and diff["unchanged_count"] == len(named)
            print(("ok  " if ok else "FAIL") + f" {path}: {len(named)} tensors")
            if not ok:
                failed += 1
                print(json.dumps(diff, indent=2)[:2000])
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
