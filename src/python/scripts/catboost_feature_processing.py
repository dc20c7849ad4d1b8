"""Print how a CatBoost model types and quantizes its features (tarnwick explain / inspect --deep).

Invoked as: python -c <this script> <model.cbm>
Loads the model with CatBoost, saves it as CatBoost JSON in a temporary directory, and reads
the feature descriptions back from there.
"""
import json
import os
import shutil
import sys
import tempfile

LIST_LIMIT = 24


def load_model_json(model_path, workdir, file_name):
    from catboost import CatBoost

    model = CatBoost()
    model.load_model(model_path)
    out_path = os.path.join(workdir, file_name)
    model.save_model(out_path, format="json")
    with open(out_path, encoding="utf-8") as handle:
        return json.load(handle)


def feature_label(feature, position):
    index = feature.get("flat_feature_index", feature.get("feature_index", position))
    name = feature.get("feature_id", feature.get("name"))
    return "{}: {}".format(index, name) if name else str(index)


def print_labels(title, labels, suffixes=None):
    print(title)
    for position, label in enumerate(labels[:LIST_LIMIT]):
        suffix = suffixes[position] if suffixes else ""
        print("    {}{}".format(label, suffix))
    if len(labels) > LIST_LIMIT:
        print("    ... {} more".format(len(labels) - LIST_LIMIT))


def main():
    if len(sys.argv) < 2:
        sys.exit("feature processing: missing model path")
    workdir = tempfile.mkdtemp(prefix="vesprine-catboost-explain-")
    try:
        model = load_model_json(sys.argv[1], workdir, "model.json")
    finally:
        shutil.rmtree(workdir, ignore_errors=True)

    info = model.get("features_info") or {}
    floats = info.get("float_features") or []
    categoricals = info.get("categorical_features") or []
    border_counts = [len(feature.get("borders") or []) for feature in floats]

    print("Feature Processing:")
    print("  Float features: {}".format(len(floats)))
    print("  Categorical features: {}".format(len(categoricals)))
    print("  Total float borders: {}".format(sum(border_counts)))
    if floats:
        labels = [feature_label(feature, i) for i, feature in enumerate(floats)]
        suffixes = [" ({} borders)".format(count) for count in border_counts]
        print_labels("  Float feature list:", labels, suffixes)
    if categoricals:
        labels = [feature_label(feature, i) for i, feature in enumerate(categoricals)]
        print_labels("  Categorical feature list:", labels)


main()
