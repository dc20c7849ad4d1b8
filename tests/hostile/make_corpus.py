#!/usr/bin/env python3
"""Writes the committed corpus of small malformed files under tests/hostile/corpus/.

Run it again after changing it; run_hostile_corpus.sh then runs every command over each file.
Every file is made here from scratch: truncations of small valid artifacts, lengths near 2^32
and 2^64, ZIP64 fields pointing past the end, braces a million deep, 11-byte varints, dims
whose product overflows, a pickle of 0x80 alone.
"""
import os
import shutil
import struct
import sys
import zlib

# The committed corpus, or another folder given as the first argument (to check it is current).
ROOT = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(kind, name, data):
    path = os.path.join(ROOT, kind, name)
    with open(path, "wb") as handle:
        handle.write(data if isinstance(data, bytes) else data.encode())


def truncations(kind, stem, ext, data, step):
    for length in range(0, len(data), step):
        write(kind, "{}_cut{:05d}.{}".format(stem, length, ext), data[:length])


# ---- protobuf helpers
def varint(value):
    out = bytearray()
    while True:
        byte = value & 0x7F
        value >>= 7
        if value:
            out.append(byte | 0x80)
        else:
            out.append(byte)
            return bytes(out)


def ld(number, payload):
    return varint(number << 3 | 2) + varint(len(payload)) + payload


def vi(number, value):
    return varint(number << 3) + varint(value)


def onnx_model(graph):
    return vi(1, 8) + ld(2, b"hostile") + ld(7, graph) + ld(8, vi(2, 17))


def value_info(name, dims):
    shape = b"".join(ld(1, vi(1, d)) for d in dims)
    return ld(1, name) + ld(2, ld(1, vi(1, 1) + ld(2, shape)))


def tensor(name, dims, raw=b"", dtype=1):
    return b"".join(vi(1, d) for d in dims) + vi(2, dtype) + ld(8, name) + ld(9, raw)


def node(op, inputs, outputs, attributes=b""):
    return b"".join(ld(1, i) for i in inputs) + b"".join(ld(2, o) for o in outputs) + ld(4, op) + attributes


# ---- zip helpers
def zip_archive(entries, zip64_entries=False, eocd_override=None, comment=b""):
    out, directory = bytearray(), bytearray()
    for entry in entries:
        # (name, data) stored, or (name, deflated data, method, uncompressed size)
        name, data = entry[0], entry[1]
        method, full = (entry[2], entry[3]) if len(entry) > 2 else (0, len(data))
        offset = len(out)
        out += b"PK\x03\x04" + struct.pack("<HHHHHIIIHH", 20, 0, method, 0, 0, 0, len(data), full, len(name), 0)
        out += name + data
        extra = b""
        size32, offset32 = len(data), offset
        if zip64_entries:
            extra = struct.pack("<HHQQQ", 1, 24, len(data), len(data), offset)
            size32 = offset32 = 0xFFFFFFFF
        directory += b"PK\x01\x02" + struct.pack("<HHHHHHIIIHHHHHII", 20, 20, 0, method, 0, 0, 0, size32,
                                                full if not zip64_entries else size32,
                                                len(name), len(extra), 0, 0, 0, 0, offset32) + name + extra
    dir_offset = len(out)
    out += directory
    size, off = eocd_override or (len(directory), dir_offset)
    out += b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, len(entries), len(entries), size, off, len(comment)) + comment
    return bytes(out)


# ---- FlatBuffers helpers: tables and vectors appended in order, references pointing forward
class FlatBuffer:
    def __init__(self):
        self.bytes = bytearray(4)

    def table(self, fields):
        """Appends a vtable and its table; returns the positions of the table's fields by slot."""
        slots = max(fields) + 1
        entries, offset = [0] * (2 + slots), 4
        for slot in sorted(fields):
            entries[2 + slot] = offset
            offset += len(fields[slot])
        entries[0], entries[1] = 2 * len(entries), offset
        vtable = len(self.bytes)
        self.bytes += struct.pack("<%dH" % len(entries), *entries)
        position = len(self.bytes)
        self.bytes += struct.pack("<i", position - vtable)
        at = {}
        for slot in sorted(fields):
            at[slot] = len(self.bytes)
            self.bytes += fields[slot]
        return position, at

    def vector(self, form, values):
        position = len(self.bytes)
        self.bytes += struct.pack("<I", len(values)) + b"".join(struct.pack(form, v) for v in values)
        return position

    def point(self, field, target):
        struct.pack_into("<I", self.bytes, field, target - field)


