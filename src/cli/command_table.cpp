#include "cli/command_table.h"

#include <array>

#include "cbm/catboost_commands.h"
#include "demo/teaching.h"
#include "lightgbm/lightgbm_commands.h"
#include "cli/check_command.h"
#include "cli/contents_command.h"
#include "cli/explain_diff.h"
#include "cli/routing.h"
#include "cli/version_command.h"
#include "model/plan_commands.h"
#include "onnx/onnx_commands.h"
#include "onnx/profile/profile_command.h"
#include "pt/pytorch_commands.h"
#include "python/convert.h"
#include "python/doctor.h"
#include "scan/scan_command.h"

namespace tarnwick {

namespace {

struct Command {
  std::string_view word;
  Handler handler;
};

const std::array kCommands{
    Command{"doctor", doctor_command},
    Command{"convert", convert_command},
    Command{"inspect", inspect_command},
    Command{"diff", diff_command},
    Command{"explain", explain_command},
    Command{"explain-diff", explain_diff_command},
    Command{"check", check_command},
    Command{"contents", contents_command},
    Command{"catboost", catboost_command},
    Command{"cbm", catboost_command},
    Command{"lightgbm", lightgbm_command},
    Command{"lgbm", lightgbm_command},
    Command{"onnx", onnx_command},
    Command{"profile", profile_command},
    Command{"pytorch", pytorch_command},
    Command{"pt", pytorch_command},
    Command{"trace", trace_command},
    Command{"summary", trace_command},
    Command{"compare", compare_command},
    Command{"why", why_command},
    Command{"validate", validate_command},
    Command{"tensor-inspect", tensor_inspect_command},
    Command{"run", run_command},
    Command{"bench", bench_command},
    Command{"quiz", quiz_command},
    Command{"demo", demo_command},
    Command{"explain-model", explain_model_command},
    Command{"walkthrough", explain_model_command},
    Command{"scan", scan_command},
    Command{"version", version_command},
    Command{"--version", version_command},
};

}  // namespace

Handler find_command_handler(std::string_view word) {
  for (const Command& command : kCommands) {
    if (command.word == word) return command.handler;
  }
  return nullptr;
}

}  // namespace tarnwick
