#include "cli/check_command.h"

#include <ostream>

#include "base/check_rules.h"
#include "base/figure_notes.h"
#include "registry/registry.h"
#include "base/text.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage =
    "usage: tarnwick check [--max-size-growth 20%] [--max-ops-growth 25%] [--max-parameter-growth 30%] "
    "[--fail-on-feature-change] [--fail-on-training-config-change] [--fail-on-new-op] <old-model> <new-model>";

struct CheckArgs {
  CheckOptions options;
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
    } else if (arg.starts_with("--")) {
      return fail("unknown check option `" + arg + "`");
    } else {
      scanned.paths.push_back(arg);
    }
  }
  if (scanned.paths.size() != 2) return fail(kUsage);
  return scanned;
}

Status print_report(Io& io, std::string_view kind, const CheckOutcome& outcome) {
  const std::vector<CheckResult>& results = outcome.results;
  std::ostream& out = io.out;
  out << "Model Check\n-----------\n";
  out << "Type: " << kind << "\nOld: " << escape_control(outcome.old_name)
      << "\nNew: " << escape_control(outcome.new_name) << "\n\nChecks:\n";
  bool all_passed = true;
  for (const CheckResult& result : results) {
    out << "  " << (result.passed ? "PASS" : "FAIL") << " " << result.name << ": " << escape_control(result.detail)
        << "\n";
    all_passed = all_passed && result.passed;
  }
  if (results.empty()) out << "  PASS artifact pair is readable; no check rules were configured\n";
  print_note_section(out, outcome.notes);
  out << "\nStatus: " << (all_passed ? "PASS" : "FAIL") << "\n";
  if (!all_passed) return fail("check failed");
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
  Result<CheckOutcome> outcome = old_format->check(check.options, check.paths[0], check.paths[1]);
  if (!outcome.is_ok()) return outcome.error();
  return print_report(io, old_format->name, outcome.value());
}

}  // namespace tarnwick