def cbm_shared_borders(features, borders):
    """A CatBoost core whose float features all point at one vector of borders."""
    fb, ref = FlatBuffer(), b"\x00" * 4
    root, root_at = fb.table({1: ref})
    fb.point(0, root)
    trees, trees_at = fb.table({1: ref, 2: ref, 3: ref, 5: ref, 8: ref})
    fb.point(root_at[1], trees)
    for slot, form, values in ((1, "<i", [0]), (2, "<i", [1]), (3, "<i", [0]), (8, "<d", [-1.0, 1.0])):
        fb.point(trees_at[slot], fb.vector(form, values))
    references = fb.vector("<I", [0] * features)
    fb.point(trees_at[5], references)
    borders_fields = []
    for i in range(features):
        feature, feature_at = fb.table({2: struct.pack("<i", i), 3: ref})
        fb.point(references + 4 + 4 * i, feature)
        borders_fields.append(feature_at[3])
    shared = fb.vector("<f", [k + 0.5 for k in range(borders)])
    for field in borders_fields:
        fb.point(field, shared)
    return b"CBM1" + struct.pack("<I", len(fb.bytes)) + bytes(fb.bytes)


def pickle_names(names):
    body = b"\x80\x02}q\x00("
    for name in names:
        body += b"X" + struct.pack("<I", len(name)) + name + b"ctorch\nFloatStorage\n"
    return body + b"u."


