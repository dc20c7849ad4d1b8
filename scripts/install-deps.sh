#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when one is missing
# (man-db, groff-base, dpkg-dev and file: the manual and Debian package of `make package`; the
# python3 modules: oracles and the loaders the scan tests run hostile files under, with the
# standard-library extras whose callables those files reach: setuptools' distutils, venv's
# ensurepip, lib2to3, pip).
set -euo pipefail
packages=(g++ cmake ninja-build make nlohmann-json3-dev libgtest-dev libgmock-dev python3 python3-numpy python3-onnx python3-torch libxxhash-dev clang libclang-rt-14-dev man-db groff-base dpkg-dev file zlib1g-dev libbz2-dev liblzma-dev python3-joblib python3-sklearn python3-torchvision python3-setuptools python3-venv python3-lib2to3 python3-pip xxhash python3-xxhash flatbuffers-compiler libhdf5-dev python3-h5py python3-xgboost)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
SUDO_CMD=""
[ "$(id -u)" -eq 0 ] || SUDO_CMD=sudo
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  $SUDO_CMD apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO_CMD apt-get install -y -qq "${missing[@]}"
fi
# The GGUF test oracles come from npm (@huggingface/gguf runs on node; ggml ships in
# @node-llama-cpp/linux-x64); some node builds carry their own npm.
if ! command -v npm >/dev/null 2>&1; then
  $SUDO_CMD apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO_CMD apt-get install -y -qq nodejs npm
fi
