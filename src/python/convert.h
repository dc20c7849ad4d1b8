// `convert`: a pickled or MLflow-logged tree model to a native .txt / .cbm file, through Python.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status convert_command(const Args& args, Io& io);

}  // namespace tarnwick