def main():
    shutil.rmtree(ROOT, ignore_errors=True)
    for kind in ("cbm", "lightgbm", "onnx", "pytorch", "plan", "safetensors", "gguf", "numpy", "tflite", "keras", "xgboost"):
        os.makedirs(os.path.join(ROOT, kind))

    # CatBoost
    cbm = (b"CBM1\x01\x02" + b'{"boosting_options":{"iterations":10},"flat_params":{"depth":6,"loss_function":"RMSE"}}'
           + b"\x00user_age\x00" + b'{"metrics":{"learn_best_error":{"RMSE":0.5}}}' + b"\x00noon\x00train_finish_time")
    truncations("cbm", "model", "cbm", cbm, 9)
    write("cbm", "braces_million_deep.cbm", b"CBM1" + b"{" * 1000000)
    write("cbm", "braces_closed_million_deep.cbm", b"CBM1" + b"{" * 500000 + b"}" * 500000)
    write("cbm", "arrays_deep.cbm", b'CBM1{"a":' + b"[" * 200000 + b"]" * 200000 + b"}")
    write("cbm", "escapes.cbm", b"CBM1" + b'{"\\"\\' * 50000)
    write("cbm", "huge_numbers.cbm", b'CBM1{"boosting_options":{"iterations":1e400},"flat_params":{"iterations":'
          b'18446744073709551616,"depth":18446744073709551615,"learning_rate":-1e309}}')
    write("cbm", "invalid_utf8.cbm", b'CBM1{"boosting_options":{"x":"\xff\xfe"}}\xff')
    write("cbm", "signature_only.cbm", b"CBM1")
    write("cbm", "no_signature.cbm", b"CBM")
    write("cbm", "features_sharing_borders.cbm", cbm_shared_borders(1500, 4000))

    # LightGBM
    lgb = (b"tree\nversion=v3\nnum_class=1\nmax_feature_idx=2\nobjective=regression\nfeature_names=a b c\n\n"
           b"Tree=0\nnum_leaves=2\nleaf_value=0.5 -0.5\n\nend of trees\n\nparameters:\n[num_leaves: 2]\n"
           b"[learning_rate: 0.1]\n[max_depth: -1]\nend of parameters\n")
    truncations("lightgbm", "model", "lgb", lgb, 11)
    write("lightgbm", "crlf.lgb", lgb.replace(b"\n", b"\r\n"))
    write("lightgbm", "huge_values.lgb", b"tree\nmax_feature_idx=9223372036854775807\nnum_class=99999999999999999999\n"
          b"parameters:\n[num_leaves: 18446744073709551615]\n[learning_rate: 1e999]\n[max_depth: -9223372036854775808]\n")
    write("lightgbm", "negative_index.lgb", b"tree\nmax_feature_idx=-9223372036854775808\n")
    write("lightgbm", "invalid_utf8.lgb", b"tree\n\xff\xfe\nmax_feature_idx=1\nfeature_names=\xc3 \xe2\x82\n")
    write("lightgbm", "many_trees.lgb", b"tree\nmax_feature_idx=0\n" + b"Tree=\nleaf_value=\n" * 20000)
    write("lightgbm", "unterminated_parameters.lgb", b"tree\nmax_feature_idx=0\nparameters:\n[" + b"x" * 10000)

    # ONNX
    graph = (ld(1, node(b"MatMul", [b"x", b"w"], [b"y"])) + ld(1, node(b"Relu", [b"y"], [b"z"])) + ld(2, b"g")
             + ld(5, tensor(b"w", [4, 3], b"\x00" * 48)) + ld(11, value_info(b"x", [2, 4])) + ld(12, value_info(b"z", [2, 3])))
    model = onnx_model(graph)
    truncations("onnx", "model", "onnx", model, 5)
    write("onnx", "varint_11_bytes.onnx", b"\xff" * 10 + b"\x01")
    write("onnx", "tag_varint_11_bytes.onnx", vi(1, 8) + b"\x80" * 11)
    write("onnx", "length_near_2_64.onnx", b"\x3a" + varint(2**64 - 1) + b"x")
    write("onnx", "length_near_2_32.onnx", b"\x3a" + varint(2**32 - 1) + b"x")
    write("onnx", "length_one_too_long.onnx", ld(7, b"")[:-1] + b"\x3a\x05abcd")
    write("onnx", "dims_overflow.onnx", onnx_model(ld(1, node(b"Add", [b"a"], [b"big"])) + ld(12, value_info(b"big", [2**32, 2**32, 3]))
          + ld(5, tensor(b"w", [2**63, 4, 2**62])) + ld(1, node(b"MatMul", [b"w", b"w"], [b"o"]))
          + ld(1, node(b"Conv", [b"x", b"w"], [b"w"]))))
    write("onnx", "negative_dims.onnx", onnx_model(ld(5, tensor(b"w", [2**64 - 1, 2**64 - 5])) + ld(11, value_info(b"w", [2**64 - 1]))))
    write("onnx", "packed_dims_truncated.onnx", onnx_model(ld(5, ld(1, b"\x80\x80") + ld(8, b"t"))))
    write("onnx", "group_wire_type.onnx", onnx_model(ld(1, b"\x0b")))
    write("onnx", "invalid_utf8_name.onnx", onnx_model(ld(2, b"\xc3")))
    write("onnx", "many_graphs.onnx", (ld(7, ld(2, b"g")) * 20000))
    write("onnx", "no_graph.onnx", vi(1, 8))
    write("onnx", "fixed_truncated.onnx", b"\x09\x01\x02")
    write("onnx", "empty.onnx", b"")
    write("onnx", "empty_inputs_100000.onnx", onnx_model(ld(11, b"") * 100000))

    # PyTorch
    entries = [(b"archive/data.pkl", pickle_names([b"fc.weight", b"fc.bias"])), (b"archive/data/0", b"\x01" * 64),
               (b"archive/version", b"3\n")]
    archive = zip_archive(entries)
    truncations("pytorch", "archive", "pt", archive, 13)
    write("pytorch", "pickle_marker_only.pt", b"\x80")
    nested_lists = b"\x80\x02" + b"]" * 100000 + b"a" * 99999 + b"."
    write("pytorch", "lists_100000_deep.pt", zip_archive([(b"archive/data.pkl", nested_lists), (b"archive/version", b"3\n")]))
    write("pytorch", "zip64_past_end.pt", zip_archive(entries, zip64_entries=True)[:-22] + b"PK\x05\x06" +
          struct.pack("<HHHHIIH", 0, 0, 3, 3, 0xFFFFFFFF, 0xFFFFFFFF, 0))
    locator = b"PK\x06\x07" + struct.pack("<IQI", 0, 2**63, 1)
    write("pytorch", "zip64_locator_past_end.pt", b"PK\x03\x04" + b"\x00" * 30 + locator + b"PK\x05\x06" +
          struct.pack("<HHHHIIH", 0, 0, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0))
    record = b"PK\x06\x06" + struct.pack("<QHHIIQQQQ", 44, 45, 45, 0, 0, 1, 1, 2**64 - 1, 2**64 - 100)
    write("pytorch", "zip64_record_huge_directory.pt", b"PK\x03\x04" + b"\x00" * 30 + record +
          b"PK\x06\x07" + struct.pack("<IQI", 0, 34, 1) + b"PK\x05\x06" + struct.pack("<HHHHIIH", 0, 0, 1, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0))
    write("pytorch", "directory_offset_near_2_32.pt", zip_archive(entries, eocd_override=(46, 0xFFFFFFF0)))
    write("pytorch", "directory_size_near_2_32.pt", zip_archive(entries, eocd_override=(0xFFFFFFF0, 0)))
    write("pytorch", "eocd_at_the_very_end.pt", b"PK\x03\x04" + b"\x00" * 40 + b"PK\x05\x06\x00\x00")
    huge_extra = bytearray(zip_archive(entries, zip64_entries=True))
    position = huge_extra.find(struct.pack("<HHQ", 1, 24, len(entries[0][1])))
    huge_extra[position + 4:position + 12] = struct.pack("<Q", 2**64 - 1)
    write("pytorch", "zip64_extra_size_2_64.pt", bytes(huge_extra))
    write("pytorch", "binunicode_length_2_32.pt", b"\x80\x02X\xff\xff\xff\xff" + b"a.weight" * 10)
    write("pytorch", "short_binunicode_at_end.pth", b"\x80\x02\x8c")
    two = zip_archive([(b"a/extra", b"junk"), (b"a/data.pkl", b"\x80x")])
    second = two.find(b"PK\x03\x04", 4)
    write("pytorch", "local_header_bad.pt", two[:second] + b"PK\x09\x09" + two[second + 4:])
    write("pytorch", "not_a_checkpoint.pt", b"hello")
    write("pytorch", "empty.pt", b"")

    # Tensor plans
    write("plan", "braces_million_deep.json", "[" * 500000 + "]" * 500000)
    write("plan", "objects_deep.json", '{"a":' * 100000 + "1" + "}" * 100000)
    write("plan", "input_shape_overflow.json", '{"input_shape": [4294967296, 4294967296, 16], "layers": [{"type": "relu"}]}')
    write("plan", "input_shape_huge.json", '{"input_shape": [100000, 100000], "layers": []}')
    write("plan", "data_mismatch_overflow.json", '{"input": {"shape": [4294967296, 4294967296], "data": []}, "layers": []}')
    write("plan", "matmul_too_large.json", '{"input": {"shape": [4096, 1], "data": [' + ",".join(["1"] * 4096) +
          ']}, "layers": [{"type": "linear", "weights": {"shape": [1, 4096], "data": [' + ",".join(["1"] * 4096) +
          ']}, "out": 4096}]}')
    write("plan", "attention_tokens_huge.json", '{"input_shape": [16777216, 1], "layers": [{"type": "self_attention", "head_dim": 1}]}')
    write("plan", "rank0_softmax.json", '{"input": {"shape": [], "data": [1]}, "layers": [{"type": "softmax"}]}')
    write("plan", "rank0_linear.json", '{"input": {"shape": [], "data": [1]}, "layers": [{"type": "linear", "weights": {"shape": [1, 1], "data": [1]}, "out": 1}, {"type": "linear", "out": 2}]}')
    write("plan", "rank1_weights.json", '{"input_shape": [1, 2], "layers": [{"type": "linear", "weights": {"shape": [2], "data": [1, 2]}, "out": 2}, {"type": "relu"}]}')
    write("plan", "zero_columns.json", '{"input_shape": [3, 0], "layers": [{"type": "softmax"}, {"type": "self_attention", "head_dim": 2}]}')
    write("plan", "negative_dim.json", '{"input_shape": [-1], "layers": []}')
    write("plan", "fraction_dim.json", '{"input_shape": [1.5], "layers": []}')
    write("plan", "duplicate_key.json", '{"layers": [], "layers": []}')
    write("plan", "unknown_variant.json", '{"input_shape": [1], "layers": [{"type": "conv"}]}')
    write("plan", "nan_values.json", '{"input": {"shape": [1, 2], "data": [1e999, -1e999]}, "labels": ["a"], "layers": [{"type": "softmax"}, {"type": "gelu"}]}')
    write("plan", "invalid_utf8.json", b'{"name": "\xff", "layers": []}')
    write("plan", "empty.json", "")
    write("plan", "not_an_object.json", "42")

    tensor_checkpoints()
    numpy_arrays()
    tflite_models()
    keras_archives()
    xgboost_models()


