#!/usr/bin/env python3
"""Cross-check the Architecture section of `tarnwick contents` against torch on real checkpoints.

Usage: architecture_conformance.py <tarnwick binary> <checkpoint>...
Each checkpoint is loaded with torch.load(weights_only=True) and its state dicts are found (the
loaded object, or a nested dict of tensors such as a training checkpoint's "model"). The report
must carry the section with every one of its lines. Where it names a layer count and a
feed-forward size for blocks of torch.nn.TransformerEncoderLayer, torch rebuilds a
TransformerEncoder of exactly that many layers and that feed-forward width, and the state dict
must load into it strictly (a wrong figure leaves keys missing or shapes mismatched). Where
torch sees no numbered block list in the names, the report must say the layer count is unknown.
Closes with the number of encoders rebuilt and "N passed, N failed".
"""
import re
import subprocess
import sys

import torch

LABELS = ["Family", "Layers", "Hidden size", "Vocabulary", "Attention heads", "Key/value heads",
          "Feed-forward", "Experts", "Context length"]
BLOCK = re.compile(r"(?:^|\.)(?:layers|layer|blk|h|block)\.\d+\.")


def section(text):
    lines = text.split("\n")
    start = lines.index("Architecture:")
    found = {}
    for line in lines[start + 1:start + 1 + len(LABELS)]:
        label, _, value = line.strip().partition(":")
        found[label] = value.strip()
    return found


def figure(value):
    match = re.match(r"(\d+) \((stated|inferred): .*\)$", value)
    return int(match.group(1)) if match else None


def state_dicts(value, prefix=""):
    """(prefix, {name: tensor}) for every dict whose values are all tensors, and the tensors
    anywhere below, named by key paths as tarnwick names them."""
    if isinstance(value, dict):
        if value and all(isinstance(item, torch.Tensor) for item in value.values()):
            yield prefix, value
        for key, item in value.items():
            if isinstance(item, dict):
                yield from state_dicts(item, f"{prefix}{key}.")


def check_encoder(report, state, prefix):
    """The state dict of a TransformerEncoder must load into one built from the report."""
    names = [name[len(prefix):] for name in state if name.startswith(prefix)]
    if not any(re.match(r"layers\.\d+\.self_attn\.in_proj_weight$", name) for name in names):
        return None
    layers, feed_forward = figure(report["Layers"]), figure(report["Feed-forward"])
    if layers is None or feed_forward is None:
        return "layers or feed-forward unknown for a TransformerEncoder state dict"
    d_model = state[prefix + "layers.0.norm1.weight"].shape[0]
    layer = torch.nn.TransformerEncoderLayer(d_model, nhead=1, dim_feedforward=feed_forward)
    encoder = torch.nn.TransformerEncoder(layer, num_layers=layers, enable_nested_tensor=False)
    own = {name[len(prefix):]: tensor for name, tensor in state.items() if name.startswith(prefix)}
    try:
        encoder.load_state_dict(own, strict=True)
    except RuntimeError as error:
        return f"a TransformerEncoder of {layers} layers, feed-forward {feed_forward} refuses it: {error}"
    return "ok"


REBUILT = []


def check(binary, path):
    run = subprocess.run([binary, "contents", path], capture_output=True, text=True)
    if run.returncode != 0:
        return f"contents failed: {run.stderr.strip()}"
    report = section(run.stdout)
    if list(report) != LABELS:
        return f"section lines {list(report)}"
    loaded = torch.load(path, map_location="cpu", weights_only=True)
    dicts = list(state_dicts(loaded))
    names = [prefix + name for prefix, state in dicts for name in state]
    if not any(BLOCK.search(name) for name in names) and report["Layers"] != "unknown":
        return f"no numbered blocks, yet Layers: {report['Layers']}"
    for prefix, state in dicts:
        verdict = check_encoder(report, {prefix + name: tensor for name, tensor in state.items()}, prefix)
        if verdict not in (None, "ok"):
            return verdict
        if verdict == "ok":
            REBUILT.append(path)
    return None


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    failed = passed = 0
    for path in paths:
        problem = check(binary, path)
        if problem:
            failed += 1
            print(f"FAIL {path}: {problem}")
        else:
            passed += 1
    print(f"{len(REBUILT)} TransformerEncoder state dicts rebuilt from the report")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
