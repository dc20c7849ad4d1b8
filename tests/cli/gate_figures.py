#!/usr/bin/env python3
"""Gates over pairs whose change a figure taken from the file alone used to hide.

Each pair is written here by the real frameworks (torch.onnx.export of torchvision models,
torch.save in both containers, an fp16 cast) or by hand (safetensors with a config.json beside
it, GGUF), and `check` must decide as the exact figures say. The expected figures come from
the oracles, not from tarnwick: ONNX estimated ops are the per-node formulas applied to the
shapes ONNX's own shape inference gives, parameter counts are torch.load's numel() sums.

usage: gate_figures.py <tarnwick binary>
"""
import json
import os
import struct
import subprocess
import sys
import tempfile

try:
    import onnx
    import torch
    import torchvision
    from onnx import shape_inference
except ImportError as missing:
    print(f"skipped: {missing} (scripts/install-deps.sh installs python3-torch, python3-torchvision, python3-onnx)")
    sys.exit(77)

TARNWICK = sys.argv[1]
ELEMENTWISE = {"Add", "Sub", "Mul", "Div", "Relu", "Gelu", "Tanh", "Sigmoid", "Softmax", "BatchNormalization",
               "LayerNormalization"}


def product(dims):
    total = 1
    for dim in dims:
        total *= dim
    return total


def matmul_ops(a, b):
    if len(a) < 2 or len(b) < 2 or a[-1] != b[-2]:
        return None
    batch_a, batch_b = a[:-2][::-1], b[:-2][::-1]
    batch = 1
    for k in range(max(len(batch_a), len(batch_b))):
        da = batch_a[k] if k < len(batch_a) else 1
        db = batch_b[k] if k < len(batch_b) else 1
        if da != db and da != 1 and db != 1:
            return None
        batch *= max(da, db) if 1 in (da, db) else da
    return 2 * batch * a[-2] * b[-1] * a[-1]


def node_ops(node, shapes):
    """The per-node formulas of the ONNX cost estimate, on ONNX's inferred shapes."""
    attrs = {a.name: a.i for a in node.attribute if a.type == onnx.AttributeProto.INT}
    shape = lambda names, k: shapes.get(names[k]) if k < len(names) else None
    if node.op_type in ("MatMul", "Gemm"):
        a, b = shape(node.input, 0), shape(node.input, 1)
        if a is None or b is None:
            return None
        if node.op_type == "MatMul":
            return matmul_ops(a, b)
        if len(a) != 2 or len(b) != 2:
            return None
        m, k = (a[1], a[0]) if attrs.get("transA", 0) else (a[0], a[1])
        k2, n = (b[1], b[0]) if attrs.get("transB", 0) else (b[0], b[1])
        return 2 * m * n * k if k == k2 else None
    if node.op_type == "Conv":
        w, y = shape(node.input, 1), shape(node.output, 0)
        if w is None or y is None or len(w) < 3 or len(y) < 3:
            return None
        return 2 * y[0] * y[1] * product(y[2:]) * w[1] * product(w[2:])
    if node.op_type in ELEMENTWISE:
        y = shape(node.output, 0)
        return None if y is None else product(y)
    return None


def oracle_ops(path):
    graph = shape_inference.infer_shapes(onnx.load(path)).graph
    shapes = {}
    for info in list(graph.input) + list(graph.output) + list(graph.value_info):
        dims = info.type.tensor_type.shape.dim
        if all(d.HasField("dim_value") for d in dims):
            shapes[info.name] = [d.dim_value for d in dims]
    for initializer in graph.initializer:
        shapes[initializer.name] = list(initializer.dims)
    return sum(ops for ops in (node_ops(node, shapes) for node in graph.node) if ops is not None)


def oracle_parameters(path):
    loaded = torch.load(path)
    return sum(t.numel() for t in loaded.values())


def export_onnx(model, path, size):
    model.eval()
    torch.onnx.export(model, torch.randn(*size), path, opset_version=13)


def small_cnn(width):
    return torch.nn.Sequential(
        torch.nn.Conv2d(3, width, 3, padding=1), torch.nn.BatchNorm2d(width), torch.nn.ReLU(),
        torch.nn.Conv2d(width, width, 3, stride=2), torch.nn.ReLU(),
        torch.nn.AdaptiveAvgPool2d(1), torch.nn.Flatten(), torch.nn.Linear(width, 10))


def mlp(hidden):
    torch.manual_seed(0)
    return torch.nn.Sequential(torch.nn.Linear(8, hidden), torch.nn.ReLU(), torch.nn.Linear(hidden, 4))