def npy_file(header, data=b"", version=1):
    text = header.encode() if isinstance(header, str) else header
    if version == 1:
        return b"\x93NUMPY\x01\x00" + struct.pack("<H", len(text)) + text + data
    return b"\x93NUMPY" + bytes([version, 0]) + struct.pack("<I", len(text)) + text + data


def numpy_arrays():
    valid = npy_file("{'descr': '<f4', 'fortran_order': False, 'shape': (2, 3), }\n", bytes(range(24)))
    truncations("numpy", "array", "npy", valid, 11)
    fortran = npy_file("{'descr': '>f8', 'fortran_order': True, 'shape': (2, 3), }\n", bytes(48))
    truncations("numpy", "fortran", "npy", fortran, 13)
    write("numpy", "header_length_2_32.npy", b"\x93NUMPY\x02\x00" + struct.pack("<I", 2**32 - 1) + b"{")
    write("numpy", "version_9.npy", b"\x93NUMPY\x09\x00" + bytes(8))
    write("numpy", "shape_overflow.npy", npy_file("{'descr': '<f8', 'fortran_order': False, 'shape': (4294967296, 4294967296, 16)}", bytes(8)))
    write("numpy", "shape_huge_fortran.npy", npy_file("{'descr': '<f4', 'fortran_order': True, 'shape': (65536, 65536)}", bytes(16)))
    write("numpy", "shape_not_tuple.npy", npy_file("{'descr': '<f4', 'fortran_order': False, 'shape': 7}", bytes(4)))
    write("numpy", "descr_nested_deep.npy", npy_file("{'descr': " + "[" * 100000 + "]" * 100000 + ", 'fortran_order': False, 'shape': (1,)}", bytes(8), 2))
    write("numpy", "dict_unclosed.npy", npy_file("{'descr': '<f4', 'fortran_order': False, 'shape': (1,", bytes(4)))
    write("numpy", "string_dtype_huge.npy", npy_file("{'descr': '<U1073741824', 'fortran_order': False, 'shape': (1073741824,)}", bytes(8)))
    write("numpy", "object_array.npy", npy_file("{'descr': '|O', 'fortran_order': False, 'shape': (2,)}", b"\x80\x04N."))
    member = npy_file("{'descr': '<i2', 'fortran_order': False, 'shape': (4,), }\n", bytes(8))
    stored = zip_archive([(b"w.npy", member), (b"b.npy", member)])
    truncations("numpy", "stored", "npz", stored, 41)
    big = npy_file("{'descr': '|u1', 'fortran_order': False, 'shape': (200000000,)}", bytes(200_000_000))
    write("numpy", "member_bomb.npz", zip_archive([(b"w.npy", zlib_raw(big), 8, len(big))]))
    write("numpy", "member_size_lies.npz", zip_archive([(b"w.npy", zlib_raw(member), 8, 2**32 - 1)]))
    write("numpy", "member_not_array.npz", zip_archive([(b"w.npy", b"not an array"), (b"notes.txt", b"x")]))


