"""Small model files for the documentation examples, written byte by byte (nothing is loaded
or unpickled): versions of a safetensors checkpoint, GGUF files (one quantized), CatBoost files with
feature names, XGBoost models in JSON and UBJSON, an ONNX graph with a symbolic dim, a
subgraph and external data, and a pickle that would run a shell command if anything ever
loaded it."""

import json
import os
import struct


def safetensors_bytes(tensors, metadata):
    """tensors: list of (name, dtype, shape, data bytes), stored in that order."""
    header, offset = {"__metadata__": metadata}, 0
    for name, dtype, shape, data in tensors:
        header[name] = {"dtype": dtype, "shape": shape, "data_offsets": [offset, offset + len(data)]}
        offset += len(data)
    text = json.dumps(header, separators=(",", ":")).encode()
    text += b" " * (-len(text) % 8)
    return struct.pack("<Q", len(text)) + text + b"".join(t[3] for t in tensors)


def floats(*values):
    return struct.pack(f"<{len(values)}f", *values)


def gguf_string(text):
    data = text.encode()
    return struct.pack("<Q", len(data)) + data


def gguf_bytes(values, tensors):
    """values: list of (key, type code, packed value); tensors: list of (name, dims, ggml type,
    data bytes). Version 3, alignment 32."""
    out = b"GGUF" + struct.pack("<IQQ", 3, len(tensors), len(values))
    for key, code, packed in values:
        out += gguf_string(key) + struct.pack("<I", code) + packed
    offset, data = 0, b""
    for name, dims, ggml_type, tensor_data in tensors:
        out += gguf_string(name) + struct.pack("<I", len(dims))
        out += b"".join(struct.pack("<Q", d) for d in dims)
        out += struct.pack("<IQ", ggml_type, offset)
        padded = tensor_data + b"\0" * (-len(tensor_data) % 32)
        data += padded
        offset += len(padded)
    out += b"\0" * (-len(out) % 32)
    return out + data


def tiny_gguf(name, extra_tensors):
    return gguf_bytes(
        [("general.architecture", 8, gguf_string("llama")),
         ("general.name", 8, gguf_string(name)),
         ("llama.context_length", 4, struct.pack("<I", 64)),
         ("llama.embedding_length", 4, struct.pack("<I", 4)),
         ("llama.block_count", 4, struct.pack("<I", 1)),
         ("llama.attention.head_count", 4, struct.pack("<I", 2)),
         ("general.file_type", 4, struct.pack("<I", 0)),
         ("llama.rope.dimension_sections", 9, struct.pack("<IQ4i", 5, 4, 1, 1, 0, 0)),
         ("tokenizer.ggml.tokens", 9,
          struct.pack("<IQ", 8, 20) + b"".join(gguf_string(f"tok{i}") for i in range(20)))],
        [("token_embd.weight", [4, 3], 0, floats(*range(12))),
         ("blk.0.attn_q.weight", [4, 4], 1, struct.pack("<16e", *([0.25] * 16)))] + extra_tensors)


def cbm_bytes(feature_names):
    metadata = b'{"params":{"loss_function":{"type":"Logloss"}}}'
    runs = b"".join(b"\x00\x01" + name.encode() for name in feature_names)
    return b"CBM1\x00\x00\x00\x00" + metadata + runs + bytes(range(16))


