// Runs a plan numerically, layer by layer, and describes each step for the run report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "model/model.h"

namespace tarnwick {

struct StepReport {
  std::string title;
  std::vector<std::string> lines;
  std::optional<std::string> values;
  std::optional<std::string> heatmap;
  std::size_t position = 0;
  double elapsed_ms = 0.0;
};

struct RunResult {
  std::string model_name;
  std::string input_shape;
  std::vector<StepReport> steps;
  std::vector<float> output;  // formatted only when printed: `bench` prints the last run's alone
  std::optional<std::string> prediction;
};

Result<RunResult> execute_model(const Model& model, bool values, bool heatmap);
// The label of the largest output value (IEEE total order; the later index wins ties).
std::optional<std::string> predict(const std::vector<float>& output,
                                   const std::optional<std::vector<std::string>>& labels);
std::string attention_heatmap(const Tensor& attention);

}  // namespace tarnwick
