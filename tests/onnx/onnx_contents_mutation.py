#!/usr/bin/env python3
"""Flip one byte inside a tensor's data and `diff --contents` must name exactly that tensor.

Usage: onnx_contents_mutation.py <tarnwick binary> <model.onnx>...
For each model (a real one, whose weights sit in Constant nodes): bytes inside inline tensors
(initializers and Constant nodes, at the offsets `contents --json` gives), then the same model
saved by the onnx package with every tensor as external data: the two must compare unchanged,
a flipped byte of the external file names its tensor, and a short, missing or escaping external
file lists the tensors it holds as uncompared with a reason, never as unchanged. Exits 1 on a
failure.
"""
import json
import os
import subprocess
import sys
import tempfile

import onnx
from onnx import external_data_helper

INLINE_SAMPLE = 40
EXTERNAL_SAMPLE = 12
failures = []


def run(binary, *args, text=False):
    done = subprocess.run([binary, *args], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return done.stdout if text else json.loads(done.stdout)


def expect(condition, what):
    if not condition:
        failures.append(what)


def spread(items, count):
    """The largest half of `count` and the rest spread over the whole list."""
    if len(items) <= count:
        return items
    largest = sorted(items, key=lambda t: -t["bytes"])[: count // 2]
    step = len(items) / (count - len(largest))
    return largest + [items[int(i * step)] for i in range(count - len(largest)) if items[int(i * step)] not in largest]


def flipped(data, at):
    changed = bytearray(data)
    changed[at] ^= 0x01
    return bytes(changed)


def expect_only_change(binary, old, new, name, where):
    diff = run(binary, "diff", "--contents", "--json", old, new)
    names = [(c["name"], c["what"]) for c in diff["changed"]]
    expect(names == [(name, ["values"])] and not diff["uncompared"], f"{where}: flipping {name} gave {names[:3]}")


def inline_mutations(binary, path, folder):
    table = run(binary, "contents", "--json", path)
    inline = [t for t in table["tensors"] if t["offset"] is not None and t["bytes"] > 0]
    expect(inline, f"{path}: no inline tensor data found")
    original = open(path, "rb").read()
    mutated = os.path.join(folder, "mutated.onnx")
    for tensor in spread(inline, INLINE_SAMPLE):
        with open(mutated, "wb") as out:
            out.write(flipped(original, tensor["offset"] + tensor["bytes"] // 2))
        expect_only_change(binary, path, mutated, tensor["name"], f"{path} inline")
    return len(table["tensors"])


def external_entries(tensor):
    entries = {e.key: e.value for e in tensor.external_data}
    return entries["location"], int(entries.get("offset", 0)), int(entries["length"])


def named_tensors(graph):
    """(name in the table, TensorProto) for initializers and Constant tensors, subgraphs included."""
    for tensor in graph.initializer:
        yield tensor.name, tensor
    for node in graph.node:
        for attribute in node.attribute:
            if node.op_type == "Constant" and attribute.name == "value":
                yield node.output[0], attribute.t
            if attribute.HasField("g"):
                yield from named_tensors(attribute.g)
            for sub in attribute.graphs:
                yield from named_tensors(sub)


def save_external(path, folder):
    model = onnx.load(path, load_external_data=False)
    external_data_helper.convert_model_to_external_data(model, all_tensors_to_one_file=True, location="weights.bin",
                                                        size_threshold=0, convert_attribute=True)
    saved = os.path.join(folder, "external.onnx")
    onnx.save_model(model, saved)
    model = onnx.load(saved, load_external_data=False)
    external = {name: external_entries(tensor) for name, tensor in named_tensors(model.graph)
                if tensor.data_location == onnx.TensorProto.EXTERNAL}
    return model, saved, external


def external_mutations(binary, path, folder, tensor_count):
    model, saved, external = save_external(path, folder)
    expect(external, f"{path}: the onnx package wrote no external data")
    diff = run(binary, "diff", "--contents", "--json", path, saved)
    expect(not diff["changed"] and not diff["uncompared"] and diff["unchanged_count"] == tensor_count,
           f"{path}: inline and external copies differ: {diff['changed'][:2]} {diff['uncompared'][:2]}")
    weights = os.path.join(folder, "weights.bin")
    original = open(weights, "rb").read()
    items = [{"name": n, "offset": o, "bytes": length} for n, (_, o, length) in external.items() if length > 0]
    for tensor in spread(items, EXTERNAL_SAMPLE):
        with open(weights, "wb") as out:
            out.write(flipped(original, tensor["offset"] + tensor["bytes"] // 2))
        expect_only_change(binary, path, saved, tensor["name"], f"{path} external")

    half = len(original) // 2
    with open(weights, "wb") as out:
        out.write(original[:half])
    beyond = {n for n, (_, o, length) in external.items() if o + length > half}
    expect_uncompared(binary, path, saved, beyond, tensor_count, "holds", "short external file")

    os.remove(weights)
    every = set(external)
    expect_uncompared(binary, path, saved, every, tensor_count, "not found", "missing external file")
    text = run(binary, "diff", "--contents", path, saved, text=True)
    expect(f"  Uncompared: {len(every)}\n" in text and "\nUncompared Tensors:\n" in text,
           f"{path}: the text report does not list the uncompared tensors")

    escaping = os.path.join(folder, "inner")
    os.makedirs(escaping, exist_ok=True)
    with open(weights, "wb") as out:
        out.write(original)
    for _, tensor in named_tensors(model.graph):
        for entry in tensor.external_data:
            if entry.key == "location":
                entry.value = "../weights.bin"
    inner = os.path.join(escaping, "model.onnx")
    onnx.save_model(model, inner)
    expect_uncompared(binary, path, inner, every, tensor_count, "leads outside", "escaping location")


def expect_uncompared(binary, old, new, names, tensor_count, reason, where):
    diff = run(binary, "diff", "--contents", "--json", old, new)
    listed = {u["name"] for u in diff["uncompared"]}
    reasons_ok = all(u["reason"].startswith("new: ") and reason in u["reason"] for u in diff["uncompared"])
    expect(listed == names and reasons_ok and not diff["changed"] and
           diff["unchanged_count"] == tensor_count - len(names),
           f"{old} {where}: uncompared {len(listed)} (expected {len(names)}), unchanged {diff['unchanged_count']}, "
           f"first {diff['uncompared'][:1]}")


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    for path in paths:
        with tempfile.TemporaryDirectory() as folder:
            before = len(failures)
            count = inline_mutations(binary, path, folder)
            external_mutations(binary, path, folder, count)
            print(("ok  " if len(failures) == before else "FAIL") + f" {path}: {count} tensors")
    for failure in failures:
        print("  " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
