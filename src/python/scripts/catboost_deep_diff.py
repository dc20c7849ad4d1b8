"""Decode two CatBoost models and report what changed in trees, leaves and borders.

Invoked as: python -c <this script> <old.cbm> <new.cbm> (tarnwick diff --deep).
Both models are loaded with CatBoost and saved as CatBoost JSON in a temporary directory,
which is removed before the report is printed.
"""
import json
import os
import shutil
import statistics
import sys
import tempfile

LIST_LIMIT = 20


def load_model_json(model_path, workdir, file_name):
    from catboost import CatBoost

    model = CatBoost()
    model.load_model(model_path)
    out_path = os.path.join(workdir, file_name)
    model.save_model(out_path, format="json")
    with open(out_path, encoding="utf-8") as handle:
        return json.load(handle)


def trees_of(model):
    trees = model.get("oblivious_trees")
    if trees is None:
        trees = model.get("trees")
    return trees or []


def splits_of(tree):
    return tree.get("splits") or []


def split_type(split):
    return split.get("split_type", "?") if isinstance(split, dict) else "?"


def flatten_numbers(value):
    if isinstance(value, bool):
        return []
    if isinstance(value, (int, float)):
        return [value]
    if isinstance(value, list):
        numbers = []
        for item in value:
            numbers.extend(flatten_numbers(item))
        return numbers
    return []


def count_by(mapping, key):
    mapping[key] = mapping.get(key, 0) + 1


def compare_splits(old_trees, new_trees):
    paired = min(len(old_trees), len(new_trees))
    same = changed = trees_changed = same_depth = 0
    type_changes = {}
    for old_tree, new_tree in zip(old_trees, new_trees):
        old_splits, new_splits = splits_of(old_tree), splits_of(new_tree)
        tree_changed = False
        if len(old_splits) == len(new_splits):
            same_depth += 1
        for old_split, new_split in zip(old_splits, new_splits):
            if old_split == new_split:
                same += 1
            else:
                changed += 1
                tree_changed = True
                count_by(type_changes, "{} -> {}".format(split_type(old_split), split_type(new_split)))
        if len(old_splits) != len(new_splits):
            changed += abs(len(old_splits) - len(new_splits))
            tree_changed = True
        trees_changed += tree_changed
    for tree in old_trees[paired:]:
        for split in splits_of(tree):
            changed += 1
            count_by(type_changes, "{} -> removed".format(split_type(split)))
        trees_changed += 1
    for tree in new_trees[paired:]:
        for split in splits_of(tree):
            changed += 1
            count_by(type_changes, "added -> {}".format(split_type(split)))
        trees_changed += 1
    return {
        "same": same,
        "changed": changed,
        "trees_changed": trees_changed,
        "same_depth": same_depth,
        "paired": paired,
        "type_changes": type_changes,
    }


def compare_slots(old_trees, new_trees, key):
    paired = min(len(old_trees), len(new_trees))
    trees_changed = same_count = changed_count = 0
    differences = []
    for old_tree, new_tree in zip(old_trees, new_trees):
        old_values = flatten_numbers(old_tree.get(key, []))
        new_values = flatten_numbers(new_tree.get(key, []))
        tree_differences = [abs(n - o) for o, n in zip(old_values, new_values)]
        differences.extend(tree_differences)
        if len(old_values) == len(new_values):
            same_count += 1
        else:
            changed_count += 1
        if len(old_values) != len(new_values) or any(d != 0 for d in tree_differences):
            trees_changed += 1
    unpaired = len(old_trees) - paired + len(new_trees) - paired
    return {
        "trees_changed": trees_changed + unpaired,
        "same_count": same_count,
        "changed_count": changed_count + unpaired,
        "differences": differences,
    }


def difference_statistics(differences):
    if not differences:
        return "changed 0 / 0"
    changed = sum(1 for d in differences if d > 0)
    return "changed {} / {}, mean_abs={:.6g}, median_abs={:.6g}, max_abs={:.6g}".format(
        changed,
        len(differences),
        statistics.fmean(differences),
        statistics.median(differences),
        max(differences),
    )


def feature_index(feature, position):
    return feature.get("flat_feature_index", feature.get("feature_index", position))


def feature_label(feature, position):
    index = feature_index(feature, position)
    name = feature.get("feature_id", feature.get("name"))
    return "{}: {}".format(index, name) if name else str(index)


def features_of(model):
    """Map feature key (index as text) to (kind, label, borders)."""
    info = model.get("features_info") or {}
    features = {}
    for kind, list_key in (("float", "float_features"), ("categorical", "categorical_features")):
        for position, feature in enumerate(info.get(list_key) or []):
            key = str(feature_index(feature, position))
            features[key] = (kind, feature_label(feature, position), feature.get("borders") or [])
    return features


def key_order(key):
    return (0, int(key), "") if key.isdigit() else (1, 0, key)


def pair_label(old_label, new_label):
    return old_label if old_label == new_label else "{} -> {}".format(old_label, new_label)


def print_limited(lines, indent):
    for line in lines[:LIST_LIMIT]:
        print(indent + line)
    if len(lines) > LIST_LIMIT:
        print("{}... {} more".format(indent, len(lines) - LIST_LIMIT))


def print_list_changes(title, old_features, new_features, kind):
    old_keys = {k for k, v in old_features.items() if v[0] == kind}
    new_keys = {k for k, v in new_features.items() if v[0] == kind}
    added = [new_features[k][1] for k in sorted(new_keys - old_keys, key=key_order)]
    removed = [old_features[k][1] for k in sorted(old_keys - new_keys, key=key_order)]
    print("  {}:".format(title))
    if not added and not removed:
        print("    none")
        return
    if added:
        print("    Added:")
        print_limited(added, "      ")
    if removed:
        print("    Removed:")
        print_limited(removed, "      ")


