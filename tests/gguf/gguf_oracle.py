#!/usr/bin/env python3
"""Write GGUF files (versions 1-3, every ggml type, every value type) and compare
`tarnwick contents --json` and `tarnwick inspect --json` with @huggingface/gguf's reading of
them.

Usage: gguf_oracle.py <tarnwick binary> <@huggingface/gguf dist/index.mjs> [<corpus folder>]
Compares tensor names, stored shapes, dtype codes, absolute offsets and metadata values. The
real GGUF files of the corpus (realworld/*.gguf) are compared too, and for them: the
`inspect --json` file fingerprint is what `xxhsum -H3` prints, and one byte flipped inside each
tensor makes `diff --contents` name exactly that tensor, its old fingerprint XXH3-64 of the
bytes the oracle places there.
"""
import glob
import json
import os
import struct
import subprocess
import sys
import tempfile

import xxhash

# code: (dtype name, elements per block, bytes per block)
TYPES = {0: ("float32", 1, 4), 1: ("float16", 1, 2), 2: ("q4_0", 32, 18), 3: ("q4_1", 32, 20),
         6: ("q5_0", 32, 22), 7: ("q5_1", 32, 24), 8: ("q8_0", 32, 34), 9: ("q8_1", 32, 36),
         10: ("q2_k", 256, 84), 11: ("q3_k", 256, 110), 12: ("q4_k", 256, 144), 13: ("q5_k", 256, 176),
         14: ("q6_k", 256, 210), 15: ("q8_k", 256, 292), 16: ("iq2_xxs", 256, 66), 17: ("iq2_xs", 256, 74),
         18: ("iq3_xxs", 256, 98), 19: ("iq1_s", 256, 50), 20: ("iq4_nl", 32, 18), 21: ("iq3_s", 256, 110),
         22: ("iq2_s", 256, 82), 23: ("iq4_xs", 256, 136), 24: ("int8", 1, 1), 25: ("int16", 1, 2),
         26: ("int32", 1, 4), 27: ("int64", 1, 8), 28: ("float64", 1, 8), 29: ("iq1_m", 256, 56),
         30: ("bfloat16", 1, 2), 34: ("tq1_0", 256, 54), 35: ("tq2_0", 256, 66), 39: ("mxfp4", 32, 17)}
CODE_OF = {name: code for code, (name, _, _) in TYPES.items()}
SCALAR = {0: "<B", 1: "<b", 2: "<H", 3: "<h", 4: "<I", 5: "<i", 6: "<f", 7: "<?", 10: "<Q", 11: "<q", 12: "<d"}


