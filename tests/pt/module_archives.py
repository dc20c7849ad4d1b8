#!/usr/bin/env python3
"""TorchScript archives, whole-module checkpoints and strided views against torch.

Usage: module_archives.py <tarnwick binary> [<corpus folder>]
Writes small torchvision models (resnet18, mobilenet_v3_small, weights=None) and an
nn.Sequential with torch.save(model) and torch.jit.save, and a checkpoint of strided views, then:
- whole modules: `contents --json` lists exactly model.state_dict(): names, order, dtypes, shapes,
  bytes, and the bytes at each offset are the tensor's;
- TorchScript: every state_dict() entry and every `CONSTANTS.cN` the modules' code_with_constants
  name is listed
  with torch's dtype and shape; any other listed name is a tensor attribute of the loaded module;
- mutations: one byte flipped inside a tensor's data (parameter, buffer, constant, strided view)
  makes `diff --contents` name exactly that tensor; a byte outside a view's elements changes none;
- equal tensors in different layouts compare as unchanged (compared, not skipped);
- truncation: every PyTorch file of the corpus and of this script, cut at several points, is an
  error for `inspect` and `contents`, never a summary.
Closes with "N passed, N failed".
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

import torch

DTYPES = {
    torch.float64: "float64", torch.float32: "float32", torch.float16: "float16",
    torch.bfloat16: "bfloat16", torch.int64: "int64", torch.int32: "int32", torch.int16: "int16",
    torch.int8: "int8", torch.uint8: "uint8", torch.bool: "bool",
}

BINARY = None
RESULTS = {"passed": 0, "failed": 0}


def report(label, problems):
    if problems:
        RESULTS["failed"] += 1
        print(f"FAIL {label}")
        for problem in problems[:10]:
            print(f"  {problem}")
    else:
        RESULTS["passed"] += 1
        print(f"ok   {label}")


def run(*args):
    return subprocess.run([BINARY, *args], capture_output=True, text=True)


def contents(path):
    result = run("contents", "--json", path)
    if result.returncode != 0:
        raise RuntimeError(f"contents {path}: {result.stderr.strip()}")
    return json.loads(result.stdout)["tensors"]


def row(tensor):
    return (DTYPES.get(tensor.dtype, str(tensor.dtype)), list(tensor.shape), tensor.numel() * tensor.element_size())


def raw_bytes(tensor):
    return tensor.detach().contiguous().reshape(-1).view(torch.uint8).numpy().tobytes()


def bytes_problems(path, listed, expected):
    problems = []
    with open(path, "rb") as stream:
        for tensor in listed:
            value = expected.get(tensor["name"])
            if value is None or tensor.get("offset") is None or not value.is_contiguous():
                continue
            stream.seek(tensor["offset"])
            if stream.read(tensor["bytes"]) != raw_bytes(value):
                problems.append(f"{tensor['name']}: the bytes at offset {tensor['offset']} are not the tensor's")
    return problems


def check_whole_module(path, model):
    expected = model.state_dict()
    listed = contents(path)
    mine = [(t["name"], t["dtype"], t["shape"], t["bytes"]) for t in listed]
    theirs = [(name, *row(value)) for name, value in expected.items()]
    problems = [f"tarnwick {a} != torch {b}" for a, b in zip(mine, theirs) if a != b]
    if len(mine) != len(theirs):
        problems.append(f"{len(mine)} tensors, state_dict() has {len(theirs)}")
    report(f"whole module {os.path.basename(path)}", problems + bytes_problems(path, listed, expected))


def attribute(module, name):
    value = module
    for part in name.split("."):
        value = value[int(part)] if part.isdigit() and isinstance(value, (list, tuple)) else getattr(value, part)
    return value


def torchscript_expectation(path):
    loaded = torch.jit.load(path)
    expected = dict(loaded.state_dict())
    for _, module in loaded.named_modules():  # each module's code names the archive's constants it uses
        for key, value in module.code_with_constants[1].const_mapping.items():
            if isinstance(value, torch.Tensor):
                expected[f"CONSTANTS.{key}"] = value
    return loaded, expected


def check_torchscript(path):
    loaded, expected = torchscript_expectation(path)
    listed = contents(path)
    problems = []
    by_name = {t["name"]: t for t in listed}
    for name, value in expected.items():
        if name not in by_name:
            problems.append(f"{name} is missing")
        elif (by_name[name]["dtype"], by_name[name]["shape"], by_name[name]["bytes"]) != row(value):
            problems.append(f"{name}: tarnwick {by_name[name]} != torch {row(value)}")
    for name, tensor in by_name.items():
        if name in expected:
            continue
        try:
            value = attribute(loaded, name)
        except (AttributeError, IndexError, RuntimeError):
            value = None
        if not isinstance(value, torch.Tensor) or row(value) != (tensor["dtype"], tensor["shape"], tensor["bytes"]):
            problems.append(f"{name} is no tensor attribute of the loaded module")
        else:
            expected[name] = value
    if len(by_name) != len(listed):
        problems.append("a name is listed twice")
    report(f"TorchScript {os.path.basename(path)} ({len(listed)} tensors)",
           problems + bytes_problems(path, listed, expected))
    return listed


def changed_names(old, new):
    result = run("diff", "--contents", "--json", old, new)
    if result.returncode not in (0, 1):
        return [f"error: {result.stderr.strip()}"]
    document = json.loads(result.stdout)
    return sorted(entry["name"] if isinstance(entry, dict) else entry for entry in document["changed"])


def flipped_copy(path, offset, folder):
    with open(path, "rb") as stream:
        data = bytearray(stream.read())
    data[offset] ^= 0x01
    copy = os.path.join(folder, "flipped-" + os.path.basename(path))
    with open(copy, "wb") as stream:
        stream.write(data)
    return copy


def check_mutations(path, listed, names, folder):
    problems = []
    for tensor in listed:
        if tensor["name"] not in names or not tensor["bytes"] or tensor.get("offset") is None:
            continue
        copy = flipped_copy(path, tensor["offset"] + tensor["bytes"] - 1, folder)
        changed = changed_names(path, copy)
        if changed != [tensor["name"]]:
            problems.append(f"flip in {tensor['name']}: diff --contents names {changed}")
    report(f"mutations in {os.path.basename(path)} ({len(names)} tensors)", problems)


def check_views(folder):
    torch.manual_seed(3)
    base = torch.randn(6, 8)
    views = {"transposed": base.t(), "every_other": base[:, ::2], "row": base[2], "corner": base[1:3, 2:5]}
    strided = os.path.join(folder, "views.pt")
    torch.save(views, strided)
    dense = os.path.join(folder, "dense.pt")
    torch.save({name: view.contiguous() for name, view in views.items()}, dense)
    problems = []
    listed = contents(strided)
    document = json.loads(run("diff", "--contents", "--json", strided, dense).stdout)
    if document["changed"] or document["unchanged_count"] != len(views):
        problems.append(f"views against their dense copies: changed {document['changed']}, "
                        f"{document['unchanged_count']} of {len(views)} compared equal")
    report("strided views hash over their elements", problems)

    # Each view's own element and an element no view covers (base[5, 7]): exactly the views
    # holding the flipped element change.
    storage_offset = listed[0]["offset"]
    problems = []
    for row_index, column, holders in ((0, 1, ["transposed"]), (0, 2, ["every_other", "transposed"]),
                                       (2, 3, ["corner", "row", "transposed"]), (1, 4, ["corner", "every_other", "transposed"]),
                                       (5, 7, ["transposed"])):
        copy = flipped_copy(strided, storage_offset + 4 * (row_index * 8 + column), folder)
        changed = changed_names(strided, copy)
        if changed != sorted(holders):
            problems.append(f"flip at [{row_index}, {column}]: changed {changed}, expected {sorted(holders)}")
    os.remove(os.path.join(folder, "flipped-views.pt"))
    outside = torch.randn(6, 8)
    outside[:, ::2] = base[:, ::2]
    other = os.path.join(folder, "other_every_other.pt")
    torch.save({"every_other": outside[:, ::2]}, other)
    same = os.path.join(folder, "same_every_other.pt")
    torch.save({"every_other": base[:, ::2]}, same)
    if changed_names(same, other):
        problems.append("equal views over different storages compare as changed")
    outside[0, 0] += 1
    torch.save({"every_other": outside[:, ::2]}, other)
    if changed_names(same, other) != ["every_other"]:
        problems.append("different views compare as unchanged")
    report("a flipped byte changes exactly the views holding it", problems)
    return [strided, dense]


def cut_points(size):
    return sorted({7, size // 3, size // 2, size - 22, size - 2, size - 1} - {0} & set(range(1, size)))


def check_truncation(paths, folder):
    problems = []
    for path in paths:
        with open(path, "rb") as stream:
            data = stream.read()
        for cut in cut_points(len(data)):
            copy = os.path.join(folder, "cut" + os.path.splitext(path)[1])
            with open(copy, "wb") as stream:
                stream.write(data[:cut])
            for command in ("inspect", "contents"):
                result = run(command, copy)
                if result.returncode == 0 or not result.stderr.strip():
                    problems.append(f"{os.path.basename(path)} cut at {cut}: {command} exits {result.returncode}")
    report(f"truncated files are errors ({len(paths)} files)", problems)


class WithConstant(torch.nn.Module):
    """Traced, its tensor attribute becomes a constant of the archive (`CONSTANTS.c0`)."""

    def __init__(self):
        super().__init__()
        self.linear = torch.nn.Linear(2, 2)
        self.table = torch.randn(2, 3)

    def forward(self, x):
        return self.linear(x) + self.table.t()[0]


def main():
    global BINARY
    BINARY = sys.argv[1]
    corpus = sys.argv[2] if len(sys.argv) > 2 else None
    import torchvision

    torch.manual_seed(0)
    models = {
        "sequential": torch.nn.Sequential(torch.nn.Linear(3, 4), torch.nn.BatchNorm1d(4), torch.nn.ReLU(),
                                          torch.nn.Linear(4, 2)),
        "resnet18": torchvision.models.resnet18(weights=None),
        "mobilenet_v3_small": torchvision.models.mobilenet_v3_small(weights=None),
    }
    with tempfile.TemporaryDirectory() as folder:
        small = []
        for name, model in models.items():
            model.eval()
            whole = os.path.join(folder, f"{name}.pt")
            torch.save(model, whole)
            check_whole_module(whole, model)
            scripted = os.path.join(folder, f"{name}.jit")
            torch.jit.save(torch.jit.script(model), scripted)
            listed = check_torchscript(scripted)
            if name == "sequential":
                small += [whole, scripted]
                check_mutations(whole, contents(whole), {t["name"] for t in contents(whole)}, folder)
                check_mutations(scripted, listed, {t["name"] for t in listed}, folder)
            else:
                sample = {listed[0]["name"], listed[len(listed) // 2]["name"], listed[-1]["name"],
                          next(t["name"] for t in listed if t["name"].endswith("running_var"))}
                check_mutations(scripted, listed, sample, folder)
        traced = os.path.join(folder, "traced.jit")
        torch.jit.save(torch.jit.trace(WithConstant(), torch.randn(3, 2)), traced)
        listed = check_torchscript(traced)
        check_mutations(traced, listed, {t["name"] for t in listed}, folder)
        if "CONSTANTS.c0" not in {t["name"] for t in listed}:
            report("a traced constant is listed", ["CONSTANTS.c0 is missing"])
        small.append(traced)
        small += check_views(folder)
        if corpus:
            jit = os.path.join(corpus, "realworld", "silero_vad.jit")
            if os.path.exists(jit):
                listed = check_torchscript(jit)
                constants = {t["name"] for t in listed if t["name"].startswith("CONSTANTS.")}
                check_mutations(jit, listed, {listed[0]["name"], listed[-1]["name"], *constants}, folder)
                small.append(jit)
            for pattern in ("*.pt", "*.pth", "*.bin", "*.ckpt"):
                small += sorted(glob.glob(os.path.join(corpus, "pytorch", pattern)))
        check_truncation(small, folder)
    print(f"{RESULTS['passed']} passed, {RESULTS['failed']} failed")
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
