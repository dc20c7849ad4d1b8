#include "cli/check_command.h"

#include <cmath>
#include <ostream>

#include "base/check_rules.h"
#include "base/figure_notes.h"
#include "base/number_parse.h"
#include "cli/check_json.h"
#include "registry/registry.h"
#include "base/text.h"
#include "values/tensor_value_checks.h"

namespace tarnwick {

namespace {

constexpr const char* kCheckUsage =
    "usage: tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] "
    "[--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>";

struct CheckArgs {
  CheckOptions options;
  bool json = false;
  std::vector<std::string> paths;
};

Result<CheckArgs> scan_args(const Args& args) {
  CheckArgs scanned;
  CheckOptions& options = scanned.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    std::optional<double>* percentage = arg == "--max-size-growth"        ? &options.max_size_growth
                                        : arg == "--max-ops-growth"       ? &options.max_ops_growth
                                        : arg == "--max-parameter-growth" ? &options.max_parameter_growth
                                                                          : nullptr;
    if (percentage) {
      if (i + 1 == args.size()) return fail(arg + " needs a percentage");
      Result<double> value = parse_percentage(args[++i]);
      if (!value.is_ok()) return value.error();
      *percentage = value.value();
    } else if (arg == "--fail-on-feature-change") {
      options.fail_on_feature_change = true;
    } else if (arg == "--fail-on-training-config-change") {
      options.fail_on_training_config_change = true;
    } else if (arg == "--fail-on-new-op") {
      options.fail_on_new_op = true;
    } else if (arg == "--fail-on-nonfinite") {
      options.fail_on_nonfinite = true;
    } else if (arg == "--max-tensor-change") {
      if (i + 1 == args.size()) return fail(arg + " needs a relative change such as 0.05");
      Result<double> value = parse_real(args[++i]);
      if (!value.is_ok() || !(value.value() >= 0) || std::signbit(value.value())) {
        return fail("--max-tensor-change must be a number at least 0, such as 0.05; got `" + args[i] + "`");
      }
      options.max_tensor_change = value.value();
    } else if (arg == "--frozen") {
      if (i + 1 == args.size()) return fail(arg + " needs a tensor-name pattern such as 'encoder.*'");
      options.frozen.push_back(args[++i]);
    } else if (arg == "--max-serving-memory") {
      if (i + 1 == args.size()) return fail(arg + " needs a size such as 24GiB");
      Result<std::uint64_t> size = parse_byte_size(args[++i]);
      if (!size.is_ok()) return fail("--max-serving-memory: " + size.message());
      options.max_serving_memory = size.value();
    } else if (arg == "--context") {
      if (i + 1 == args.size()) return fail(arg + " needs a number of tokens");
      Result<std::uint64_t> tokens = parse_unsigned(args[++i]);
      if (!tokens.is_ok() || tokens.value() == 0) {
        return fail("--context must be a whole number of at least 1, got `" + args[i] + "`");
      }
      options.serving_context = tokens.value();
    } else if (arg == "--json") {
      scanned.json = true;
    } else if (arg.starts_with("--")) {
      return fail("unknown check option `" + arg + "`");
    } else {
      scanned.paths.push_back(arg);
    }
  }
  if (scanned.paths.size() != 2) return fail(kCheckUsage);
  if (options.serving_context && !options.max_serving_memory) return fail("--context goes with --max-serving-memory");
  return scanned;
}

void print_report(std::ostream& out, std::string_view kind, const CheckOutcome& checked) {
  out << "Model Check\n-----------\n";
  out << "Type: " << kind << "\nOld: " << escape_control(checked.old_name)
      << "\nNew: " << escape_control(checked.new_name) << "\n\nChecks:\n";
  for (const CheckResult& result : checked.results) {
    out << "  " << (result.passed ? "PASS" : "FAIL") << " " << result.name << ": " << escape_control(result.detail)
        << "\n";
  }
  if (checked.results.empty()) out << "  PASS artifact pair is readable; no check rules were configured\n";
  print_note_section(out, checked.notes);
  out << "\nStatus: " << (all_checks_pass(checked) ? "PASS" : "FAIL") << "\n";
}

Error tensor_rules_only() {
  return fail("--fail-on-nonfinite, --max-tensor-change and --frozen are only supported for tensor checkpoints "
              "(PyTorch, safetensors, GGUF, ONNX, NumPy, TFLite, Keras).");
}

// The rules on tensor values, read from both files' tensor tables (the format has one).
Status add_tensor_value_checks(const CheckOptions& options, const FormatDescriptor& format,
                               const std::vector<std::string>& paths, CheckOutcome& outcome) {
  Result<TensorTable> old_table = format.tensor_table(paths[0]);
  if (!old_table.is_ok()) return old_table.error();
  Result<TensorTable> new_table = format.tensor_table(paths[1]);
  if (!new_table.is_ok()) return new_table.error();
  Result<std::vector<CheckResult>> results = tensor_value_checks(options, old_table.value(), new_table.value());
  if (!results.is_ok()) return results.error();
  outcome.results.insert(outcome.results.end(), results.value().begin(), results.value().end());
  return Status::ok();
}

}  // namespace

Status check_command(const Args& args, Io& io) {
  Result<CheckArgs> scanned = scan_args(args);
  if (!scanned.is_ok()) return scanned.error();
  const CheckArgs& check = scanned.value();
  const FormatDescriptor* old_format = detect_format(check.paths[0]);
  const FormatDescriptor* new_format = detect_format(check.paths[1]);
  if (old_format != nullptr && old_format == new_format && old_format->check == nullptr &&
      !old_format->check_refusal.empty()) {
    return fail(std::string(old_format->check_refusal));
  }
  if (old_format != new_format || old_format == nullptr || old_format->check == nullptr) {
    return fail("cannot check different or unsupported artifact types: " + std::string(kind_name(old_format)) +
                " vs " + std::string(kind_name(new_format)));
  }
  if (has_tensor_value_rules(check.options) && old_format->tensor_table == nullptr) return tensor_rules_only();
  if (check.options.max_serving_memory && !old_format->weighs_serving_memory) {
    return fail("--max-serving-memory is only supported for safetensors and GGUF checkpoints.");
  }
  Result<CheckOutcome> outcome = old_format->check(check.options, check.paths[0], check.paths[1]);
  if (!outcome.is_ok()) return outcome.error();
  if (has_tensor_value_rules(check.options)) {
    Status added = add_tensor_value_checks(check.options, *old_format, check.paths, outcome.value());
    if (!added.is_ok()) return added;
  }
  const CheckOutcome& checked = outcome.value();
  // Either form is printed whole before a failed rule fails the command.
  if (check.json) {
    Status printed = print_json_document(io.out, check_document(old_format->name, checked));
    if (!printed.is_ok()) return printed;
  } else {
    print_report(io.out, old_format->name, checked);
  }
  if (!all_checks_pass(checked)) return fail("check failed");
  return Status::ok();
}

}  // namespace tarnwick
