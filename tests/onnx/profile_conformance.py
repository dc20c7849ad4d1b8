#!/usr/bin/env python3
"""Compare the shapes and dense-op MACs of `tarnwick profile --json` with onnx's own shape
inference (onnx.shape_inference.infer_shapes with data_prop=True).

Usage: profile_conformance.py <tarnwick binary> <model.onnx>...
Shapes the file states (value_info, graph outputs) are removed first, since tarnwick only checks
them. Every node output that onnx then resolves to a static shape must get the same shape,
and the MACs of MatMul, Gemm, Conv and ConvTranspose recomputed from onnx's shapes must equal
tarnwick's. Prints the agreement figures; exits 1 on any disagreement.
"""
import json
import math
import subprocess
import sys

import onnx


def static_shape(value_type):
    if not value_type.HasField("tensor_type"):
        return None
    tensor_type = value_type.tensor_type
    if not tensor_type.HasField("shape"):
        return None
    dims = []
    for dim in tensor_type.shape.dim:
        if not dim.HasField("dim_value") or dim.dim_value < 0:
            return None
        dims.append(dim.dim_value)
    return dims


def attribute(node, name, default):
    for attr in node.attribute:
        if attr.name == name:
            return onnx.helper.get_attribute_value(attr)
    return default


def dense_macs(node, shape_of):
    """MACs by the cost conventions, from onnx's shapes; None when a needed shape is missing."""
    inputs = [shape_of(name) if name else None for name in node.input]
    output = shape_of(node.output[0]) if node.output else None
    if output is None or len(inputs) < 2 or inputs[0] is None or inputs[1] is None:
        return None
    a, w = inputs[0], inputs[1]
    if node.op_type == "MatMul":
        return math.prod(output) * a[-1]
    if node.op_type == "Gemm":
        return math.prod(output) * (a[0] if attribute(node, "transA", 0) else a[1])
    if node.op_type == "Conv":
        return math.prod(output) * math.prod(w[1:])
    if node.op_type == "ConvTranspose":
        return math.prod(a) * math.prod(w[1:])
    return None


def check_model(binary, path):
    """Returns (agreeing outputs, onnx-resolved outputs, agreeing MACs, checked MACs, problems)."""
    run = subprocess.run([binary, "profile", "--json", path], capture_output=True, text=True)
    if run.returncode != 0:
        return 0, 0, 0, 0, ["tarnwick failed: " + run.stderr.strip()]
    profile = json.loads(run.stdout)
    ours = {}
    our_macs = {}
    for node in profile["nodes"]:
        for output in node["outputs"]:
            ours.setdefault(output["name"], output["shape"])
        our_macs.setdefault(node["outputs"][0]["name"] if node["outputs"] else None, node["macs"])

    model = onnx.load(path, load_external_data=False)
    # Shapes the file states are not a source for tarnwick; onnx would copy them into its answer,
    # so it infers here from the inputs and initializers alone, as tarnwick does.
    del model.graph.value_info[:]
    for output in model.graph.output:
        if output.type.HasField("tensor_type"):
            output.type.tensor_type.ClearField("shape")
    try:
        inferred = onnx.shape_inference.infer_shapes(model, data_prop=True)
    except Exception as error:  # onnx refuses some models outright; nothing to compare then
        print(f"  note: onnx inference failed on {path}: {error}")
        return 0, 0, 0, 0, []
    graph = inferred.graph
    shapes = {}
    for info in list(graph.input) + list(graph.value_info) + list(graph.output):
        shape = static_shape(info.type)
        if shape is not None:
            shapes[info.name] = shape
    for tensor in graph.initializer:
        shapes[tensor.name] = list(tensor.dims)

    agree = resolved = macs_agree = macs_checked = 0
    problems = []
    for node in graph.node:
        for name in node.output:
            if not name or name not in shapes:
                continue
            resolved += 1
            mine = ours.get(name)
            if mine == shapes[name]:
                agree += 1
            else:
                problems.append(f"{node.op_type} output {name}: onnx {shapes[name]}, tarnwick {mine}")
        if node.op_type in ("MatMul", "Gemm", "Conv", "ConvTranspose") and node.output:
            expected = dense_macs(node, shapes.get)
            if expected is None:
                continue
            macs_checked += 1
            mine = our_macs.get(node.output[0])
            if mine == expected:
                macs_agree += 1
            else:
                problems.append(f"{node.op_type} {node.output[0]} MACs: onnx shapes give {expected}, tarnwick {mine}")
    return agree, resolved, macs_agree, macs_checked, problems


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    totals = [0, 0, 0, 0]
    failed = 0
    for path in paths:
        agree, resolved, macs_agree, macs_checked, problems = check_model(binary, path)
        for k, value in enumerate((agree, resolved, macs_agree, macs_checked)):
            totals[k] += value
        if problems:
            failed += 1
            print(f"FAIL {path}")
            for problem in problems[:10]:
                print(f"  {problem}")
            if len(problems) > 10:
                print(f"  ... {len(problems) - 10} more")
    print(f"{len(paths)} models: {totals[0]} of {totals[1]} node outputs that onnx resolves agree; "
          f"dense-op MACs {totals[2]} of {totals[3]} agree")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