def write_safetensors(path, tensors):
    header, data = {}, b""
    for name, values in tensors.items():
        payload = struct.pack(f"<{len(values)}f", *values)
        header[name] = {"dtype": "F32", "shape": [len(values)], "data_offsets": [len(data), len(data) + len(payload)]}
        data += payload
    text = json.dumps(header).encode()
    text += b" " * (-len(text) % 8)
    with open(path, "wb") as out:
        out.write(struct.pack("<Q", len(text)) + text + data)


def write_gguf(path, metadata, tensors):
    def text(value):
        raw = value.encode()
        return struct.pack("<Q", len(raw)) + raw
    out = b"GGUF" + struct.pack("<IQQ", 3, len(tensors), len(metadata))
    for key, value in metadata:
        out += text(key)
        if isinstance(value, str):
            out += struct.pack("<I", 8) + text(value)
        elif isinstance(value, float):
            out += struct.pack("<If", 6, value)
        else:
            out += struct.pack("<II", 4, value)
    data = b""
    for name, values in tensors:
        out += text(name) + struct.pack("<IQIQ", 1, len(values), 0, len(data))
        data += struct.pack(f"<{len(values)}f", *values)
        data += b"\0" * (-len(data) % 32)
    out += b"\0" * (-len(out) % 32)
    with open(path, "wb") as file:
        file.write(out + data)


def percent(old, new):
    return "%.2f" % ((new - old) * 100.0 / old) if old else "0.00"


def growth(status, rule, old, new, limit):
    return f"  {status} {rule}: {percent(old, new)}% <= {limit:.2f}% ({old} -> {new})"


def tarnwick(*args):
    return subprocess.run([TARNWICK, *args], capture_output=True, text=True)


def build_fixtures(d):
    """Writes every pair; returns the table of gates: (case, args, exit status, lines expected)."""
    torch.manual_seed(0)
    resnet18, resnet34 = f"{d}/resnet18.onnx", f"{d}/resnet34.onnx"
    export_onnx(torchvision.models.resnet18(), resnet18, (1, 3, 224, 224))
    export_onnx(torchvision.models.resnet34(), resnet34, (1, 3, 224, 224))
    narrow, wide = f"{d}/cnn8.onnx", f"{d}/cnn16.onnx"
    export_onnx(small_cnn(8), narrow, (1, 3, 32, 32))
    export_onnx(small_cnn(16), wide, (1, 3, 32, 32))
    ops = {path: oracle_ops(path) for path in (resnet18, resnet34, narrow, wide)}

    legacy, legacy_grown, zipped = f"{d}/mlp_legacy.pth", f"{d}/mlp17_legacy.pth", f"{d}/mlp.pt"
    torch.save(mlp(16).state_dict(), legacy, _use_new_zipfile_serialization=False)
    torch.save(mlp(17).state_dict(), legacy_grown, _use_new_zipfile_serialization=False)
    torch.save(mlp(16).state_dict(), zipped)
    full, half = f"{d}/cnn_fp32.pt", f"{d}/cnn_fp16.pt"
    state = small_cnn(8).state_dict()
    torch.save(state, full)
    # A plain dict, as a cast in a comprehension makes: the module names of `_metadata` are gone.
    torch.save({k: v.half() if v.is_floating_point() else v for k, v in state.items()}, half)
    parameters = {path: oracle_parameters(path) for path in (legacy, legacy_grown, zipped, full, half)}

    for side, context in (("old", 2048), ("new", 4096)):
        os.mkdir(f"{d}/{side}")
        write_safetensors(f"{d}/{side}/model.safetensors", {"embed.weight": [0.5] * 8, "head.weight": [0.25] * 4})
        config = {"model_type": "llama", "num_hidden_layers": 2, "max_position_embeddings": context}
        if side == "new":
            config["rope_scaling"] = {"type": "linear", "factor": 2.0}
        with open(f"{d}/{side}/config.json", "w") as out:
            json.dump(config, out)
    for side, context in (("old", 2048), ("new", 4096)):
        metadata = [("general.architecture", "llama"), ("llama.context_length", context),
                    ("llama.attention.head_count", 4 if side == "old" else 8)]
        if side == "new":
            metadata.append(("llama.rope.freq_base", 20000.0))
        write_gguf(f"{d}/{side}.gguf", metadata, [("token_embd.weight", [0.5] * 8)])

    o18, o34, o8, o16 = ops[resnet18], ops[resnet34], ops[narrow], ops[wide]
    p_legacy, p_grown, p_full = parameters[legacy], parameters[legacy_grown], parameters[full]
    return [
        ("resnet18 -> resnet34 ONNX exports: the cost nearly doubles",
         ["--max-ops-growth", "10%", resnet18, resnet34], 1,
         [growth("FAIL", "estimated ops growth", o18, o34, 10.0)]),
        ("resnet18 against itself", ["--max-ops-growth", "0", resnet18, resnet18], 0,
         [growth("PASS", "estimated ops growth", o18, o18, 0.0)]),
        ("a CNN whose width doubles", ["--max-ops-growth", "50%", narrow, wide], 1,
         [growth("FAIL", "estimated ops growth", o8, o16, 50.0)]),
        ("a legacy checkpoint that grows", ["--max-parameter-growth", "5%", legacy, legacy_grown], 1,
         [growth("FAIL", "parameter growth", p_legacy, p_grown, 5.0)]),
        ("the same weights moved from a legacy file to a zip", ["--max-parameter-growth", "0%", legacy, zipped], 0,
         [growth("PASS", "parameter growth", p_legacy, parameters[zipped], 0.0)]),
        ("an fp16 cast of a state dict", ["--max-parameter-growth", "0%", "--fail-on-feature-change", full, half], 0,
         [growth("PASS", "parameter growth", p_full, parameters[half], 0.0),
          f"  PASS parameter names unchanged: {len(state)} -> {len(state)} recovered names"]),
        ("a safetensors config.json edit", ["--fail-on-training-config-change", f"{d}/old/model.safetensors",
                                             f"{d}/new/model.safetensors"], 1,
         ["  FAIL metadata unchanged: 0 -> 0 keys (changed: config.json max_position_embeddings; "
          "added: config.json rope_scaling)"]),
        ("a GGUF metadata edit", ["--fail-on-training-config-change", f"{d}/old.gguf", f"{d}/new.gguf"], 1,
         ["  FAIL metadata unchanged: 3 -> 4 keys (changed: llama.attention.head_count, llama.context_length; "
          "added: llama.rope.freq_base)"]),
    ], ops, parameters


