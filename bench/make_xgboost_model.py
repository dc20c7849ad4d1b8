#!/usr/bin/env python3
"""Writes an XGBoost JSON model of about SIZE bytes: a small model trained by xgboost, its
trees repeated (with fresh ids) until the file is that large, so xgboost itself loads it.

usage: make_xgboost_model.py PATH SIZE_BYTES
"""
import json
import sys

import numpy as np
import xgboost


def main():
    path, size = sys.argv[1], int(sys.argv[2])
    rng = np.random.default_rng(0)
    features = rng.standard_normal((2000, 20))
    labels = features[:, 0] * 2 + np.sin(features[:, 1]) + rng.standard_normal(2000) * 0.1
    booster = xgboost.train({"max_depth": 8, "eta": 0.1}, xgboost.DMatrix(features, labels), num_boost_round=20)
    model = json.loads(booster.save_raw("json"))
    trees = model["learner"]["gradient_booster"]["model"]["trees"]
    per_tree = len(json.dumps(trees[0]))
    wanted = max(1, size // per_tree)
    grown = [dict(trees[i % len(trees)], id=i) for i in range(wanted)]
    gbtree = model["learner"]["gradient_booster"]["model"]
    gbtree["trees"] = grown
    gbtree["tree_info"] = [0] * wanted
    gbtree["gbtree_model_param"]["num_trees"] = str(wanted)
    if "iteration_indptr" in gbtree:
        gbtree["iteration_indptr"] = list(range(wanted + 1))
    with open(path, "w") as out:
        json.dump(model, out)


if __name__ == "__main__":
    main()
