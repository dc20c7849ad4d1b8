#include <cstddef>
#include <cstdint>
#include <string>

#include "model/analysis.h"
#include "model/executor.h"
#include "model/model.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  tarnwick::Result<tarnwick::Model> model = tarnwick::load_model_text("fuzz.json", text);
  if (!model.is_ok()) return 0;
  tarnwick::Result<tarnwick::ModelAnalysis> analysis = tarnwick::analyze_model(model.value());
  // Execution is only attempted on plans small enough to run in a fuzzing loop.
  if (analysis.is_ok() && analysis.value().total_ops < 1000000) {
    (void)tarnwick::execute_model(model.value(), true, true);
  }
  return 0;
}
