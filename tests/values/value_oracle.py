#!/usr/bin/env python3
"""Statistics and deltas of `tarnwick contents --stats` and `diff --contents --values` against numpy.

Usage: value_oracle.py <tarnwick binary>
Writes checkpoints in every dtype each reader knows (safetensors, PyTorch zip and legacy with
strided views, ONNX raw_data, typed fields and external data), NaN and infinities included, and
compares tarnwick's figures with numpy's over the same values in float64: min, max and the
counts exactly, mean, std, l2 and the deltas to a relative 1e-9 (the sums are ordered differently).
float8 values are decoded here from the formats' definitions (numpy has no float8 type).
Closes with "N passed, N failed".
"""
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np

RTOL = 1e-9
failures = []
passed = 0


def run(binary, *args):
    result = subprocess.run([binary, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)} failed: {result.stderr.strip()}")
    return json.loads(result.stdout)


def close(a, b, tol=RTOL):
    if a is None or b is None:
        return a is None and b is None
    return math.isclose(a, b, rel_tol=tol, abs_tol=tol * 1e-6)


def expected_stats(values):
    v = np.asarray(values, dtype=np.float64).reshape(-1)
    finite = v[np.isfinite(v)]
    some = finite.size > 0
    return {
        "min": float(finite.min()) if some else None,
        "max": float(finite.max()) if some else None,
        "mean": float(finite.mean()) if some else None,
        "std": float(finite.std()) if some else None,
        "l2": float(np.sqrt(np.sum(finite * finite))),
        "zeros": int(np.sum(v == 0)),
        "nan": int(np.sum(np.isnan(v))),
        "inf": int(np.sum(np.isinf(v))),
    }


def compare_stats(where, got, want):
    global passed
    problems = []
    for key in ("min", "max", "zeros", "nan", "inf"):
        if got.get(key) != want[key]:
            problems.append(f"{key} {got.get(key)} != {want[key]}")
    for key in ("mean", "std", "l2"):
        if not close(got.get(key), want[key]):
            problems.append(f"{key} {got.get(key)} != {want[key]}")
    if problems:
        failures.append(f"{where}: " + "; ".join(problems))
    else:
        passed += 1


def check_contents(binary, path, expected):
    """expected: name -> values (float64-able array)."""
    document = run(binary, "contents", "--stats", "--json", path)
    seen = {t["name"]: t for t in document["tensors"]}
    for name, values in expected.items():
        tensor = seen.get(name)
        if tensor is None or tensor["stats"] is None:
            failures.append(f"{path}:{name}: no statistics ({tensor and tensor['skipped']})")
            continue
        compare_stats(f"{os.path.basename(path)}:{name} ({tensor['dtype']})", tensor["stats"], expected_stats(values))
    everything = np.concatenate([np.asarray(v, np.float64).reshape(-1) for v in expected.values()])
    if len(expected) == len(document["tensors"]):
        compare_stats(f"{os.path.basename(path)}: file totals", document["stats"], expected_stats(everything))


# --- float8 by definition --------------------------------------------------------------------

def float8_values(codes, exponent_bits, mantissa_bits, bias, kind):
    codes = np.asarray(codes, dtype=np.int64)
    sign = np.where(codes & 0x80, -1.0, 1.0)
    exponent = (codes >> mantissa_bits) & ((1 << exponent_bits) - 1)
    mantissa = codes & ((1 << mantissa_bits) - 1)
    normal = (1 + mantissa / (1 << mantissa_bits)) * np.power(2.0, exponent - bias)
    subnormal = (mantissa / (1 << mantissa_bits)) * 2.0 ** (1 - bias)
    value = sign * np.where(exponent == 0, subnormal, normal)
    top = exponent == (1 << exponent_bits) - 1
    if kind == "ieee":
        value = np.where(top & (mantissa == 0), sign * np.inf, value)
        value = np.where(top & (mantissa != 0), np.nan, value)
    elif kind == "fn":
        value = np.where(top & (mantissa == (1 << mantissa_bits) - 1), np.nan, value)
    elif kind == "fnuz":
        value = np.where(codes == 0x80, np.nan, value)
    return value


def e8m0_values(codes):
    codes = np.asarray(codes, dtype=np.int64)
    return np.where(codes == 255, np.nan, np.power(2.0, codes - 127.0))


FLOAT8 = {
    "F8_E4M3": lambda c: float8_values(c, 4, 3, 7, "fn"),
    "F8_E5M2": lambda c: float8_values(c, 5, 2, 15, "ieee"),
    "F8_E4M3FNUZ": lambda c: float8_values(c, 4, 3, 8, "fnuz"),
    "F8_E5M2FNUZ": lambda c: float8_values(c, 5, 2, 16, "fnuz"),
    "F8_E8M0": e8m0_values,
}


# --- safetensors -----------------------------------------------------------------------------

