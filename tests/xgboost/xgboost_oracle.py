#!/usr/bin/env python3
"""XGBoost models written by xgboost itself, against xgboost's own reading of them.

Usage: xgboost_oracle.py <tarnwick binary>
Small models are trained on synthetic data (regression with feature names, binary, multiclass,
categorical splits, dart, several parallel trees) and saved as JSON and UBJSON. Then:
- `contents --json` lists as many trees as get_dump, and per tree the splits (feature and
  threshold, or the category set, and the default direction: left where the "missing" child is
  the left child) and leaf values of get_dump(with_stats=True, dump_format="json") in node id
  order, with the same depth;
- `inspect --json` states num_boosted_rounds, the feature names and types, and the objective;
- the JSON and UBJSON saves of one model have the same trees and learned-state fingerprint;
- every file cut at several points is one error for `contents` and `inspect`.
Closes with "N passed, N failed".
"""
import json
import os
import subprocess
import sys
import tempfile

try:
    import numpy as np
    import xgboost as xgb
except ImportError:
    print("skipped: python3-xgboost is not installed (make deps installs it)")
    sys.exit(77)

RESULTS = {"passed": 0, "failed": 0}
BINARY = None


def report(label, problems):
    RESULTS["failed" if problems else "passed"] += 1
    print(("FAIL " if problems else "ok   ") + label)
    for problem in problems[:6]:
        print("  " + problem)


def run(*args):
    return subprocess.run([BINARY, *args], capture_output=True, text=True)


def json_of(*args):
    done = run(*args)
    if done.returncode != 0:
        raise RuntimeError(f"tarnwick {' '.join(args)}: {done.stderr.strip()}")
    return json.loads(done.stdout)


def f32(value):
    return float(np.float32(value))


def train_models():
    rng = np.random.default_rng(3)
    x = rng.normal(size=(400, 4))
    x[rng.random(x.shape) < 0.05] = np.nan
    y = 2 * np.nan_to_num(x[:, 0]) - np.nan_to_num(x[:, 1])
    labels = (y > 0).astype(float)
    classes = rng.integers(0, 3, size=400)
    cat = x.copy()
    cat[:, 3] = rng.integers(0, 6, size=400)
    cat_y = np.where(np.isin(cat[:, 3], [1, 4]), 3.0, 0.0) + np.nan_to_num(cat[:, 0])
    names = ["age", "income", "score", "tenure"]
    return {
        "regression": ({"max_depth": 3, "objective": "reg:squarederror"},
                       xgb.DMatrix(x, label=y, feature_names=names), 4),
        "binary": ({"max_depth": 2, "objective": "binary:logistic", "base_score": 0.3}, xgb.DMatrix(x, label=labels), 3),
        "multiclass": ({"max_depth": 2, "objective": "multi:softprob", "num_class": 3},
                       xgb.DMatrix(x, label=classes), 2),
        "categorical": ({"max_depth": 3, "tree_method": "hist", "max_cat_to_onehot": 1},
                        xgb.DMatrix(cat, label=cat_y, feature_types=["q", "q", "q", "c"], enable_categorical=True), 3),
        "dart": ({"max_depth": 2, "booster": "dart", "rate_drop": 0.3}, xgb.DMatrix(x, label=y), 3),
        "forest": ({"max_depth": 2, "num_parallel_tree": 3, "subsample": 0.8}, xgb.DMatrix(x, label=y), 2),
    }


def dump_nodes(node, nodes, depth=0):
    nodes[node["nodeid"]] = (node, depth)
    for child in node.get("children", []):
        dump_nodes(child, nodes, depth + 1)


