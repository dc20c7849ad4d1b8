#!/usr/bin/env python3
"""Compare the tensors of `tarnwick contents --json` with the onnx package's reading.

Usage: onnx_tensor_table.py <tarnwick binary> <model.onnx>...
Walks the main graph and every subgraph (node attributes g and graphs) as the reader does: a
graph's initializers and sparse initializers, then node by node the tensor of a Constant (named
by its output) and the node's subgraphs. Compares names, dtypes, shapes, element counts and byte
sizes in order. Then checks every fingerprint without an XXH3 of its own: the element bytes the
onnx package gives are written as a safetensors file, and `diff --contents` of the model against
it must find every tensor unchanged. Exits 1 on a mismatch.
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

import numpy
import onnx
from onnx import helper, numpy_helper

DTYPES = {1: "float32", 2: "uint8", 3: "int8", 4: "uint16", 5: "int16", 6: "int32", 7: "int64", 8: "string",
          9: "bool", 10: "float16", 11: "float64", 12: "uint32", 13: "uint64", 14: "complex64", 15: "complex128",
          16: "bfloat16", 17: "float8_e4m3fn", 18: "float8_e4m3fnuz", 19: "float8_e5m2", 20: "float8_e5m2fnuz",
          21: "uint4", 22: "int4", 23: "float4_e2m1", 24: "float8_e8m0"}
BITS = {1: 32, 2: 8, 3: 8, 4: 16, 5: 16, 6: 32, 7: 64, 9: 8, 10: 16, 11: 64, 12: 32, 13: 64, 14: 64, 15: 128,
        16: 16, 17: 8, 18: 8, 19: 8, 20: 8, 21: 4, 22: 4, 23: 4, 24: 8}
SAFETENSORS_CODES = {"float32": "F32", "float64": "F64", "float16": "F16", "bfloat16": "BF16", "int64": "I64",
                     "int32": "I32", "int16": "I16", "int8": "I8", "uint8": "U8", "uint16": "U16", "uint32": "U32",
                     "uint64": "U64", "bool": "BOOL"}
LISTED = {"value_float": ("float32", True), "value_floats": ("float32", False), "value_int": ("int64", True),
          "value_ints": ("int64", False)}


def numel(dims):
    count = 1
    for dim in dims:
        count *= dim
    return count


def dense(tensor, name=None):
    """A TensorProto as (name, dtype, shape, bytes, element bytes or None)."""
    count = numel(tensor.dims)
    bits = BITS.get(tensor.data_type, 0)
    data = None
    if tensor.data_location != onnx.TensorProto.EXTERNAL and tensor.data_type in BITS:
        data = tensor.raw_data if tensor.HasField("raw_data") else numpy_helper.to_array(tensor).tobytes()
    return (name if name is not None else tensor.name, DTYPES.get(tensor.data_type, f"unknown({tensor.data_type})"),
            list(tensor.dims), count, (count * bits + 7) // 8 if bits else None, data)


def sparse(tensor, name=None):
    values, indices = dense(tensor.values), dense(tensor.indices)
    return (name if name is not None else values[0], values[1], list(tensor.dims), numel(tensor.dims),
            (values[4] or 0) + (indices[4] or 0), None)


def constant(node):
    for attribute in node.attribute:
        if attribute.name == "value":
            return dense(attribute.t, node.output[0])
        if attribute.name == "sparse_value":
            return sparse(attribute.sparse_tensor, node.output[0])
        if attribute.name in LISTED:
            dtype, scalar = LISTED[attribute.name]
            values = numpy.array(helper.get_attribute_value(attribute), dtype=dtype)
            shape = [] if scalar else [values.size]
            return (node.output[0], dtype, shape, values.size, values.nbytes, values.tobytes())
    return None


def tensors(graph):
    for tensor in graph.initializer:
        yield dense(tensor)
    for tensor in graph.sparse_initializer:
        yield sparse(tensor)
    for node in graph.node:
        if node.op_type == "Constant" and node.domain in ("", "ai.onnx"):
            found = constant(node)
            if found:
                yield found
        for attribute in node.attribute:
            if attribute.HasField("g"):
                yield from tensors(attribute.g)
            for sub in attribute.graphs:
                yield from tensors(sub)


def model_tensors(model):
    """The graph's tensors, then each model-local function's constants as "<domain>.<name>/<output>"."""
    yield from tensors(model.graph)
    for function in model.functions:
        prefix = (function.domain + "." if function.domain else "") + function.name + "/"
        body = helper.make_graph(list(function.node), function.name, [], [])
        for name, *rest in tensors(body):
            yield (prefix + name, *rest)


def function_model(path):
    """A model whose weights sit in Constant nodes of a model-local function, called twice."""
    weight = helper.make_tensor("w", onnx.TensorProto.FLOAT, [2, 3], [0.5, 1, 1.5, 2, 2.5, 3])
    function = helper.make_function(
        "custom.ops", "Scale", ["x"], ["y"],
        [helper.make_node("Constant", [], ["w"], value=weight),
         helper.make_node("Constant", [], ["b"], value_floats=[1.0, 2.0, 3.0]),
         helper.make_node("MatMul", ["x", "w"], ["xw"]), helper.make_node("Add", ["xw", "b"], ["y"])],
        [helper.make_opsetid("", 17)])
    graph = helper.make_graph(
        [helper.make_node("Scale", ["x"], ["h"], domain="custom.ops"), helper.make_node("Relu", ["h"], ["y"])],
        "g", [helper.make_tensor_value_info("x", onnx.TensorProto.FLOAT, [1, 2])],
        [helper.make_tensor_value_info("y", onnx.TensorProto.FLOAT, [1, 3])],
        [helper.make_tensor("scale", onnx.TensorProto.FLOAT, [1], [2.0])])
    model = helper.make_model(graph, functions=[function],
                              opset_imports=[helper.make_opsetid("", 17), helper.make_opsetid("custom.ops", 1)])
    onnx.checker.check_model(model)
    onnx.save(model, path)
    return path


def run(binary, *args):
    done = subprocess.run([binary, *args], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return json.loads(done.stdout)


def write_safetensors(path, entries):
    header, blobs, offset = {}, [], 0
    for name, dtype, shape, data in entries:
        header[name] = {"dtype": SAFETENSORS_CODES[dtype], "shape": shape, "data_offsets": [offset, offset + len(data)]}
        blobs.append(data)
        offset += len(data)
    text = json.dumps(header).encode()
    with open(path, "wb") as out:
        out.write(struct.pack("<Q", len(text)) + text + b"".join(blobs))


def check_table(binary, path, want):
    document = run(binary, "contents", "--json", path)
    got = [{k: t[k] for k in ("name", "dtype", "shape", "numel", "bytes")} for t in document["tensors"]]
    expected = [{"name": n, "dtype": d, "shape": s, "numel": c, "bytes": b} for n, d, s, c, b, _ in want]
    for entry, mine in zip(expected, got):
        if entry["bytes"] is None:  # strings: the reader counts their own bytes
            entry["bytes"] = mine["bytes"]
    if got == expected and document["tensor_count"] == len(want) and document["format"] == "onnx":
        return None
    for entry, mine in zip(expected, got):
        if entry != mine:
            return f"expected {entry}\n  got      {mine}"
    return f"{len(got)} tensors, expected {len(want)}"


def check_fingerprints(binary, path, want, folder):
    twins, seen = [], set()
    for name, dtype, shape, _, _, data in want:
        if data is not None and dtype in SAFETENSORS_CODES and name not in seen:
            seen.add(name)
            twins.append((name, dtype, shape, data))
    if not twins:
        return None, 0
    twin = os.path.join(folder, "twin.safetensors")
    write_safetensors(twin, twins)
    diff = run(binary, "diff", "--contents", "--json", path, twin)
    if diff["changed"] or diff["added"] or diff["uncompared"] or diff["unchanged_count"] != len(twins):
        changed = [c["name"] for c in diff["changed"]][:5]
        return (f"fingerprints: {diff['unchanged_count']} of {len(twins)} equal; changed {changed}, "
                f"added {diff['added'][:5]}, uncompared {diff['uncompared'][:3]}"), len(twins)
    return None, len(twins)


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        paths = paths + [function_model(os.path.join(folder, "functions.onnx"))]
        for path in paths:
            model = onnx.load(path, load_external_data=False)
            want = list(model_tensors(model))
            problem = check_table(binary, path, want)
            compared = 0
            if problem is None:
                problem, compared = check_fingerprints(binary, path, want, folder)
            print(("ok  " if problem is None else "FAIL") + f" {path}: {len(want)} tensors, {compared} fingerprints")
            if problem:
                failed += 1
                print("  " + problem)
    print(f"{len(paths) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