def tflite_model(buffer_index=1, dims=(2, 2), external=None, opcode_index=0, tensor_count=None, name=b"w\0"):
    """A TFLite model of one subgraph holding one float32 tensor `w` with data, and one operator."""
    fb, ref = FlatBuffer(), b"\x00" * 4
    fb.bytes = bytearray(b"\x00\x00\x00\x00TFL3")
    model, model_at = fb.table({0: struct.pack("<I", 3), 1: ref, 2: ref, 4: ref})
    fb.point(0, model)
    codes = fb.vector("<I", [0])
    fb.point(model_at[1], codes)
    code, _ = fb.table({0: struct.pack("<b", 9), 3: struct.pack("<i", 9)})
    fb.point(codes + 4, code)
    buffers = fb.vector("<I", [0, 0])
    fb.point(model_at[4], buffers)
    empty, _ = fb.table({1: struct.pack("<Q", 0)})
    fb.point(buffers + 4, empty)
    if external:
        data, _ = fb.table({1: struct.pack("<Q", external[0]), 2: struct.pack("<Q", external[1])})
    else:
        data, data_at = fb.table({0: ref})
        fb.point(data_at[0], fb.vector("<B", list(range(16))))
    fb.point(buffers + 8, data)
    subgraphs = fb.vector("<I", [0])
    fb.point(model_at[2], subgraphs)
    subgraph, subgraph_at = fb.table({0: ref, 3: ref})
    fb.point(subgraphs + 4, subgraph)
    tensors = len(fb.bytes)
    fb.bytes += struct.pack("<II", tensor_count if tensor_count is not None else 1, 0)
    fb.point(subgraph_at[0], tensors)
    tensor, tensor_at = fb.table({0: ref, 1: struct.pack("<b", 0), 2: struct.pack("<I", buffer_index), 3: ref})
    fb.point(tensors + 4, tensor)
    fb.point(tensor_at[0], fb.vector("<i", list(dims)))
    text = len(fb.bytes)
    fb.bytes += struct.pack("<I", 1) + name
    fb.point(tensor_at[3], text)
    operators = fb.vector("<I", [0])
    fb.point(subgraph_at[3], operators)
    op, _ = fb.table({0: struct.pack("<I", opcode_index)})
    fb.point(operators + 4, op)
    return bytes(fb.bytes)