def compare_tree(index, dumped, tree, names):
    problems = []
    nodes = {}
    dump_nodes(json.loads(dumped), nodes)
    order = sorted(nodes)
    splits = [nodes[n][0] for n in order if "leaf" not in nodes[n][0]]
    leaves = [nodes[n][0]["leaf"] for n in order if "leaf" in nodes[n][0]]
    depth = max(d for _, d in nodes.values())
    if tree["depth"] != depth or tree["leaves"] != len(leaves):
        problems.append(f"tree {index}: depth/leaves {tree['depth']}/{tree['leaves']}, xgboost {depth}/{len(leaves)}")
    if len(tree["splits"]) != len(splits):
        return problems + [f"tree {index}: {len(tree['splits'])} splits, xgboost {len(splits)}"]
    for ours, theirs in zip(tree["splits"], splits):
        name = theirs["split"]
        feature = names.index(name) if names else int(name[1:])
        if ours["feature"] != feature:
            problems.append(f"tree {index} node {theirs['nodeid']}: feature {ours['feature']}, xgboost {name}")
        condition = theirs["split_condition"]
        if isinstance(condition, list):
            if ours.get("categories") != condition or ours["threshold"] is not None:
                problems.append(f"tree {index} node {theirs['nodeid']}: {ours}, xgboost categories {condition}")
        elif ours["threshold"] is None or f32(ours["threshold"]) != f32(condition):
            problems.append(f"tree {index} node {theirs['nodeid']}: threshold {ours['threshold']}, xgboost {condition}")
        # A categorical node dumps its right child (the categories' side) as "yes".
        left = theirs["no"] if isinstance(condition, list) else theirs["yes"]
        if ours.get("default_left") != (theirs["missing"] == left):
            problems.append(f"tree {index} node {theirs['nodeid']}: default_left {ours.get('default_left')}, "
                            f"xgboost missing -> {theirs['missing']} (left child {left})")
    ours_leaves = [f32(v) for v in tree["leaf_values"]]
    if ours_leaves != [f32(v) for v in leaves]:
        problems.append(f"tree {index}: leaf values {ours_leaves[:4]}..., xgboost {leaves[:4]}...")
    return problems


def check_model(label, booster, path):
    table = json_of("contents", "--json", path)
    summary = json_of("inspect", "--json", path)
    dumps = booster.get_dump(with_stats=True, dump_format="json")
    names = booster.feature_names or []
    problems = []
    if table["format"] != "xgboost" or table["tree_count"] != len(dumps):
        problems.append(f"format {table['format']}, {table['tree_count']} trees, xgboost {len(dumps)}")
    else:
        for index, (dumped, tree) in enumerate(zip(dumps, table["trees"])):
            problems += compare_tree(index, dumped, tree, names)
    if summary["boosting_rounds"] != booster.num_boosted_rounds():
        problems.append(f"boosting rounds {summary['boosting_rounds']}, xgboost {booster.num_boosted_rounds()}")
    if summary["feature_names"] != names:
        problems.append(f"feature names {summary['feature_names']}, xgboost {names}")
    if summary["feature_types"] != (booster.feature_types or []):
        problems.append(f"feature types {summary['feature_types']}, xgboost {booster.feature_types}")
    config = json.loads(booster.save_config())
    if summary["objective"] != config["learner"]["objective"]["name"]:
        problems.append(f"objective {summary['objective']}, xgboost {config['learner']['objective']['name']}")
    if summary["num_feature"] != booster.num_features():
        problems.append(f"num_feature {summary['num_feature']}, xgboost {booster.num_features()}")
    report(f"{label}: trees, splits, leaves and rounds match xgboost", problems)
    return table, summary


def check_cuts(label, path):
    data = open(path, "rb").read()
    problems = []
    cut_path = path + ".cut"
    for cut in sorted({1, 2, 12, len(data) // 3, len(data) // 2, len(data) - 2, len(data) - 1}):
        with open(cut_path, "wb") as out:
            out.write(data[:cut])
        for command in ("contents", "inspect"):
            done = run(command, cut_path)
            lines = done.stderr.splitlines()
            if done.returncode != 1 or len(lines) != 1 or not lines[0].startswith("error: "):
                problems.append(f"{command} cut at {cut}: status {done.returncode}, stderr {done.stderr.strip()!r}")
    report(f"{label}: every cut file is one error", problems)


def main():
    global BINARY
    BINARY = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        for label, (params, data, rounds) in train_models().items():
            booster = xgb.train(params, data, rounds)
            tables = {}
            for extension in ("json", "ubj"):
                path = os.path.join(folder, f"{label}.{extension}")
                booster.save_model(path)
                tables[extension] = check_model(f"{label}.{extension}", booster, path)
                check_cuts(f"{label}.{extension}", path)
            (json_table, json_summary), (ubj_table, ubj_summary) = tables["json"], tables["ubj"]
            same = json_table["trees"] == ubj_table["trees"] and (
                json_summary["learned_state_fingerprint"] == ubj_summary["learned_state_fingerprint"])
            report(f"{label}: JSON and UBJSON saves read alike", [] if same else ["trees or fingerprints differ"])
    print(f"{RESULTS['passed']} passed, {RESULTS['failed']} failed")
    return 1 if RESULTS["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
