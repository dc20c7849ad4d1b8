#!/usr/bin/env python3
"""Compare the shapes and dense-op MACs of `tarnwick profile --json` with onnx's own shape
inference (onnx.shape_inference.infer_shapes with data_prop=True).

Usage: profile_conformance.py <tarnwick binary> <model.onnx>...
       profile_conformance.py --fixtures <tarnwick binary>
Shapes the file states (value_info, graph outputs) are removed first, since tarnwick only checks
them. Every node output that onnx then resolves to a static shape must get the same shape,
and the MACs of MatMul, Gemm, Conv and ConvTranspose recomputed from onnx's shapes must equal
tarnwick's. Prints the agreement figures; exits 1 on any disagreement.

With --fixtures the models are written first by profile_fixtures.py (torchvision and other
torch exports, quantized and control-flow graphs, graphs stored out of order), and each must
also report the expected total MACs (hand-derived, or the sum of the dense MACs from onnx's
shapes) and the expected "incomplete" flag. Exit status 77 when torch or torchvision is missing.
"""
import json
import math
import os
import subprocess
import sys
import tempfile

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
    if node.op_type in ("QLinearConv", "QLinearMatMul"):  # (x, x_scale, x_zero_point, w, ...)
        w = inputs[3] if len(inputs) > 3 else None
        if w is None:
            return None
    if node.op_type in ("MatMul", "MatMulInteger", "QLinearMatMul"):
        return math.prod(output) * a[-1]
    if node.op_type == "Gemm":
        return math.prod(output) * (a[0] if attribute(node, "transA", 0) else a[1])
    if node.op_type in ("Conv", "ConvInteger", "QLinearConv"):
        return math.prod(output) * math.prod(w[1:])
    if node.op_type == "ConvTranspose":
        return math.prod(a) * math.prod(w[1:])
    return None


DENSE_OPS = ("MatMul", "Gemm", "Conv", "ConvTranspose", "MatMulInteger", "QLinearMatMul", "ConvInteger",
             "QLinearConv")


def run_profile(binary, path):
    run = subprocess.run([binary, "profile", "--json", path], capture_output=True, text=True)
    return (json.loads(run.stdout), None) if run.returncode == 0 else (None, "tarnwick failed: " + run.stderr.strip())


def check_model(binary, path, oracle_path=None, totals=None):
    """Returns (agreeing outputs, onnx-resolved outputs, agreeing MACs, checked MACs, problems).
    onnx infers over `oracle_path` when given (the same graph stored differently). `totals`, a
    dict, receives "profile" and "dense_macs" (onnx-derived, None when a dense op is unresolved)."""
    profile, error = run_profile(binary, path)
    if profile is None:
        return 0, 0, 0, 0, [error]
    ours = {}
    our_macs = {}
    for node in profile["nodes"]:
        for output in node["outputs"]:
            ours.setdefault(output["name"], output["shape"])
        our_macs.setdefault(node["outputs"][0]["name"] if node["outputs"] else None, node["macs"])

    model = onnx.load(oracle_path or path, load_external_data=False)
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
    dense_total = 0
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
        if node.op_type in DENSE_OPS and node.output:
            expected = dense_macs(node, shapes.get)
            if expected is None:
                dense_total = None
                continue
            if dense_total is not None:
                dense_total += expected
            macs_checked += 1
            mine = our_macs.get(node.output[0])
            if mine == expected:
                macs_agree += 1
            else:
                problems.append(f"{node.op_type} {node.output[0]} MACs: onnx shapes give {expected}, tarnwick {mine}")
    if totals is not None:
        totals["profile"] = profile
        totals["dense_macs"] = dense_total
    return agree, resolved, macs_agree, macs_checked, problems


def check_fixtures(binary):
    try:
        import torch  # noqa: F401
        import torchvision  # noqa: F401
    except ImportError as error:
        print(f"skipped: {error.name} is not installed (scripts/install-deps.sh installs python3-torchvision)")
        return 77
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    import profile_fixtures

    failed = 0
    with tempfile.TemporaryDirectory() as folder:
        cases = profile_fixtures.write_fixtures(folder)
        for case in cases:
            totals = {}
            agree, resolved, macs_agree, macs_checked, problems = check_model(binary, case["path"], case["oracle"], totals)
            profile = totals.get("profile")
            if profile is not None:
                expected = case["macs"] if case["macs"] is not None else totals["dense_macs"]
                if expected is None and not case["incomplete"]:
                    problems.append("no expected MACs: onnx left a dense op unresolved")
                elif expected is not None and profile["macs"] != expected:
                    problems.append(f"total MACs: expected {expected}, tarnwick {profile['macs']}")
                if profile["incomplete"] != case["incomplete"]:
                    unresolved = [node["name"] for node in profile["unresolved_nodes"][:5]]
                    problems.append(f"incomplete: expected {case['incomplete']}, tarnwick {profile['incomplete']} "
                                    f"{unresolved}")
            name = os.path.basename(case["path"])
            if problems:
                failed += 1
                print(f"FAIL {name}")
                for problem in problems[:10]:
                    print(f"  {problem}")
            else:
                print(f"ok {name}: {agree} of {resolved} onnx-resolved outputs agree, dense MACs {macs_agree} of "
                      f"{macs_checked}, total MACs {profile['macs']}")
    print(f"{len(cases)} exported models: {failed} failed")
    return 1 if failed else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--fixtures":
        return check_fixtures(sys.argv[2])
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
