// The PyTorch inspector (`pytorch`, `pt`) and the PyTorch diff.
#pragma once

#include <ostream>
#include <string>

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

struct PyTorchSummary;

Status pytorch_command(const Args& args, Io& io);
Status pytorch_diff(const std::string& old_path, const std::string& new_path, bool json, Io& io);

// The explain-diff sections between "Architecture:" and the verdict.
void explain_pytorch_change(std::ostream& out, const PyTorchSummary& old_model, const PyTorchSummary& new_model);

}  // namespace tarnwick
