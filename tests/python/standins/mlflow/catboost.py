"""Stand-in for mlflow.catboost: load_model unpickles model.pkl from the model directory."""
import os
import pickle

FLAVOR = "catboost"


def load_model(directory):
    with open(os.path.join(directory, "model.pkl"), "rb") as handle:
        return pickle.load(handle)