def compare_borders(old_features, new_features):
    result = {"features_changed": 0, "positions_changed": 0, "added": 0, "removed": 0, "lines": []}
    for key in sorted(set(old_features) | set(new_features), key=key_order):
        old, new = old_features.get(key), new_features.get(key)
        old_float = old is not None and old[0] == "float"
        new_float = new is not None and new[0] == "float"
        if old_float and new_float:
            old_borders, new_borders = old[2], new[2]
            positions = sum(1 for o, n in zip(old_borders, new_borders) if o != n)
            grown = len(new_borders) - len(old_borders)
            result["positions_changed"] += positions
            result["added"] += max(grown, 0)
            result["removed"] += max(-grown, 0)
            if positions or grown:
                result["features_changed"] += 1
                result["lines"].append(
                    "{}: borders {} -> {}, changed positions {}".format(
                        pair_label(old[1], new[1]), len(old_borders), len(new_borders), positions
                    )
                )
        elif new_float:
            result["added"] += len(new[2])
        elif old_float:
            result["removed"] += len(old[2])
    return result


def type_changes(old_features, new_features):
    lines = []
    for key in sorted(set(old_features) & set(new_features), key=key_order):
        old, new = old_features[key], new_features[key]
        if old[0] != new[0]:
            lines.append("{}: {} -> {}".format(pair_label(old[1], new[1]), old[0], new[0]))
    return lines


def split_type_mix(trees):
    mix = {}
    for tree in trees:
        for split in splits_of(tree):
            count_by(mix, split_type(split))
    return dict(sorted(mix.items()))


def main():
    if len(sys.argv) < 3:
        sys.exit("deep diff: expected <old.cbm> <new.cbm>")
    workdir = tempfile.mkdtemp(prefix="vesprine-catboost-")
    try:
        old_model = load_model_json(sys.argv[1], workdir, "old.json")
        new_model = load_model_json(sys.argv[2], workdir, "new.json")
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    old_trees, new_trees = trees_of(old_model), trees_of(new_model)
    most_trees = max(len(old_trees), len(new_trees))
    splits = compare_splits(old_trees, new_trees)
    leaves = compare_slots(old_trees, new_trees, "leaf_values")
    weights = compare_slots(old_trees, new_trees, "leaf_weights")
    old_features, new_features = features_of(old_model), features_of(new_model)
    borders = compare_borders(old_features, new_features)

    def float_count(features):
        return sum(1 for v in features.values() if v[0] == "float")

    def categorical_count(features):
        return sum(1 for v in features.values() if v[0] == "categorical")

    def border_total(features):
        return sum(len(v[2]) for v in features.values() if v[0] == "float")

    print("CatBoost Deep Diff")
    print("-" * 18)
    print("Requires: Python catboost package")
    print()
    print("Decoded Structure:")
    print("  Trees: {} -> {}".format(len(old_trees), len(new_trees)))
    print("  Trees removed / added: {} / {}".format(
        max(len(old_trees) - len(new_trees), 0), max(len(new_trees) - len(old_trees), 0)))
    print("  Depth sets: {} -> {}".format(
        sorted({len(splits_of(t)) for t in old_trees}), sorted({len(splits_of(t)) for t in new_trees})))
    print("  Same depth by paired tree: {} / {}".format(splits["same_depth"], splits["paired"]))
    print("  Trees with split changes: {} / {}".format(splits["trees_changed"], most_trees))
    print("  Split positions same: {}".format(splits["same"]))
    print("  Split positions changed: {}".format(splits["changed"]))
    if splits["type_changes"]:
        print("  Split type changes:")
        for change, count in sorted(splits["type_changes"].items(), key=lambda item: (-item[1], item[0])):
            print("    {}: {}".format(change, count))
    print()
    print("Leaf Values:")
    print("  Trees with leaf value changes: {} / {}".format(leaves["trees_changed"], most_trees))
    print("  Paired trees with same leaf count: {}".format(leaves["same_count"]))
    print("  Trees with changed leaf count: {}".format(leaves["changed_count"]))
    print("  Leaf value diffs for paired slots: {}".format(difference_statistics(leaves["differences"])))
    print()
    print("Leaf Weights:")
    print("  Trees with leaf weight changes: {} / {}".format(weights["trees_changed"], most_trees))
    print("  Leaf weight diffs for paired slots: {}".format(difference_statistics(weights["differences"])))
    print()
    print("Scale/Bias:")
    print("  {} -> {}".format(old_model.get("scale_and_bias"), new_model.get("scale_and_bias")))
    print()
    print("Feature Processing:")
    print("  Float features: {} -> {}".format(float_count(old_features), float_count(new_features)))
    print("  Categorical features: {} -> {}".format(
        categorical_count(old_features), categorical_count(new_features)))
    print("  Total float borders: {} -> {}".format(border_total(old_features), border_total(new_features)))
    print("  Float features with border changes: {}".format(borders["features_changed"]))
    print("  Border positions changed: {}".format(borders["positions_changed"]))
    print("  Borders added / removed: {} / {}".format(borders["added"], borders["removed"]))
    print_list_changes("Float feature list changes", old_features, new_features, "float")
    print_list_changes("Categorical feature list changes", old_features, new_features, "categorical")
    print("  Feature type changes:")
    changes = type_changes(old_features, new_features)
    if changes:
        for line in changes[:LIST_LIMIT]:
            print("    " + line)
    else:
        print("    none")
    if borders["lines"]:
        print("  Float features with changed borders:")
        print_limited(borders["lines"], "    ")
    print()
    print("Split Type Mix:")
    print("  Old: {}".format(split_type_mix(old_trees)))
    print("  New: {}".format(split_type_mix(new_trees)))


main()
