#!/usr/bin/env python3
"""Writes the model files the README's examples read into a folder (examples/models by default).

The safetensors, GGUF, CatBoost, LightGBM and pickle files and one ONNX graph are written byte
by byte (scripts/fixtures.py); the PyTorch checkpoints and their ONNX exports are written by
torch itself (Debian's python3-torch), seeded, so every run writes the same bytes.

usage: make_examples.py [FOLDER]     (`make examples` runs it with /usr/bin/python3)
"""
import os
import sys

import fixtures

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def lightgbm_text(leaf_values, thresholds):
    """A LightGBM text model of one-split trees over two named features, as LightGBM lays it out."""
    trees = []
    for index, (threshold, (left, right)) in enumerate(zip(thresholds, leaf_values)):
        trees.append(f"Tree={index}\nnum_leaves=2\nnum_cat=0\nsplit_feature={index % 2}\nsplit_gain=1\n"
                     f"threshold={threshold}\ndecision_type=2\nleft_child=-1\nright_child=-2\n"
                     f"leaf_value={left} {right}\nleaf_weight=10 10\nleaf_count=10 10\ninternal_value=0\n"
                     f"internal_weight=20\ninternal_count=20\nis_linear=0\nshrinkage=0.1\n\n\n")
    header = ("tree\nversion=v3\nnum_class=1\nnum_tree_per_iteration=1\nlabel_index=0\nmax_feature_idx=1\n"
              "objective=regression\nfeature_names=age income\nfeature_infos=[18:90] [0:250000]\n"
              f"tree_sizes={' '.join(str(len(tree)) for tree in trees)}\n\n")
    return (header + "".join(trees) + "end of trees\n\nfeature_importances:\nage=1\n\nparameters:\n"
            "[boosting: gbdt]\n[objective: regression]\n[num_iterations: " + str(len(trees)) + "]\n"
            "end of parameters\n\npandas_categorical:null\n")


def write_trees(folder):
    files = {
        "trees.txt": lightgbm_text([(0.5, -0.5), (0.25, -0.25)], [40.5, 52000]),
        "trees_v2.txt": lightgbm_text([(0.5, -0.5), (0.3, -0.2), (0.1, -0.1)], [40.5, 52000, 61.5]),
    }
    for name, text in files.items():
        with open(os.path.join(folder, name), "w") as handle:
            handle.write(text)


def write_torch_models(folder):
    import torch

    def mlp(seed, hidden):
        torch.manual_seed(seed)
        return torch.nn.Sequential(torch.nn.Linear(4, hidden), torch.nn.ReLU(), torch.nn.Linear(hidden, 2))

    def export(model, example, name, axes):
        torch.onnx.export(model, example, os.path.join(folder, name), input_names=["x"], output_names=["y"],
                          dynamic_axes=axes, opset_version=13)

    model = mlp(0, 8)
    torch.save(model.state_dict(), os.path.join(folder, "mlp.pt"))
    torch.save(model.state_dict(), os.path.join(folder, "mlp_legacy.pth"), _use_new_zipfile_serialization=False)
    torch.save(mlp(1, 8).state_dict(), os.path.join(folder, "mlp_retrained.pt"))
    torch.save(mlp(0, 16).state_dict(), os.path.join(folder, "mlp_wider.pt"))
    export(model, torch.zeros(1, 4), "mlp.onnx", {"x": {0: "batch"}})
    export(mlp(0, 16), torch.zeros(1, 4), "mlp_wider.onnx", {"x": {0: "batch"}})
    torch.manual_seed(2)
    encoder = torch.nn.TransformerEncoderLayer(d_model=16, nhead=2, dim_feedforward=32, batch_first=True).eval()
    export(encoder, torch.zeros(1, 8, 16), "encoder.onnx", {"x": {0: "batch", 1: "tokens"}})


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "examples", "models")
    fixtures.write_all(folder)
    write_trees(folder)
    try:
        write_torch_models(folder)
    except ImportError:
        print("make_examples: python3-torch is not installed; the PyTorch examples are missing (make deps installs it)")
        return 1
    print(f"make_examples: wrote the README's example models to {folder}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
