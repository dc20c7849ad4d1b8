#!/usr/bin/env python3
"""GGUF statistics and quantization errors against ggml itself.

Usage: ggml_oracle.py <tarnwick binary> <libggml-base.so>
ggml's own quantizer (ggml_quantize_chunk; quantize_row_q8_K_ref for q8_k, which the chunked
quantizer does not take) turns random rows into every block type listed below; the rows are
written into a GGUF file, and ggml's own dequantizer (the type's to_float; dequantize_row_q8_K)
gives the values. tarnwick's `contents --stats` of the GGUF must equal numpy's statistics of
those values, and `diff --contents --values` of the float32 rows (a safetensors file, shape
outermost first) against the GGUF must give numpy's quantization error per tensor (relative
1e-9: the values agree exactly, only the order of the float64 sums differs).
Closes with "N passed, N failed".
"""
import ctypes
import os
import struct
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import value_oracle as oracle  # noqa: E402

BLOCK_TYPES = {"q4_0": 2, "q4_1": 3, "q5_0": 6, "q5_1": 7, "q8_0": 8, "q2_k": 10, "q3_k": 11, "q4_k": 12,
               "q5_k": 13, "q6_k": 14, "q8_k": 15}
PLAIN_TYPES = {"float32": (0, np.float32), "float16": (1, np.float16)}
BFLOAT16 = 30


class Traits(ctypes.Structure):
    _fields_ = [("type_name", ctypes.c_char_p), ("blck_size", ctypes.c_int64),
                ("blck_size_interleave", ctypes.c_int64), ("type_size", ctypes.c_size_t),
                ("is_quantized", ctypes.c_bool), ("to_float", ctypes.c_void_p)]


class Ggml:
    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        self.lib.ggml_get_type_traits.restype = ctypes.POINTER(Traits)
        self.lib.ggml_get_type_traits.argtypes = [ctypes.c_int]
        self.lib.ggml_quantize_chunk.restype = ctypes.c_size_t
        self.lib.ggml_quantize_chunk.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64,
                                                 ctypes.c_int64, ctypes.c_int64, ctypes.c_void_p]
        self.lib.quantize_row_q8_K_ref.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64]
        self.lib.dequantize_row_q8_K.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64]

    def quantize(self, code, rows):
        """rows: float32 [nrows, n]; returns (block bytes, ggml's dequantized float32 values)."""
        rows = np.ascontiguousarray(rows, np.float32)
        traits = self.lib.ggml_get_type_traits(code).contents
        size = rows.size // traits.blck_size * traits.type_size
        blocks = ctypes.create_string_buffer(size)
        if code == 15:
            self.lib.quantize_row_q8_K_ref(rows.ctypes.data, blocks, rows.size)
        else:
            written = self.lib.ggml_quantize_chunk(code, rows.ctypes.data, blocks, 0, rows.shape[0], rows.shape[1], None)
            assert written == size, (code, written, size)
        values = np.zeros(rows.size, np.float32)
        if code == 15:
            self.lib.dequantize_row_q8_K(blocks, values.ctypes.data, rows.size)
        else:
            to_float = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int64)(traits.to_float)
            to_float(blocks, values.ctypes.data, rows.size)
        return blocks.raw, values


def gguf_string(text):
    data = text.encode()
    return struct.pack("<Q", len(data)) + data


def write_gguf(path, tensors):
    """tensors: name -> (ggml type code, shape outermost first, bytes)."""
    alignment = 32
    infos, blobs, offset = [], [], 0
    for name, (code, shape, data) in tensors.items():
        dims = list(reversed(shape))
        infos.append(gguf_string(name) + struct.pack("<I", len(dims)) + b"".join(struct.pack("<Q", d) for d in dims) +
                     struct.pack("<IQ", code, offset))
        padded = data + b"\0" * (-len(data) % alignment)
        blobs.append(padded)
        offset += len(padded)
    kv = gguf_string("general.architecture") + struct.pack("<I", 8) + gguf_string("llama")
    head = b"GGUF" + struct.pack("<IQQ", 3, len(tensors), 1) + kv + b"".join(infos)
    head += b"\0" * (-len(head) % alignment)
    with open(path, "wb") as out:
        out.write(head + b"".join(blobs))


def main():
    binary, library = sys.argv[1], sys.argv[2]
    ggml = Ggml(library)
    rng = np.random.default_rng(1208)
    originals, gguf_tensors, expected = {}, {}, {}
    for name, code in BLOCK_TYPES.items():
        rows = (rng.standard_normal((6, 512)) * rng.uniform(0.01, 2.0) + rng.uniform(-0.5, 0.5)).astype(np.float32)
        rows[1, 17] = 40.0  # an outlier stretches one block's scale
        rows[4, :64] = 0.0  # a run of zeros: blocks whose scale is zero
        data, values = ggml.quantize(code, rows)
        tensor = f"blk.{name}.weight"
        originals[tensor] = rows
        gguf_tensors[tensor] = (code, rows.shape, data)
        expected[tensor] = values
    big = (rng.standard_normal((16384, 256)) * 0.05).astype(np.float32)  # spans shared by two threads
    data, values = ggml.quantize(BLOCK_TYPES["q4_k"], big)
    originals["big.q4_k"], gguf_tensors["big.q4_k"], expected["big.q4_k"] = big, (12, big.shape, data), values
    for dtype, (code, numpy_type) in PLAIN_TYPES.items():
        rows = oracle.with_specials(rng.standard_normal(512)).astype(numpy_type).reshape(2, 256)
        gguf_tensors[f"plain.{dtype}"] = (code, rows.shape, rows.tobytes())
        expected[f"plain.{dtype}"] = rows
    bf16 = (oracle.with_specials(rng.standard_normal(256)).astype(np.float32).view(np.uint32) >> 16).astype(np.uint16)
    gguf_tensors["plain.bfloat16"] = (BFLOAT16, (256,), bf16.tobytes())
    expected["plain.bfloat16"] = (bf16.astype(np.uint32) << 16).view(np.float32)
    with tempfile.TemporaryDirectory() as folder:
        gguf_path = os.path.join(folder, "quantized.gguf")
        write_gguf(gguf_path, gguf_tensors)
        oracle.check_contents(binary, gguf_path, expected)
        float_path = os.path.join(folder, "float32.safetensors")
        oracle.write_safetensors(float_path, {name: ("F32", rows.shape, rows.tobytes()) for name, rows in originals.items()})
        oracle.check_deltas(binary, float_path, gguf_path, {name: (rows, expected[name]) for name, rows in originals.items()})
    for failure in oracle.failures:
        print("FAIL", failure)
    print(f"{oracle.passed} passed, {len(oracle.failures)} failed")
    return 1 if oracle.failures else 0


if __name__ == "__main__":
    sys.exit(main())
