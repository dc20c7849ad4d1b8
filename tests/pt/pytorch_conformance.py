#!/usr/bin/env python3
"""Cross-check `tarnwick pytorch --json` against Python's own zipfile and a stubbed unpickler.

Usage: pytorch_conformance.py <tarnwick binary> <checkpoint>...
zipfile lists the archive entries (storage count and byte total); a restricted Unpickler that
builds stand-ins for every class and persistent id recovers the tensors' key paths (keys of
nested containers joined with "."), which must all appear among tarnwick's parameter names, and
for a legacy file its storages (distinct keys of the persistent ids, their element counts times
the storage class's element size). Closes with "N passed, N failed".
"""
import collections
import io
import json
import pickle
import re
import subprocess
import sys
import zipfile

STORAGE = re.compile(r"/data/[0-9]+$")
ELEMENT_SIZE = {"DoubleStorage": 8, "FloatStorage": 4, "HalfStorage": 2, "BFloat16Storage": 2, "LongStorage": 8,
                "IntStorage": 4, "ShortStorage": 2, "CharStorage": 1, "ByteStorage": 1, "BoolStorage": 1}


class Stub:
    def __init__(self, *args, **kwargs):
        self.args = args

    def __setstate__(self, state):
        self.state = state


class TensorStub(Stub):
    pass


class StubUnpickler(pickle.Unpickler):
    """Builds stand-ins instead of importing anything; tensors become TensorStub."""

    def find_class(self, module, name):
        if (module, name) == ("collections", "OrderedDict"):
            return collections.OrderedDict
        if name.startswith("_rebuild"):
            return lambda *args, **kwargs: TensorStub()
        return type(name, (Stub,), {})

    def persistent_load(self, pid):
        self.storages = getattr(self, "storages", {})
        self.storages[pid[2]] = pid[4] * ELEMENT_SIZE[pid[1].__name__]
        return Stub(pid)


def tensor_keys(value, found, prefix=""):
    if isinstance(value, TensorStub):
        found.append(prefix)
    elif isinstance(value, dict):
        for key, item in value.items():
            tensor_keys(item, found, f"{prefix}.{key}" if prefix else str(key))
    elif isinstance(value, (list, tuple)):
        for index, item in enumerate(value):
            tensor_keys(item, found, f"{prefix}.{index}" if prefix else str(index))
    elif isinstance(value, Stub):
        tensor_keys(getattr(value, "state", None), found, prefix)
    return found


def expected(path):
    if zipfile.is_zipfile(path):
        with zipfile.ZipFile(path) as archive:
            infos = archive.infolist()
            storages = [i for i in infos if STORAGE.search(i.filename)]
            pickle_name = next(i.filename for i in infos if i.filename.endswith("data.pkl"))
            state = StubUnpickler(io.BytesIO(archive.read(pickle_name))).load()
        return {"is_zip": True, "tensor_count": len(storages),
                "total_parameter_bytes": sum(i.file_size for i in storages)}, tensor_keys(state, [])
    with open(path, "rb") as handle:
        unpickler = StubUnpickler(handle)
        for _ in range(3):  # magic number, protocol version, system info
            unpickler.load()
        state = unpickler.load()
    storages = getattr(unpickler, "storages", {})
    return {"is_zip": False, "tensor_count": len(storages),
            "total_parameter_bytes": sum(storages.values())}, tensor_keys(state, [])


def main():
    binary, paths = sys.argv[1], sys.argv[2:]
    passed = failed = 0
    for path in paths:
        run = subprocess.run([binary, "pytorch", "--json", path], capture_output=True, text=True)
        if run.returncode != 0:
            print("FAIL {}: {}".format(path, run.stderr.strip()))
            failed += 1
            continue
        actual = json.loads(run.stdout)
        counts, keys = expected(path)
        problems = ["{}: expected {}, got {}".format(k, v, actual[k]) for k, v in counts.items() if actual[k] != v]
        missing = [key for key in keys if key not in actual["param_names"]]
        if not keys:
            problems.append("the oracle found no state-dict keys")
        if missing:
            problems.append("names missing: {}".format(missing))
        if problems:
            failed += 1
            print("FAIL {}: {}".format(path, "; ".join(problems)))
        else:
            passed += 1
            print("ok {}: {} storages, {} bytes, {} keys".format(
                path, counts["tensor_count"], counts["total_parameter_bytes"], len(keys)))
    print("pytorch conformance: {} passed, {} failed".format(passed, failed))
    sys.exit(1 if failed else 0)


main()