def write_safetensors(path, tensors):
    header, blobs, offset = {}, [], 0
    for name, (dtype, shape, data) in tensors.items():
        header[name] = {"dtype": dtype, "shape": list(shape), "data_offsets": [offset, offset + len(data)]}
        offset += len(data)
        blobs.append(data)
    text = json.dumps(header).encode()
    with open(path, "wb") as out:
        out.write(struct.pack("<Q", len(text)) + text + b"".join(blobs))


def with_specials(values):
    values = values.copy().reshape(-1)
    values[3] = np.nan
    values[7] = np.inf
    values[11] = -np.inf
    values[13] = 0
    values[17] = -0.0
    return values


def safetensors_case(binary, folder, rng):
    tensors, expected = {}, {}
    base = rng.standard_normal(300) * 3 + 0.5
    for dtype, numpy_type in (("F64", np.float64), ("F32", np.float32), ("F16", np.float16)):
        values = with_specials(base).astype(numpy_type)
        tensors[dtype.lower()] = (dtype, (10, 30), values.tobytes())
        expected[dtype.lower()] = values
    bf16 = (with_specials(base).astype(np.float32).view(np.uint32) >> 16).astype(np.uint16)
    tensors["bf16"] = ("BF16", (300,), bf16.tobytes())
    expected["bf16"] = (bf16.astype(np.uint32) << 16).view(np.float32)
    codes = np.concatenate([np.arange(256), rng.integers(0, 256, 200)]).astype(np.uint8)
    for dtype, decode in FLOAT8.items():
        tensors[dtype.lower()] = (dtype, (codes.size,), codes.tobytes())
        expected[dtype.lower()] = decode(codes)
    for dtype, numpy_type in (("I64", np.int64), ("I32", np.int32), ("I16", np.int16), ("I8", np.int8),
                              ("U64", np.uint64), ("U32", np.uint32), ("U16", np.uint16), ("U8", np.uint8)):
        info = np.iinfo(numpy_type)
        values = rng.integers(info.min, info.max, 257, dtype=numpy_type, endpoint=True)
        values[:3] = [info.min, info.max, 0]
        tensors[dtype.lower()] = (dtype, (257,), values.tobytes())
        expected[dtype.lower()] = values.astype(np.float64)
    flags = rng.integers(0, 2, 99).astype(np.bool_)
    tensors["bool"] = ("BOOL", (99,), flags.tobytes())
    expected["bool"] = flags
    # One tensor large enough to be shared between the two threads in spans.
    big = (rng.standard_normal(5_000_003) * 0.02 + 1e3).astype(np.float32)
    big[123_456] = np.nan
    tensors["big"] = ("F32", (big.size,), big.tobytes())
    expected["big"] = big
    path = os.path.join(folder, "every_dtype.safetensors")
    write_safetensors(path, tensors)
    check_contents(binary, path, expected)


# --- deltas ----------------------------------------------------------------------------------

def expected_delta(old, new):
    a = np.asarray(old, np.float64).reshape(-1)
    b = np.asarray(new, np.float64).reshape(-1)
    keep = np.isfinite(a) & np.isfinite(b)
    a, b = a[keep], b[keep]
    d = b - a
    norm_a, norm_b = np.linalg.norm(a), np.linalg.norm(b)
    return {
        "max_abs": float(np.abs(d).max()),
        "mean_abs": float(np.abs(d).mean()),
        "rel_l2": float(np.linalg.norm(d) / norm_a),
        "cosine": float(np.dot(a, b) / (norm_a * norm_b)),
        "nonfinite_pairs": int((~keep).sum()),
    }


def compare_delta(where, got, want, tol=RTOL):
    global passed
    if got is None:
        failures.append(f"{where}: no value delta")
        return
    problems = [f"{k} {got.get(k)} != {want[k]}" for k in want
                if (got.get(k) != want[k] if k == "nonfinite_pairs" else not close(got.get(k), want[k], tol))]
    if problems:
        failures.append(f"{where}: " + "; ".join(problems))
    else:
        passed += 1


def check_deltas(binary, old_path, new_path, expected, *extra):
    document = run(binary, "diff", "--contents", "--values", "--json", *extra, old_path, new_path)
    changed = {c["name"]: c for c in document["changed"]}
    for name, (old, new) in expected.items():
        entry = changed.get(name)
        if entry is None:
            failures.append(f"{new_path}:{name}: not listed as changed")
            continue
        compare_delta(f"delta {os.path.basename(new_path)}:{name} ({entry['new']['dtype']})", entry["values"],
                      expected_delta(old, new))
    return document


