"""Convert a pickled or MLflow-logged tree model to a native format tarnwick reads.

Invoked as: tarnwick convert <src> [out]  (python -c <this script> <src> [out]).
LightGBM boosters (or estimators with a booster_) become .txt text models; CatBoost models
become .cbm binary models.
"""
import os
import pickle
import sys


def load_mlflow_model(directory):
    import yaml

    with open(os.path.join(directory, "MLmodel"), encoding="utf-8") as handle:
        flavors = (yaml.safe_load(handle) or {}).get("flavors") or {}
    if "lightgbm" in flavors:
        import mlflow.lightgbm

        return mlflow.lightgbm.load_model(directory)
    if "catboost" in flavors:
        import mlflow.catboost

        return mlflow.catboost.load_model(directory)
    if "sklearn" in flavors:
        import mlflow.sklearn

        return mlflow.sklearn.load_model(directory)
    import mlflow.pyfunc

    return mlflow.pyfunc.load_model(directory)


def load_model(source):
    if os.path.isdir(source) and os.path.isfile(os.path.join(source, "MLmodel")):
        return load_mlflow_model(source)
    with open(source, "rb") as handle:
        return pickle.load(handle)


def default_output(source, extension):
    stripped = source.rstrip("/") or source
    if os.path.isdir(stripped):
        return os.path.join(stripped, "model" + extension)
    return os.path.splitext(stripped)[0] + extension


def lightgbm_booster(model):
    try:
        import lightgbm
    except Exception:  # a broken install raises more than ImportError (OSError for libgomp)
        return None
    if isinstance(model, lightgbm.Booster):
        return model
    booster = getattr(model, "booster_", None)
    return booster if isinstance(booster, lightgbm.Booster) else None


def is_catboost_model(model):
    try:
        import catboost
    except Exception:
        return False
    return isinstance(model, catboost.CatBoost)


def refuse_overwriting_source(source, out):
    if os.path.exists(out) and os.path.samefile(source, out):
        sys.exit(
            "convert: refusing to overwrite the source `{}` with the converted model; ".format(source)
            + "choose another output path with --out"
        )


def main():
    if len(sys.argv) < 2:
        sys.exit("convert: missing source path")
    source = sys.argv[1]
    output = sys.argv[2] if len(sys.argv) > 2 and sys.argv[2] else None
    model = load_model(source)

    booster = lightgbm_booster(model)
    if booster is not None:
        out = output or default_output(source, ".txt")
        refuse_overwriting_source(source, out)
        booster.save_model(out)
        kind = "LightGBM"
    elif is_catboost_model(model):
        out = output or default_output(source, ".cbm")
        refuse_overwriting_source(source, out)
        model.save_model(out, format="cbm")
        kind = "CatBoost"
    else:
        cls = type(model)
        sys.exit(
            "convert: unsupported model type `{}.{}`. ".format(cls.__module__, cls.__name__)
            + "Supported: LightGBM (-> .txt) and CatBoost (-> .cbm)."
        )
    print("converted {} model -> {}".format(kind, out))


main()
