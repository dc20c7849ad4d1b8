// `doctor`: what works on this machine, built-in and through Python.
#pragma once

#include "base/io.h"
#include "base/status.h"

namespace tarnwick {

Status doctor_command(const Args& args, Io& io);

}  // namespace tarnwick
