#include <chrono>
#include <ostream>

#include "base/format.h"
#include "base/number_parse.h"
#include "model/executor.h"
#include "model/plan_commands.h"
#include "model/run_budget.h"

namespace tarnwick {

Status run_command(const Args& args, Io& io) {
  bool values = false, heatmap = false;
  std::optional<std::string> path;
  for (const std::string& arg : args) {
    if (arg == "--values") {
      values = true;
    } else if (arg == "--heatmap") {
      heatmap = true;
    } else if (path) {
      return fail("unexpected argument `" + arg + "`");
    } else {
      path = arg;
    }
  }
  if (!path) return fail("usage: tarnwick run examples/mlp.json [--values] [--heatmap]");
  Result<Model> model = load_model(*path);
  if (!model.is_ok()) return model.error();
  Status affordable = check_run_budget(model.value(), 1, kRunWorkBudget);
  if (!affordable.is_ok()) return affordable;
  Result<RunResult> run = execute_model(model.value(), values, heatmap);
  if (!run.is_ok()) return run.error();

  std::ostream& out = io.out;
  out << "Model: " << run.value().model_name << "\nInput shape: " << run.value().input_shape << "\n\n";
  for (const StepReport& step : run.value().steps) {
    out << "Layer " << step.position << ": " << step.title << "\n";
    for (const std::string& line : step.lines) out << "  " << line << "\n";
    if (step.values) out << *step.values << "\n";
    if (step.heatmap) out << *step.heatmap << "\n";
    out << "  time: " << format_fixed(step.elapsed_ms, 3) << " ms\n\n";
  }
  out << "Output: " << flat_values(run.value().output) << "\n";
  if (run.value().prediction) out << "Prediction: " << *run.value().prediction << "\n";
  return Status::ok();
}

Status bench_command(const Args& args, Io& io) {
  std::uint64_t iterations = 1000;
  std::optional<std::string> path;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--iters") {
      if (i + 1 == args.size()) return fail("--iters needs a number");
      Result<std::uint64_t> parsed = parse_unsigned(args[++i]);
      if (!parsed.is_ok()) return fail("parse --iters: " + parsed.message());
      if (parsed.value() == 0) return fail("--iters must be greater than 0");
      iterations = parsed.value();
    } else if (path) {
      return fail("unexpected argument `" + args[i] + "`");
    } else {
      path = args[i];
    }
  }
  if (!path) {
    return fail(args.empty() ? "usage: tarnwick bench examples/mlp.json [--iters 1000]"
                             : "usage: tarnwick bench examples/mlp.json");
  }
  Result<Model> model = load_model(*path);
  if (!model.is_ok()) return model.error();
  Status affordable = check_run_budget(model.value(), 1, kRunWorkBudget);
  if (affordable.is_ok()) affordable = check_run_budget(model.value(), iterations, kBenchWorkBudget);
  if (!affordable.is_ok()) return affordable;

  std::optional<RunResult> last;
  auto start = std::chrono::steady_clock::now();
  for (std::uint64_t i = 0; i < iterations; ++i) {
    Result<RunResult> run = execute_model(model.value(), false, false);
    if (!run.is_ok()) return run.error();
    last = run.take();
  }
  auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
  double total_ms = static_cast<double>(elapsed.count()) / 1e6;
  io.out << "Benchmark: " << model.value().name << "\nIterations: " << iterations << "\n";
  io.out << "Total time: " << format_fixed(total_ms, 3) << " ms\n";
  io.out << "Average time: " << format_fixed(total_ms / static_cast<double>(iterations), 6) << " ms\n";
  io.out << "Last output: " << flat_values(last->output) << "\n";
  if (last->prediction) io.out << "Last prediction: " << *last->prediction << "\n";
  return Status::ok();
}

}  // namespace tarnwick