def delta_case(binary, folder, rng):
    old = rng.standard_normal((64, 48)).astype(np.float32)
    tuned = (old + rng.standard_normal(old.shape).astype(np.float32) * 0.01).astype(np.float32)
    with_nan = old.copy()
    with_nan[5, 5] = np.nan
    half = old.astype(np.float16)
    bf16 = (old.view(np.uint32) >> 16).astype(np.uint16)
    old_path = os.path.join(folder, "old.safetensors")
    new_path = os.path.join(folder, "new.safetensors")
    write_safetensors(old_path, {"tuned": ("F32", old.shape, old.tobytes()), "half": ("F32", old.shape, old.tobytes()),
                                 "bf16": ("F32", old.shape, old.tobytes()), "nan": ("F32", old.shape, old.tobytes()),
                                 "renamed": ("F32", old.shape, old.tobytes())})
    write_safetensors(new_path, {"tuned": ("F32", old.shape, tuned.tobytes()), "half": ("F16", old.shape, half.tobytes()),
                                 "bf16": ("BF16", old.shape, bf16.tobytes()), "nan": ("F32", old.shape, with_nan.tobytes()),
                                 "renamed.v2": ("F64", old.shape, (old * 2).astype(np.float64).tobytes())})
    expected = {"tuned": (old, tuned), "half": (old, half), "nan": (old, with_nan),
                "bf16": (old, (bf16.astype(np.uint32) << 16).view(np.float32))}
    check_deltas(binary, old_path, new_path, expected)
    rename_map = os.path.join(folder, "names.txt")
    with open(rename_map, "w") as out:
        out.write("# old new\nrenamed renamed.v2\n")
    document = check_deltas(binary, old_path, new_path, {"renamed": (old, old * 2)}, "--map", rename_map)
    global passed
    if [c.get("new_name") for c in document["changed"] if c["name"] == "renamed"] != ["renamed.v2"]:
        failures.append("--map: renamed is not paired with renamed.v2")
    else:
        passed += 1


# --- PyTorch -----------------------------------------------------------------------------------

def pytorch_case(binary, folder, rng):
    import torch
    base = torch.from_numpy(with_specials(rng.standard_normal(240)).astype(np.float32)).reshape(12, 20)
    state = {
        "f32": base, "f64": base.double(), "f16": base.half(), "bf16": base.bfloat16(),
        "i64": torch.arange(-50, 50), "i8": torch.arange(-128, 127, dtype=torch.int8),
        "u8": torch.arange(0, 255, dtype=torch.uint8), "flag": torch.arange(9) % 2 == 0,
        "transposed": base.t(), "every_other": base[:, ::2], "sliced": base[3:7, 2:9].half(),
    }
    expected = {name: t.float().numpy() if t.dtype == torch.bfloat16 else t.numpy() for name, t in state.items()}
    for legacy in (False, True):
        path = os.path.join(folder, "legacy.pt" if legacy else "zip.pt")
        torch.save(state, path, _use_new_zipfile_serialization=not legacy)
        check_contents(binary, path, expected)


# --- ONNX --------------------------------------------------------------------------------------

def onnx_case(binary, folder, rng):
    import onnx
    from onnx import TensorProto, helper, numpy_helper
    values = with_specials(rng.standard_normal(60)).astype(np.float32).reshape(6, 10)
    raw = numpy_helper.from_array(values, "raw")
    typed = helper.make_tensor("typed_float", TensorProto.FLOAT, [6, 10], values.reshape(-1).tolist())
    halfs = values.astype(np.float16)
    typed_half = helper.make_tensor("typed_half", TensorProto.FLOAT16, [60], halfs.view(np.uint16).reshape(-1).tolist())
    typed_int = helper.make_tensor("typed_int64", TensorProto.INT64, [5], [-3, 0, 7, 2**40, -(2**40)])
    typed_double = helper.make_tensor("typed_double", TensorProto.DOUBLE, [4], [1.5, -2.25, 0.0, 1e30])
    typed_bool = helper.make_tensor("typed_bool", TensorProto.BOOL, [4], [True, False, True, True])
    external = numpy_helper.from_array(rng.standard_normal(4096).astype(np.float32), "external")
    graph = helper.make_graph([helper.make_node("Identity", ["raw"], ["y"])], "g", [],
                              [helper.make_tensor_value_info("y", TensorProto.FLOAT, [6, 10])],
                              initializer=[raw, typed, typed_half, typed_int, typed_double, typed_bool, external])
    model = helper.make_model(graph)
    path = os.path.join(folder, "model.onnx")
    onnx.save_model(model, path, save_as_external_data=True, all_tensors_to_one_file=True, location="weights.bin",
                    size_threshold=1024)
    loaded = onnx.load(path)
    expected = {t.name: numpy_helper.to_array(t) for t in loaded.graph.initializer}
    check_contents(binary, path, expected)


def main():
    binary = sys.argv[1]
    rng = np.random.default_rng(20261208)
    with tempfile.TemporaryDirectory() as folder:
        safetensors_case(binary, folder, rng)
        delta_case(binary, folder, rng)
        pytorch_case(binary, folder, rng)
        onnx_case(binary, folder, rng)
    for failure in failures:
        print("FAIL", failure)
    print(f"{passed} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
