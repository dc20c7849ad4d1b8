#include "base/check_rules.h"

#include <cmath>

#include "base/format.h"
#include "base/number_parse.h"
#include "base/text.h"

namespace tarnwick {

Result<double> parse_percentage(const std::string& text) {
  std::string_view number = trim(text);
  while (number.ends_with('%')) number.remove_suffix(1);
  Result<double> parsed = parse_real(number);
  if (!parsed.is_ok()) return fail("parse percentage `" + text + "`: " + parsed.message());
  if (std::signbit(parsed.value())) return fail("percentage must be non-negative: " + text);
  return parsed.value();
}

namespace {

CheckResult with_figures(CheckResult result, std::uint64_t old_value, std::uint64_t new_value,
                         std::optional<double> limit = std::nullopt) {
  result.old_value = old_value;
  result.new_value = new_value;
  result.limit = limit;
  return result;
}

CheckResult growth_result(const std::string& name, std::uint64_t old_value, std::uint64_t new_value, double limit) {
  std::string counts = "(" + std::to_string(old_value) + " -> " + std::to_string(new_value) + ")";
  if (old_value == 0 && new_value != 0) return {name, "undefined growth from zero baseline " + counts, false};
  double growth = 0.0;
  if (old_value != 0) {
    growth = (static_cast<double>(new_value) - static_cast<double>(old_value)) * 100.0 / static_cast<double>(old_value);
  }
  return {name, format_fixed(growth, 2) + "% <= " + format_fixed(limit, 2) + "% " + counts, growth <= limit};
}

}  // namespace

CheckResult growth_check(const std::string& name, std::uint64_t old_value, std::uint64_t new_value, double limit) {
  return with_figures(growth_result(name, old_value, new_value, limit), old_value, new_value, limit);
}

CheckResult count_check(CheckResult result, std::uint64_t old_count, std::uint64_t new_count) {
  return with_figures(std::move(result), old_count, new_count);
}

namespace {

template <class Names>
CheckResult unchanged_names(const std::string& name, const Names& old_names, const Names& new_names,
                            const std::string& noun) {
  return count_check({name, std::to_string(old_names.size()) + " -> " + std::to_string(new_names.size()) + " " + noun,
                      old_names == new_names},
                     old_names.size(), new_names.size());
}

}  // namespace

CheckResult names_unchanged_check(const std::string& name, const std::vector<std::string>& old_names,
                                  const std::vector<std::string>& new_names, const std::string& noun) {
  return unchanged_names(name, old_names, new_names, noun);
}

CheckResult names_unchanged_check(const std::string& name, const WordList& old_names, const WordList& new_names,
                                  const std::string& noun) {
  return unchanged_names(name, old_names, new_names, noun);
}

Status refuse_onnx_only_rules(const CheckOptions& options) {
  if (options.max_ops_growth) return fail(kOnlyOnnxOps);
  if (options.max_parameter_growth) return fail("--max-parameter-growth is only supported for ONNX artifacts.");
  if (options.fail_on_new_op) return fail(kOnlyOnnxNewOp);
  return Status::ok();
}

CheckResult training_config_check(bool same, const char* fields) { return {"training config unchanged", fields, same}; }

}  // namespace tarnwick
