#!/usr/bin/env python3
"""Files that honest training code writes, and the grade `tarnwick scan --json` gives each: the
highest grade among its imports and the verdict under the default policy (fail on unknown) and
under `--fail-on dangerous`. Nothing here may be graded dangerous or judged unscannable; weights
alone name only the weights-only set, whole modules and common Python objects only framework
classes, sklearn models unknown ones. Prints the table (file, highest grade, verdicts).

usage: benign_grades.py <tarnwick>
"""
import argparse
import collections
import datetime
import importlib
import io
import json
import os
import pathlib
import pickle
import subprocess
import sys
import tempfile

REQUIRED_MODULES = {"torch": "python3-torch", "numpy": "python3-numpy", "torchvision": "python3-torchvision",
                    "sklearn": "python3-sklearn", "joblib": "python3-joblib"}
for _module, _package in REQUIRED_MODULES.items():
    try:
        importlib.import_module(_module)
    except ImportError:
        print(f"skipped: {_package} is not installed (make deps installs it)")
        sys.exit(77)

import numpy  # noqa: E402
import torch  # noqa: E402

GRADES = ["none", "allowed", "framework", "unknown", "dangerous"]


def small_module():
    torch.manual_seed(0)
    return torch.nn.Sequential(torch.nn.Linear(4, 3), torch.nn.BatchNorm1d(3), torch.nn.ReLU())


def torch_bytes(value, legacy=False):
    buffer = io.BytesIO()
    torch.save(value, buffer, _use_new_zipfile_serialization=not legacy)
    return buffer.getvalue()


def optimizer_state():
    module = small_module()
    optimizer = torch.optim.Adam(module.parameters(), lr=1e-3)
    module(torch.randn(5, 4)).sum().backward()
    optimizer.step()
    return optimizer.state_dict()


def torchvision_model(name):
    import torchvision
    return getattr(torchvision.models, name)(weights=None)


def legacy_tar_checkpoint():
    """torch's oldest format, as torch.load still reads it: a tar of sys_info, storages (a count,
    then per storage its key and type and its raw bytes, then the views), tensors (a count, then
    per tensor its key, storage and type and its sizes and strides) and the pickle, whose
    persistent ids name the tensors. Holds {"w": tensor([1.5, -2.0])}."""
    import struct
    import tarfile
    storages = (pickle.dumps(1, protocol=2) + pickle.dumps((0, "cpu", torch.FloatStorage), protocol=2) +
                struct.pack("<q2f", 2, 1.5, -2.0) + pickle.dumps([], protocol=2))
    tensors = (pickle.dumps(1, protocol=2) + pickle.dumps((1, 0, torch.FloatTensor), protocol=2) +
               struct.pack("<ii", 1, 0) + struct.pack("<qqq", 2, 1, 0))

    class Persistent(pickle.Pickler):
        def persistent_id(self, obj):
            return 1 if obj is marker else None

    marker = object()
    buffer = io.BytesIO()
    Persistent(buffer, protocol=2).dump({"w": marker})
    sys_info = {"protocol_version": 1001, "little_endian": True, "type_sizes": {"short": 2, "int": 4, "long": 4}}
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w", format=tarfile.PAX_FORMAT) as tar:
        for name, data in [("sys_info", pickle.dumps(sys_info, protocol=2)), ("storages", storages),
                           ("tensors", tensors), ("pickle", buffer.getvalue())]:
            info = tarfile.TarInfo(name)
            info.size = len(data)
            tar.addfile(info, io.BytesIO(data))
    data = out.getvalue()
    with tempfile.NamedTemporaryFile(suffix=".pt") as f:  # torch tries tar only on a real file
        f.write(data)
        f.flush()
        assert torch.load(f.name)["w"].tolist() == [1.5, -2.0], "torch does not read the tar checkpoint"
    return data


def numpy_bytes(save, *args, **kwargs):
    buffer = io.BytesIO()
    save(buffer, *args, **kwargs)
    return buffer.getvalue()


def sklearn_model(kind):
    from sklearn.ensemble import RandomForestClassifier
    from sklearn.linear_model import LogisticRegression
    rng = numpy.random.RandomState(0)
    x = rng.randn(40, 3)
    y = (x[:, 0] + x[:, 1] > 0).astype(int)
    model = LogisticRegression() if kind == "logistic" else RandomForestClassifier(n_estimators=3, max_depth=3,
                                                                                     random_state=0)
    return model.fit(x, y)


def joblib_bytes(value, compress=0):
    import joblib
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "model.joblib")
        joblib.dump(value, path, compress=compress)
        with open(path, "rb") as f:
            return f.read()


