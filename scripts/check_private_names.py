#!/usr/bin/env python3
"""Fails when two source files of one target define a function of the same name.

The build compiles each target's files in batches (a unity build), so functions private to
different files share one translation unit. Two of the same name then either fail to build or,
worse, overload each other, and a call in one file may quietly pick the other file's function.
Which files share a batch changes as files come and go, so the names must differ throughout a
target. The pairs listed in ALLOWED were checked by hand: no argument of one signature converts
to the other's, so no call can change sides.
"""
import collections
import os
import re
import sys

ALLOWED = {
    # The three ONNX decoders (summary, graph, tensor table) read the same messages into
    # different records; each overload takes its own record type.
    ("onnx", "read_attribute"), ("onnx", "read_external_entry"), ("onnx", "read_graph"),
    ("onnx", "read_node"), ("onnx", "read_tensor"), ("onnx", "read_tensor_type"),
    ("onnx", "element_count"),
    # The PyTorch summary and tensor table: PyTorchSummary against TensorTable.
    ("pt", "read_legacy"), ("pt", "read_zip"),
    # TensorTable against a vector of entries.
    ("tables", "dtype_mix"),
    # 256-bit against 512-bit lanes.
    ("values", "exact_extremes"),
    # Test builders whose arities or argument types differ.
    ("tests", "bytes_read_so_far"), ("tests", "describe"),
    ("tests", "lightgbm_model"), ("tests", "llama_tensors"), ("tests", "model_bytes"), ("tests", "npy"),
    ("tests", "printed"), ("tests", "profile_of"), ("tests", "read_bytes"),
}

DEFINITION = re.compile(
    r"^(?:static\s+|inline\s+|constexpr\s+|TARNWICK_WIDE\s+|template\s*<[^>]*>\s*)*"
    r"[A-Za-z_][\w:<>,\s\*&]*?[\s\*&]([a-z_]\w*)\(")


def target_of(path):
    parts = path.split(os.sep)
    return parts[1] if parts[0] == "src" else parts[0]


def main(root):
    defined = collections.defaultdict(lambda: collections.defaultdict(set))
    for top in ("src", "tests", "bench"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if not name.endswith(".cpp"):
                    continue
                path = os.path.join(folder, name)
                relative = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as source:
                    for line in source:
                        match = DEFINITION.match(line)
                        if match and match.group(1) != "main":
                            defined[target_of(relative)][match.group(1)].add(relative)
    clashes = [(target, name, sorted(files)) for target, names in sorted(defined.items())
               for name, files in sorted(names.items()) if len(files) > 1 and (target, name) not in ALLOWED]
    for target, name, files in clashes:
        print(f"{target}: {name} is defined in {', '.join(files)}")
    if clashes:
        print("give each its own name (or share one definition): the unity build may overload them")
        return 1
    print("no function name is defined in two files of one target")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