def tflite_models():
    truncations("tflite", "model", "tflite", tflite_model(), 17)
    write("tflite", "buffer_index_99.tflite", tflite_model(buffer_index=99))
    write("tflite", "external_past_end.tflite", tflite_model(external=(2**63, 16)))
    write("tflite", "external_size_2_64.tflite", tflite_model(external=(64, 2**64 - 1)))
    write("tflite", "negative_dim.tflite", tflite_model(dims=(2, -2)))
    write("tflite", "dims_overflow.tflite", tflite_model(dims=(2**31 - 1,) * 6))
    write("tflite", "opcode_index_5.tflite", tflite_model(opcode_index=5))
    write("tflite", "tensor_count_2_31.tflite", tflite_model(tensor_count=2**31))
    write("tflite", "name_unterminated.tflite", tflite_model(name=b"w"))
    write("tflite", "identifier_only.tflite", b"\x08\x00\x00\x00TFL3")


def keras_archives():
    config = b'{"module": "keras", "class_name": "Sequential", "config": {"layers": [{"class_name": "Dense", "config": {"name": "d", "units": 2}}]}}'
    metadata = b'{"keras_version": "3.3.3"}'
    signature = b"\x89HDF\r\n\x1a\n"
    noise = bytes((i * 197 + 89) % 256 for i in range(4096))
    valid = zip_archive([(b"metadata.json", metadata), (b"config.json", config)])
    truncations("keras", "archive", "keras", valid, 23)
    write("keras", "weights_not_hdf5.keras", zip_archive([(b"metadata.json", metadata), (b"config.json", config),
                                                         (b"model.weights.h5", b"not hdf5")]))
    write("keras", "weights_hdf5_noise.keras", zip_archive([(b"metadata.json", metadata), (b"config.json", config),
                                                           (b"model.weights.h5", signature + noise)]))
    superblock = signature + bytes([0, 0, 0, 0, 0, 8, 8, 0, 4, 0, 16, 0, 0, 0, 0, 0]) + struct.pack("<QQQQ", 0, 2**63, 2**62, 96)
    write("keras", "weights_superblock_lies.keras", zip_archive([(b"metadata.json", metadata), (b"config.json", config),
                                                                (b"model.weights.h5", superblock + noise[:256])]))
    write("keras", "config_nested_deep.keras", zip_archive([(b"metadata.json", metadata),
                                                           (b"config.json", b"[" * 100000 + b"]" * 100000)]))
    write("keras", "config_not_object.keras", zip_archive([(b"metadata.json", metadata), (b"config.json", b"[1, 2]")]))
    write("keras", "no_config.keras", zip_archive([(b"metadata.json", metadata)]))
    lambda_config = (b'{"class_name": "Sequential", "config": {"layers": [{"class_name": "Lambda", "config": {"name": "x", '
                     b'"function": {"class_name": "__lambda__", "config": {"code": "AAAA"}}}}]}}')
    write("keras", "lambda_layer.keras", zip_archive([(b"metadata.json", metadata), (b"config.json", lambda_config)]))
    big = b'{"class_name": "Sequential", "config": {"layers": []}, "pad": "' + b"a" * 70_000_000 + b'"}'
    write("keras", "config_bomb.keras", zip_archive([(b"metadata.json", metadata),
                                                    (b"config.json", zlib_raw(big), 8, 1000)]))  # states 1,000 bytes


# ---- XGBoost: one tree (a split on feature 0, then on the category set {1} of feature 1)
XGB_TREE = ('{"categories":[1],"categories_nodes":[2],"categories_segments":[0],"categories_sizes":[1],'
            '"default_left":[0,0,0,0,0],"id":0,"left_children":[1,-1,3,-1,-1],"right_children":[2,-1,4,-1,-1],'
            '"split_conditions":[0.5,0.25,NaN,-0.5,0.75],"split_indices":[0,0,1,0,0],"split_type":[0,0,1,0,0]}')


def xgboost_json(tree=XGB_TREE):
    return ('{"learner":{"feature_names":["a","b"],"feature_types":["q","c"],"gradient_booster":{"model":'
            '{"gbtree_model_param":{"num_parallel_tree":"1"},"trees":[' + tree + ']},"name":"gbtree"},'
            '"learner_model_param":{"base_score":"5E-1","num_class":"0","num_feature":"2"},'
            '"objective":{"name":"reg:squarederror"}},"version":[1,7,4]}')