# (file name, writer, expected highest grade among its imports)
CASES = [
    ("state_dict.pt", lambda: torch_bytes(small_module().state_dict()), "allowed"),
    ("state_dict_legacy.pt", lambda: torch_bytes(small_module().state_dict(), legacy=True), "allowed"),
    ("legacy_tar.pt", legacy_tar_checkpoint, "allowed"),
    ("optimizer.pt", lambda: torch_bytes(optimizer_state()), "allowed"),
    ("optimizer_legacy.pt", lambda: torch_bytes(optimizer_state(), legacy=True), "allowed"),
    ("resnet18.pt", lambda: torch_bytes(torchvision_model("resnet18")), "framework"),
    ("resnet18_legacy.pt", lambda: torch_bytes(torchvision_model("resnet18"), legacy=True), "framework"),
    ("mobilenet_v3_small.pt", lambda: torch_bytes(torchvision_model("mobilenet_v3_small")), "framework"),
    ("numpy_arrays.pt", lambda: torch_bytes({"mean": numpy.arange(3.0), "labels": numpy.array([1, 2], dtype=numpy.int64)}),
     "framework"),
    ("numpy_scalar.pt", lambda: torch_bytes({"best_accuracy": numpy.float64(0.93)}), "framework"),
    ("namespace.pt", lambda: torch_bytes({"args": argparse.Namespace(lr=0.1, epochs=3), "epoch": 3}), "framework"),
    ("defaultdict.pt", lambda: torch_bytes({"counts": collections.defaultdict(list, {"a": [1]})}), "framework"),
    ("datetime.pt", lambda: torch_bytes({"saved": datetime.datetime(2024, 5, 1, 12, 30), "day": datetime.date(2024, 5, 1),
                                         "took": datetime.timedelta(seconds=90)}), "framework"),
    ("pathlib.pt", lambda: torch_bytes({"data": pathlib.PurePosixPath("/data/train"), "out": pathlib.Path("runs/1")}),
     "framework"),
    ("arrays.npy", lambda: numpy_bytes(numpy.save, numpy.arange(12.0).reshape(3, 4)), "none"),
    ("arrays.npz", lambda: numpy_bytes(numpy.savez, w=numpy.ones((2, 2)), b=numpy.zeros(2, dtype=numpy.int32)), "none"),
    ("arrays_compressed.npz", lambda: numpy_bytes(numpy.savez_compressed, w=numpy.ones((2, 2))), "none"),
    ("logistic.pkl", lambda: pickle.dumps(sklearn_model("logistic")), "unknown"),
    ("forest.pkl", lambda: pickle.dumps(sklearn_model("forest")), "unknown"),
    ("logistic.joblib", lambda: joblib_bytes(sklearn_model("logistic")), "unknown"),
    ("forest.joblib", lambda: joblib_bytes(sklearn_model("forest")), "unknown"),
] + [  # each compressor under the extension joblib.dump gives it
    (f"forest.joblib{extension}", lambda method=method: joblib_bytes(sklearn_model("forest"), compress=(method, 3)),
     "unknown") for method, extension in (("gzip", ".gz"), ("bz2", ".bz2"), ("xz", ".xz"), ("lzma", ".lzma"), ("zlib", ".z"))]


def default_verdict(highest):
    """Under the default policy a file fails from the unknown grade up."""
    return "unsafe" if GRADES.index(highest) >= GRADES.index("unknown") else "safe"


def scan(tarnwick, path, *options):
    result = subprocess.run([tarnwick, "scan", "--json", *options, path], capture_output=True, text=True)
    try:
        document = json.loads(result.stdout)
        report = document["files"][0]
        counted = document["summary"]["imports_by_verdict"]["dangerous"]
    except (ValueError, KeyError, IndexError):
        return result.returncode, "(no report)", "-", []
    grades = [i["verdict"] for i in report.get("imports", [])]
    highest = max(grades, key=GRADES.index) if grades else "none"
    dangerous = [f"{i['module']}.{i['name']}" for i in report.get("imports", []) if i["verdict"] == "dangerous"]
    dangerous += [f["message"] for f in report.get("findings", []) if f["severity"] == "dangerous"][:3]
    if counted != len([i for i in report.get("imports", []) if i["verdict"] == "dangerous"]):
        dangerous.append(f"(the summary counts {counted} dangerous imports)")
    return result.returncode, report["verdict"], highest, dangerous


def main():
    tarnwick = os.path.abspath(sys.argv[1])
    failures = 0
    rows = []
    with tempfile.TemporaryDirectory() as work:
        for name, write, expected in CASES:
            path = os.path.join(work, name)
            with open(path, "wb") as f:
                f.write(write())
            status, verdict, highest, dangerous = scan(tarnwick, path)
            lenient_status, lenient_verdict, _, _ = scan(tarnwick, path, "--fail-on", "dangerous")
            want = default_verdict(expected)
            problems = []
            if highest != expected:
                problems.append(f"highest grade {highest}, expected {expected}")
            if dangerous:
                problems.append("dangerous: " + ", ".join(dangerous))
            if (verdict, status) != (want, 0 if want == "safe" else 1):
                problems.append(f"verdict {verdict} exit {status}, expected {want}")
            if (lenient_verdict, lenient_status) != ("safe", 0):
                problems.append(f"with --fail-on dangerous: {lenient_verdict} exit {lenient_status}, expected safe")
            rows.append((name, highest, verdict, lenient_verdict, "ok" if not problems else "FAIL " + "; ".join(problems)))
            failures += bool(problems)
    table = [("file", "highest grade", "verdict", "--fail-on dangerous", "")] + rows
    widths = [max(len(row[i]) for row in table) for i in range(4)]
    for row in table:
        print("  ".join(row[i].ljust(widths[i]) for i in range(4)) + "  " + row[4])
    print(f"{len(CASES) - failures} passed, {failures} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