def xgboost_model(leaf, names):
    """A gbtree model as XGBoost 1.7 saves it: one tree splitting on the first feature, then on
    a category set of the last, and one leaf-only tree."""
    def tree(index, left, right, conditions, features, types, categories):
        count = len(left)
        return {"base_weights": [0.0] * count, "categories": categories[0], "categories_nodes": categories[1],
                "categories_segments": categories[2], "categories_sizes": categories[3],
                "default_left": [0] * count, "id": index, "left_children": left,
                "loss_changes": [0.0] * count, "parents": [2147483647] + [0] * (count - 1),
                "right_children": right, "split_conditions": conditions, "split_indices": features,
                "split_type": types, "sum_hessian": [1.0] * count,
                "tree_param": {"num_deleted": "0", "num_feature": str(len(names)), "num_nodes": str(count),
                               "size_leaf_vector": "0"}}
    trees = [tree(0, [1, -1, 3, -1, -1], [2, -1, 4, -1, -1], [0.5, 0.125, 0.0, -0.25, leaf],
                  [0, 0, len(names) - 1, 0, 0], [0, 0, 1, 0, 0], ([1, 3], [2], [0], [2])),
             tree(1, [-1], [-1], [0.0625], [0], [0], ([], [], [], []))]
    return {"learner": {
        "attributes": {}, "feature_names": names, "feature_types": ["q"] * (len(names) - 1) + ["c"],
        "gradient_booster": {"model": {"gbtree_model_param": {"num_parallel_tree": "1", "num_trees": "2"},
                                       "tree_info": [0, 0], "trees": trees}, "name": "gbtree"},
        "learner_model_param": {"base_score": "5E-1", "boost_from_average": "1", "num_class": "0",
                                "num_feature": str(len(names)), "num_target": "1"},
        "objective": {"name": "binary:logistic", "reg_loss_param": {"scale_pos_weight": "1"}}},
        "version": [1, 7, 4]}


# The typed arrays XGBoost writes for a tree, by key: int32 ('l'), int64 ('L'), uint8 ('U'),
# float32 ('d').
UBJSON_ARRAY_TYPES = {"left_children": "l", "right_children": "l", "parents": "l", "split_indices": "l",
                      "categories": "l", "categories_nodes": "l", "categories_segments": "L",
                      "categories_sizes": "L", "default_left": "U", "split_type": "U", "base_weights": "d",
                      "loss_changes": "d", "sum_hessian": "d", "split_conditions": "d"}
UBJSON_FORMATS = {"l": ">i", "L": ">q", "U": ">B", "d": ">f"}


def ubjson(value, key=None):
    """UBJSON as XGBoost writes it: int64 lengths, tree arrays typed and counted."""
    def length(count):
        return b"L" + struct.pack(">q", count)
    if isinstance(value, dict):
        return b"{" + b"".join(length(len(k)) + k.encode() + ubjson(v, k) for k, v in value.items()) + b"}"
    if isinstance(value, list) and key in UBJSON_ARRAY_TYPES:
        marker = UBJSON_ARRAY_TYPES[key]
        return (b"[$" + marker.encode() + b"#" + length(len(value)) +
                b"".join(struct.pack(UBJSON_FORMATS[marker], v) for v in value))
    if isinstance(value, list):
        return b"[#" + length(len(value)) + b"".join(ubjson(v) for v in value)
    if isinstance(value, str):
        return b"S" + length(len(value.encode())) + value.encode()
    if isinstance(value, float):
        return b"d" + struct.pack(">f", value)
    return b"i" + struct.pack(">b", value) if -128 <= value < 128 else b"L" + struct.pack(">q", value)


def write_onnx_with_subgraph_and_external_data(directory):
    """Y = X @ W with X [batch, 4] and W stored in weights.bin, then an If whose branches pass
    Y through. Written with python3-onnx's helpers; the bytes do not depend on its version."""
    from onnx import TensorProto, helper

    weights = floats(*[0.5] * 8)
    with open(os.path.join(directory, "weights.bin"), "wb") as handle:
        handle.write(weights)
    w = TensorProto(name="W", data_type=TensorProto.FLOAT, dims=[4, 2])
    w.data_location = TensorProto.EXTERNAL
    for key, value in (("location", "weights.bin"), ("offset", "0"), ("length", str(len(weights)))):
        entry = w.external_data.add()
        entry.key, entry.value = key, value
    def branch(name):
        return helper.make_graph([helper.make_node("Identity", ["Y"], [name + "_out"], name=name)], name,
                                 [], [helper.make_tensor_value_info(name + "_out", TensorProto.FLOAT, None)])
    graph = helper.make_graph(
        [helper.make_node("MatMul", ["X", "W"], ["Y"], name="project"),
         helper.make_node("Constant", [], ["flag"], name="flag",
                          value=helper.make_tensor("flag_value", TensorProto.BOOL, [], [True])),
         helper.make_node("If", ["flag"], ["Z"], name="choose", then_branch=branch("then"),
                          else_branch=branch("else"))],
        "branchy",
        [helper.make_tensor_value_info("X", TensorProto.FLOAT, ["batch", 4])],
        [helper.make_tensor_value_info("Z", TensorProto.FLOAT, ["batch", 2])],
        [w])
    model = helper.make_model(graph, producer_name="tarnwick-fixtures", ir_version=8,
                              opset_imports=[helper.make_opsetid("", 13)])
    with open(os.path.join(directory, "branchy.onnx"), "wb") as handle:
        handle.write(model.SerializeToString())
    # The same model moved without its weights.bin: W cannot be compared.
    os.makedirs(os.path.join(directory, "without-data"), exist_ok=True)
    with open(os.path.join(directory, "without-data", "branchy.onnx"), "wb") as handle:
        handle.write(model.SerializeToString())