class Writer:
    def __init__(self, version, alignment=None):
        self.version, self.alignment = version, alignment or 32
        self.kvs, self.infos, self.data, self.kv_count, self.tensor_count = b"", b"", b"", 0, 0
        if alignment:
            self.kv("general.alignment", 4, alignment)

    def size(self, n):
        return struct.pack("<I" if self.version == 1 else "<Q", n)

    def string(self, text):
        raw = text.encode()
        return self.size(len(raw)) + raw

    def value(self, kind, value):
        if kind == 8:
            return self.string(value)
        if kind == 9:
            element_kind, items = value
            return struct.pack("<I", element_kind) + self.size(len(items)) + b"".join(
                self.value(element_kind, item) for item in items)
        return struct.pack(SCALAR[kind], value)

    def kv(self, key, kind, value):
        self.kvs += self.string(key) + struct.pack("<I", kind) + self.value(kind, value)
        self.kv_count += 1

    def tensor(self, name, dims, code):
        _, block, block_bytes = TYPES[code]
        numel = 1
        for d in dims:
            numel *= d
        self.data += b"\0" * (-len(self.data) % self.alignment)
        self.infos += self.string(name) + struct.pack("<I", len(dims)) + b"".join(self.size(d) for d in dims)
        self.infos += struct.pack("<IQ", code, len(self.data))
        self.data += bytes((i * 7) & 0xFF for i in range(numel // block * block_bytes))
        self.tensor_count += 1

    def build(self):
        head = b"GGUF" + struct.pack("<I", self.version) + self.size(self.tensor_count) + self.size(self.kv_count)
        head += self.kvs + self.infos
        return head + b"\0" * (-len(head) % self.alignment) + self.data


def files():
    for version in (1, 2, 3):
        for alignment in (None, 64):
            w = Writer(version, alignment)
            w.kv("general.architecture", 8, "llama")
            w.kv("general.name", 8, "tiny \u00e9")
            w.kv("llama.block_count", 4, 2)
            w.kv("llama.context_length", 10, 4096)
            w.kv("llama.rope.freq_base", 6, 10000.0)
            w.kv("general.bias", 12, -0.25)
            w.kv("general.flag", 7, True)
            w.kv("general.i8", 1, -3)
            w.kv("general.u16", 2, 65000)
            w.kv("general.i16", 3, -300)
            w.kv("general.i32", 5, -70000)
            w.kv("general.i64", 11, -(1 << 40))
            w.kv("general.u8", 0, 200)
            w.kv("tokenizer.ggml.scores", 9, (6, [0.5, -1.0, 2.25]))
            w.kv("tokenizer.ggml.tokens", 9, (8, [f"tok{i}" for i in range(40)]))
            w.kv("nested", 9, (9, [(0, [1, 2]), (8, ["a"])]))
            for code, (name, block, _) in TYPES.items():
                w.tensor(f"blk.{code}.{name}", [2 * block, 3], code)
            w.tensor("scalar", [], 0)
            w.tensor("vector", [5], 28)
            yield f"v{version}_a{alignment or 32}.gguf", w.build()


def same_value(mine, theirs):
    if isinstance(mine, dict):  # a summarised long array
        return isinstance(theirs, list) and mine["count"] == len(theirs)
    if isinstance(mine, list):
        return isinstance(theirs, list) and len(mine) == len(theirs) and all(map(same_value, mine, theirs))
    if isinstance(mine, float) or isinstance(theirs, float):
        return float(mine) == float(theirs)
    if isinstance(mine, bool) or isinstance(theirs, bool):
        return mine is theirs
    if isinstance(mine, int):
        return str(mine) == str(theirs)
    return mine == theirs


def compare(mine, theirs):
    problems = []
    infos = theirs["tensorInfos"]
    if len(infos) != len(mine["tensors"]):
        return [f"tensor counts {len(mine['tensors'])} vs {len(infos)}"]
    base = int(theirs["tensorDataOffset"])
    for tensor, info in zip(mine["tensors"], infos):
        expected = (info["name"], [int(d) for d in info["shape"]], int(info["dtype"]), base + int(info["offset"]))
        got = (tensor["name"], tensor["shape"], CODE_OF.get(tensor["dtype"]), tensor["offset"])
        if got != expected:
            problems.append(f"tensor {got} vs {expected}")
    metadata = {k: v for k, v in theirs["metadata"].items() if k not in ("version", "tensor_count", "kv_count")}
    if set(metadata) != set(mine["metadata"]):
        problems.append(f"metadata keys {sorted(mine['metadata'])} vs {sorted(metadata)}")
    for key, value in metadata.items():
        if key in mine["metadata"] and not same_value(mine["metadata"][key], value):
            problems.append(f"metadata {key}: {mine['metadata'][key]!r} vs {value!r}")
    return problems


def compare_summary(summary, theirs, size):
    """`inspect --json`: totals, names, highlights and stated figures against the oracle."""
    problems = []
    infos = theirs["tensorInfos"]
    numels = []
    for info in infos:
        numel = 1
        for d in info["shape"]:
            numel *= int(d)
        numels.append(numel)
    expected = {"tensor_count": len(infos), "parameter_count": sum(numels), "file_size_bytes": size,
                "tensor_names": [info["name"] for info in infos]}
    for key, value in expected.items():
        if summary[key] != value:
            problems.append(f"inspect {key}: {summary[key]!r} vs {value!r}")
    for key, value in summary["metadata_highlights"].items():
        if not same_value(value, theirs["metadata"].get(key)):
            problems.append(f"inspect highlight {key}: {value!r} vs {theirs['metadata'].get(key)!r}")
    architecture = summary["architecture"]
    if architecture["family"] != theirs["metadata"]["general.architecture"]:
        problems.append(f"inspect family {architecture['family']!r}")
    if (architecture["layers"] or {}).get("value") != int(theirs["metadata"]["llama.block_count"]):
        problems.append(f"inspect layers {architecture['layers']!r}")
    return problems


def run_json(binary, *args):
    done = subprocess.run([binary, *args], capture_output=True, text=True)
    if done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return json.loads(done.stdout)


def xxhsum(path):
    line = subprocess.run(["xxhsum", "-H3", path], capture_output=True, text=True, check=True).stdout
    return int(line.split("=")[-1].strip(), 16)


def compare_real_file(binary, path, theirs, folder):
    """Fingerprints of a real file: the whole file, and each tensor by a flipped byte."""
    problems = []
    fingerprint = run_json(binary, "inspect", "--json", path)["file_fingerprint"]
    if fingerprint != xxhsum(path):
        problems.append(f"file_fingerprint {fingerprint:#x} is not xxhsum -H3's {xxhsum(path):#x}")
    data = open(path, "rb").read()
    base = int(theirs["tensorDataOffset"])
    copy = os.path.join(folder, "flipped.gguf")
    for tensor in run_json(binary, "contents", "--json", path)["tensors"]:
        info = next(i for i in theirs["tensorInfos"] if i["name"] == tensor["name"])
        start = base + int(info["offset"])
        raw = data[start:start + tensor["bytes"]]
        if not raw:
            continue
        at = start + len(raw) // 2
        with open(copy, "wb") as out:
            out.write(data[:at] + bytes([data[at] ^ 0x01]) + data[at + 1:])
        diff = run_json(binary, "diff", "--contents", "--json", path, copy)
        changed = [(c["name"], c["what"]) for c in diff["changed"]]
        if changed != [(tensor["name"], ["values"])] or diff["uncompared"]:
            problems.append(f"flip in {tensor['name']}: diff --contents says {changed[:3]}")
        elif int(diff["changed"][0]["old"]["fingerprint"], 16) != xxhash.xxh3_64_intdigest(raw):
            problems.append(f"{tensor['name']}: fingerprint is not XXH3-64 of its bytes")
    return problems


def check_real_files(binary, oracle, script, corpus, folder):
    paths = sorted(glob.glob(os.path.join(corpus, "realworld", "*.gguf")))
    if not paths:
        print(f"no real GGUF files under {corpus}/realworld: only written files compared")
        return 0
    readings = subprocess.run(["node", script, oracle, *paths], capture_output=True, text=True, check=True)
    failed = 0
    for path, line in zip(paths, readings.stdout.split("\n")):
        theirs = json.loads(line)
        problems = compare(run_json(binary, "contents", "--json", path), theirs)
        problems += compare_real_file(binary, path, theirs, folder)
        print(("ok  " if not problems else "FAIL") + f" realworld/{os.path.basename(path)}")
        for problem in problems[:5]:
            print("  " + problem)
        failed += bool(problems)
    return failed


def main():
    binary, oracle = sys.argv[1], sys.argv[2]
    corpus = sys.argv[3] if len(sys.argv) > 3 else None
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "gguf_oracle.mjs")
    failed = 0
    with tempfile.TemporaryDirectory() as directory:
        paths = []
        for name, content in files():
            paths.append(os.path.join(directory, name))
            with open(paths[-1], "wb") as out:
                out.write(content)
        readings = subprocess.run(["node", script, oracle, *paths], capture_output=True, text=True, check=True)
        for path, line in zip(paths, readings.stdout.split("\n")):
            run = subprocess.run([binary, "contents", "--json", path], capture_output=True, text=True)
            if run.returncode != 0:
                print(f"FAIL {os.path.basename(path)}: {run.stderr.strip()}")
                failed += 1
                continue
            problems = compare(json.loads(run.stdout), json.loads(line))
            inspect = subprocess.run([binary, "inspect", "--json", path], capture_output=True, text=True)
            if inspect.returncode != 0:
                problems.append("inspect: " + inspect.stderr.strip())
            else:
                problems += compare_summary(json.loads(inspect.stdout), json.loads(line), os.path.getsize(path))
            print(("ok  " if not problems else "FAIL") + f" {os.path.basename(path)}")
            for problem in problems[:5]:
                print("  " + problem)
            failed += bool(problems)
        real_failed = check_real_files(binary, oracle, script, corpus, directory) if corpus else 0
        print(f"{len(paths) - failed} written files passed, {failed} failed; {real_failed} real files failed")
        failed += real_failed
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