def corpus_disagreements():
    """Every ONNX file of the shared corpus: its estimated ops against the formulas on ONNX's inferred shapes."""
    corpus = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "shared", "corpus")
    paths = sorted(os.path.join(root, name) for root, _, names in os.walk(corpus) for name in names
                   if name.endswith(".onnx"))
    failures = []
    for path in paths:
        shown = json.loads(tarnwick("inspect", "--json", path).stdout)["summary"]["estimated_ops"]
        if shown != oracle_ops(path):
            failures.append(f"{os.path.basename(path)}: estimated_ops {shown}, ONNX inference gives {oracle_ops(path)}")
    print(f"{len(paths)} corpus ONNX files compared with ONNX shape inference")
    return failures


def main():
    failures = []
    with tempfile.TemporaryDirectory() as d:
        gates, ops, parameters = build_fixtures(d)
        for case, args, status, lines in gates:
            run = tarnwick("check", *args)
            report = run.stdout.splitlines()
            missing = [line for line in lines if line not in report]
            if run.returncode != status or missing:
                failures.append(f"{case}: exit {run.returncode} (expected {status}), missing {missing}\n{run.stdout}")
        # The figure the gates decide on is the one every other report shows.
        for path, figure in ops.items():
            shown = json.loads(tarnwick("inspect", "--json", path).stdout)["summary"]["estimated_ops"]
            if shown != figure:
                failures.append(f"inspect {os.path.basename(path)}: estimated_ops {shown}, ONNX inference gives {figure}")
        for path, figure in parameters.items():
            shown = json.loads(tarnwick("inspect", "--json", path).stdout)["estimated_parameter_count"]
            if shown != figure:
                failures.append(f"inspect {os.path.basename(path)}: {shown} parameters, torch.load counts {figure}")
        explained = tarnwick("explain-diff", f"{d}/old/model.safetensors", f"{d}/new/model.safetensors").stdout
        if "Metadata: CHANGED (2 keys: config.json max_position_embeddings, config.json rope_scaling)\n" not in explained:
            failures.append("explain-diff does not see the config.json edit:\n" + explained)
        if "same weights, metadata changed" not in explained:
            failures.append("explain-diff verdict:\n" + explained)
        explained = tarnwick("explain-diff", f"{d}/resnet18.onnx", f"{d}/resnet34.onnx").stdout
        if "Estimated inference cost (static op proxy): same" in explained:
            failures.append("explain-diff sees no cost change from resnet18 to resnet34:\n" + explained)
        print(f"resnet18 {ops[f'{d}/resnet18.onnx']} ops, resnet34 {ops[f'{d}/resnet34.onnx']} ops")
    failures += corpus_disagreements()
    for failure in failures:
        print("FAIL", failure)
    print(f"{len(gates)} gates, {len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
