#!/usr/bin/env python3
"""Compare `tarnwick onnx --json` with the onnx package's reading of the same files.

Usage: onnx_conformance.py <tarnwick binary> <model.onnx>...
Prints one line per file and a closing "N passed, N failed" line; exits 1 on any mismatch.
"""
import json
import subprocess
import sys

import onnx
from onnx import numpy_helper  # noqa: F401  (imported to fail early on a broken install)

DTYPE_SIZE = {1: 4, 2: 1, 3: 1, 4: 2, 5: 2, 6: 4, 7: 8, 9: 1, 10: 2, 11: 8, 12: 4, 13: 8, 16: 2}


def value_infos(infos):
    result = []
    for info in infos:
        entry = {"name": info.name, "elem_type": None, "shape": []}
        if info.type.HasField("tensor_type"):
            tensor_type = info.type.tensor_type
            entry["elem_type"] = tensor_type.elem_type if tensor_type.HasField("elem_type") else None
            if tensor_type.HasField("shape"):
                for dim in tensor_type.shape.dim:
                    if dim.HasField("dim_value"):
                        entry["shape"].append(str(dim.dim_value))
                    elif dim.HasField("dim_param"):
                        entry["shape"].append(dim.dim_param)
                    else:
                        entry["shape"].append("?")
        result.append(entry)
    return result


def expected_summary(model):
    graph = model.graph
    op_counts = {}
    for node in graph.node:
        op = node.op_type or "Unknown"
        op_counts[op] = op_counts.get(op, 0) + 1
    values = memory = 0
    initializers = []
    for tensor in graph.initializer:
        count = 1
        for dim in tensor.dims:
            count = (count * (dim % 2**64)) % 2**64
        size = DTYPE_SIZE.get(tensor.data_type, 4)
        values = (values + count) % 2**64
        memory = (memory + count * size) % 2**64
        initializers.append({
            "name": tensor.name,
            "shape": [d % 2**64 for d in tensor.dims],
            "data_type": tensor.data_type if tensor.HasField("data_type") else None,
            "values": count,
            "estimated_bytes": (count * size) % 2**64,
            "raw_data_bytes": len(tensor.raw_data),
            "external_data_entries": len(tensor.external_data),
        })
    return {
        "ir_version": model.ir_version if model.HasField("ir_version") else None,
        "producer": model.producer_name if model.HasField("producer_name") else None,
        "graph": graph.name if graph.HasField("name") else None,
        "nodes": len(graph.node),
        "initializers": len(graph.initializer),
        "value_info_entries": len(graph.value_info),
        "parameter_values": values,
        "parameter_memory_bytes": memory,
        "inputs": value_infos(graph.input),
        "outputs": value_infos(graph.output),
        "op_counts": sorted(op_counts.items(), key=lambda item: (-item[1], item[0].encode())),
        "opsets": [
            {"domain": o.domain, "version": o.version if o.HasField("version") else None}
            for o in model.opset_import
        ],
        "initializer_list": initializers,
    }


def actual_summary(document):
    summary = document["summary"]
    result = {key: summary[key] for key in (
        "ir_version", "producer", "graph", "nodes", "initializers", "value_info_entries",
        "parameter_values", "parameter_memory_bytes", "inputs", "outputs")}
    result["op_counts"] = [tuple(pair) for pair in summary["op_counts"]]
    result["opsets"] = document["opsets"]
    result["initializer_list"] = [
        {
            "name": entry["name"],
            "shape": entry["tensor"]["shape"],
            "data_type": entry["tensor"]["data_type"],
            "values": entry["tensor"]["values"],
            "estimated_bytes": entry["tensor"]["estimated_bytes"],
            "raw_data_bytes": entry["tensor"]["raw_data_bytes"],
            "external_data_entries": entry["tensor"]["external_data_entries"],
        }
        for entry in document["initializers"]
    ]
    return result


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    for path in paths:
        run = subprocess.run([binary, "onnx", "--json", path], capture_output=True, text=True)
        if run.returncode != 0:
            print("FAIL {}: tarnwick exited {}: {}".format(path, run.returncode, run.stderr.strip()))
            failed += 1
            continue
        actual = actual_summary(json.loads(run.stdout))
        expected = expected_summary(onnx.load(path, load_external_data=False))
        expected["op_counts"] = [tuple(pair) for pair in expected["op_counts"]]
        differing = [key for key in expected if expected[key] != actual[key]]
        if differing:
            failed += 1
            for key in differing:
                print("FAIL {}: {}: expected {!r}, got {!r}".format(path, key, expected[key], actual[key])[:2000])
        else:
            passed += 1
    print("onnx conformance: {} passed, {} failed".format(passed, failed))
    sys.exit(1 if failed else 0)


main()