def ubjson_value(value):
    """UBJSON with int64 lengths and counted containers, as XGBoost writes it."""
    def length(count):
        return b"L" + struct.pack(">q", count)
    if isinstance(value, dict):
        return b"{" + b"".join(length(len(k)) + k.encode() + ubjson_value(v) for k, v in value.items()) + b"}"
    if isinstance(value, list):
        return b"[#" + length(len(value)) + b"".join(ubjson_value(v) for v in value)
    if isinstance(value, str):
        return b"S" + length(len(value.encode())) + value.encode()
    if isinstance(value, float):
        return b"d" + struct.pack(">f", value)
    return b"L" + struct.pack(">q", value)


def xgboost_models():
    import json
    text = xgboost_json()
    truncations("xgboost", "model", "json", text, 23)
    ubj = ubjson_value(json.loads(text))
    truncations("xgboost", "model", "ubj", ubj, 61)
    learner = b"{L" + struct.pack(">q", 7) + b"learner"
    write("xgboost", "deep.json", '{"learner":' + "[" * 100000 + "]" * 100000 + "}")
    write("xgboost", "deep.ubj", learner + b"[" * 100000)
    write("xgboost", "null_count_2_63.ubj", learner + b"[$Z#L" + struct.pack(">q", 2**63 - 1))
    write("xgboost", "string_2_62.ubj", learner + b"SL" + struct.pack(">q", 2**62) + b"ab")
    write("xgboost", "length_negative.ubj", learner + b"SL" + struct.pack(">q", -1))
    write("xgboost", "child_cycle.json", xgboost_json(XGB_TREE.replace("[2,-1,4,-1,-1]", "[2,-1,0,-1,-1]")))
    write("xgboost", "child_2_31.json", xgboost_json(XGB_TREE.replace("[2,-1,4,-1,-1]", "[2,-1,2147483648,-1,-1]")))
    write("xgboost", "feature_2_63.json", xgboost_json(XGB_TREE.replace("[0,0,1,0,0]", "[0,0,9223372036854775807,0,0]")))
    write("xgboost", "segment_2_64.json", xgboost_json(XGB_TREE.replace('"categories_segments":[0]',
                                                                         '"categories_segments":[18446744073709551615]')))
    write("xgboost", "threshold_1e999.json", xgboost_json(XGB_TREE.replace("[0.5,", "[1e999,")))
    name = b"SL" + struct.pack(">q", 1)
    write("xgboost", "invalid_utf8_name.ubj", ubj.replace(name + b"a", name + b"\xff", 1))
    write("xgboost", "not_learner.json", '{"learner":42}')


