#include "cli/check_json.h"

namespace tarnwick {

namespace {

const char* status_word(bool passed) { return passed ? "PASS" : "FAIL"; }

OrderedJson check_entry(const CheckResult& result) {
  OrderedJson entry = OrderedJson::object();
  entry["rule"] = result.name;
  entry["status"] = status_word(result.passed);
  entry["old"] = ordered_optional(result.old_value);
  entry["new"] = ordered_optional(result.new_value);
  entry["limit"] = json_real(result.limit);
  entry["message"] = result.detail;
  return entry;
}

}  // namespace

bool all_checks_pass(const CheckOutcome& outcome) {
  for (const CheckResult& result : outcome.results) {
    if (!result.passed) return false;
  }
  return true;
}

OrderedJson check_document(std::string_view kind, const CheckOutcome& outcome) {
  OrderedJson document = OrderedJson::object();
  document["kind"] = "check";
  document["type"] = kind;
  document["old"] = outcome.old_name;
  document["new"] = outcome.new_name;
  OrderedJson checks = OrderedJson::array();
  for (const CheckResult& result : outcome.results) checks.push_back(check_entry(result));
  document["checks"] = std::move(checks);
  document["status"] = status_word(all_checks_pass(outcome));
  return document;
}

}  // namespace tarnwick