def write_all(directory):
    os.makedirs(directory, exist_ok=True)
    files = {
        "tiny.safetensors": safetensors_bytes(
            [("embed.weight", "F32", [2, 3], floats(1, 2, 3, 4, 5, 6)),
             ("head.bias", "F16", [2], struct.pack("<2e", 0.5, -0.5)),
             ("head.weight", "F32", [2, 2], floats(1, 0, 0, 1))],
            {"format": "pt", "step": "1000"}),
        "tiny_v2.safetensors": safetensors_bytes(
            [("embed.weight", "F32", [2, 3], floats(1, 2, 3, 4, 5, 7)),
             ("head.bias", "F16", [2], struct.pack("<2e", 0.5, -0.5)),
             ("head.weight", "F32", [4], floats(1, 0, 0, 1)),
             ("norm.weight", "BF16", [2], b"\x80\x3f\x80\x3f")],
            {"format": "pt", "step": "2000"}),
        "tiny_v3.safetensors": safetensors_bytes(
            [("embed.weight", "F32", [2, 3], floats(1, 2, 3, 4, 5, 6)),
             ("head.bias", "F32", [2], floats(0.5, -0.5))],
            {"format": "pt", "license": "mit"}),
        # tiny.safetensors with its embedding renamed (and one value changed), the head weight
        # renamed as it is, and `names.txt` mapping the first of the two renames.
        "tiny_renamed.safetensors": safetensors_bytes(
            [("embedding.weight", "F32", [2, 3], floats(1, 2, 3, 4, 5, 7)),
             ("head.bias", "F16", [2], struct.pack("<2e", 0.5, -0.25)),
             ("head.w", "F32", [2, 2], floats(1, 0, 0, 1))],
            {"format": "pt", "step": "3000"}),
        "names.txt": b"# old name, new name\nembed.weight embedding.weight\n",
        "tiny.gguf": tiny_gguf("tiny", []),
        # Two q8_0 blocks (scale 0.25 as a half, then 32 signed bytes each) and an iq2_xxs
        # block, whose values are not decoded.
        "quantized.gguf": gguf_bytes(
            [("general.architecture", 8, gguf_string("llama"))],
            [("blk.0.ffn_up.weight", [32, 2], 8,
              b"".join(struct.pack("<e32b", 0.25, *range(start, start + 32)) for start in (-32, 0))),
             ("blk.0.ffn_gate.weight", [256], 16, bytes(66))]),
        "tiny_v2.gguf": tiny_gguf("tiny v2", [("output.weight", [4, 3], 0, floats(*range(12)))]),
        # CatBoost models as far as a static reader sees them: the signature, embedded JSON
        # metadata and printable snake_case runs that read as feature names.
        "named.cbm": cbm_bytes(["credit_amount", "age_years"]),
        "named_v2.cbm": cbm_bytes(["credit_amount", "income_total"]),
        "tiny_xgb.json": json.dumps(xgboost_model(0.375, ["age", "income", "color"]),
                                    separators=(",", ":")).encode(),
        "tiny_xgb.ubj": ubjson(xgboost_model(0.375, ["age", "income", "color"])),
        "tiny_xgb_v2.json": json.dumps(xgboost_model(0.5, ["age", "tenure", "color"]),
                                       separators=(",", ":")).encode(),
        # GLOBAL os.system, then a call of it with one argument; never loaded by anything here.
        "shell.pkl": b"\x80\x02cos\nsystem\nX\x02\x00\x00\x00id\x85R.",
    }
    for name, data in files.items():
        with open(os.path.join(directory, name), "wb") as handle:
            handle.write(data)
    write_onnx_with_subgraph_and_external_data(directory)