def zlib_raw(data):
    compressor = zlib.compressobj(9, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def safetensors_file(header, data=b""):
    text = header if isinstance(header, bytes) else header.encode()
    return struct.pack("<Q", len(text)) + text + data


def gguf_string(text, width=8):
    return struct.pack("<Q" if width == 8 else "<I", len(text)) + text


def gguf_file(kvs, infos, data=b"", tensor_count=None, kv_count=None, version=3):
    width = 4 if version == 1 else 8
    size = "<I" if width == 4 else "<Q"
    head = b"GGUF" + struct.pack("<I", version)
    head += struct.pack(size, len(infos) if tensor_count is None else tensor_count)
    head += struct.pack(size, len(kvs) if kv_count is None else kv_count)
    head += b"".join(kvs) + b"".join(infos)
    return head + b"\0" * (-len(head) % 32) + data


def gguf_info(name, dims, ggml_type, offset):
    return gguf_string(name) + struct.pack("<I", len(dims)) + b"".join(struct.pack("<Q", d) for d in dims) + \
        struct.pack("<IQ", ggml_type, offset)


def tensor_checkpoints():
    # safetensors
    valid = safetensors_file('{"__metadata__":{"format":"pt"},"a":{"dtype":"F32","shape":[2],"data_offsets":[0,8]},'
                             '"b":{"dtype":"F16","shape":[2,2],"data_offsets":[8,16]}}', bytes(range(16)))
    truncations("safetensors", "model", "safetensors", valid, 29)
    write("safetensors", "header_length_2_64.safetensors", struct.pack("<Q", 2**64 - 1) + b"{}")
    write("safetensors", "header_not_object.safetensors", safetensors_file("[1,2,3]"))
    write("safetensors", "overlap.safetensors", safetensors_file(
        '{"a":{"dtype":"F32","shape":[2],"data_offsets":[0,8]},"b":{"dtype":"F32","shape":[2],"data_offsets":[4,12]}}', bytes(12)))
    write("safetensors", "offsets_past_end.safetensors", safetensors_file(
        '{"a":{"dtype":"F32","shape":[4],"data_offsets":[0,16]}}', bytes(8)))
    write("safetensors", "shape_overflow.safetensors", safetensors_file(
        '{"a":{"dtype":"F32","shape":[4294967296,4294967296,16],"data_offsets":[0,8]}}', bytes(8)))
    write("safetensors", "duplicate_key.safetensors", safetensors_file(
        '{"a":{"dtype":"U8","shape":[1],"data_offsets":[0,1]},"a":{"dtype":"U8","shape":[1],"data_offsets":[0,1]}}', b"x"))
    write("safetensors", "invalid_utf8_name.safetensors", safetensors_file(
        b'{"\xff\x1b[2J":{"dtype":"U8","shape":[1],"data_offsets":[0,1]}}', b"x"))
    write("safetensors", "deep_metadata.safetensors", safetensors_file('{"__metadata__":' + "[" * 100000 + "]" * 100000 + "}"))
    write("safetensors", "escaping.safetensors.index.json",
          '{"metadata":{},"weight_map":{"a":"../../etc/passwd","b":"/etc/passwd"}}')
    write("safetensors", "missing_shard.safetensors.index.json", '{"weight_map":{"a":"nowhere.safetensors"}}')
    write("safetensors", "index_not_object.safetensors.index.json", "[]")

    # GGUF
    kvs = [gguf_string(b"general.architecture") + struct.pack("<I", 8) + gguf_string(b"llama"),
           gguf_string(b"llama.block_count") + struct.pack("<I", 4) + struct.pack("<I", 2)]
    infos = [gguf_info(b"token_embd.weight", [4, 2], 0, 0), gguf_info(b"blk.0.w", [4], 0, 32)]
    valid = gguf_file(kvs, infos, bytes(64))
    truncations("gguf", "model", "gguf", valid, 37)
    write("gguf", "counts_2_63.gguf", gguf_file([], [], tensor_count=2**63, kv_count=2**63))
    write("gguf", "string_length_2_63.gguf", gguf_file([struct.pack("<Q", 2**63) + b"key"], [], kv_count=1))
    nested = gguf_string(b"deep") + struct.pack("<I", 9) + (struct.pack("<IQ", 9, 1)) * 1000 + struct.pack("<IQ", 4, 0)
    write("gguf", "arrays_1000_deep.gguf", gguf_file([nested], []))
    write("gguf", "array_count_2_63.gguf", gguf_file([gguf_string(b"a") + struct.pack("<IIQ", 9, 4, 2**63)], []))
    write("gguf", "dims_2_32.gguf", gguf_file([], [gguf_string(b"t") + struct.pack("<I", 2**32 - 1)]))
    write("gguf", "shape_overflow.gguf", gguf_file([], [gguf_info(b"t", [2**32, 2**32, 16], 0, 0)]))
    write("gguf", "unknown_type.gguf", gguf_file([], [gguf_info(b"t", [4], 4000, 0)], bytes(32)))
    write("gguf", "overlap.gguf", gguf_file([], [gguf_info(b"a", [16], 0, 0), gguf_info(b"b", [16], 0, 32)], bytes(96)))
    write("gguf", "offset_past_end.gguf", gguf_file([], [gguf_info(b"a", [4], 0, 2**63)], bytes(32)))
    write("gguf", "alignment_zero.gguf", gguf_file([gguf_string(b"general.alignment") + struct.pack("<II", 4, 0)], []))
    huge = [gguf_string(b"general.architecture") + struct.pack("<I", 8) + gguf_string(b"llama")]
    for key in (b"llama.block_count", b"llama.embedding_length", b"llama.attention.head_count",
                b"llama.attention.head_count_kv", b"llama.attention.key_length", b"llama.context_length"):
        huge.append(gguf_string(key) + struct.pack("<IQ", 10, 2**63 + 1))
    huge.append(gguf_string(b"llama.attention.value_length") + struct.pack("<IQ", 10, 0))
    write("gguf", "serving_figures_2_63.gguf", gguf_file(huge, infos, bytes(64)))
    write("gguf", "big_endian.gguf", b"GGUF" + struct.pack(">I", 3) + bytes(16))
    write("gguf", "duplicate_tensor.gguf", gguf_file([], [gguf_info(b"a", [4], 0, 0), gguf_info(b"a", [4], 0, 32)], bytes(64)))
    write("gguf", "control_names.gguf", gguf_file(
        [gguf_string(b"general.name\x1b[31m") + struct.pack("<I", 8) + gguf_string(b"\x1b]0;title\x07")],
        [gguf_info(b"blk.0.\x1b[2J", [4], 0, 0)], bytes(32)))


main()
