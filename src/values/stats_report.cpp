#include "values/stats_report.h"

#include <algorithm>
#include <string>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "values/aligned_rows.h"

namespace tarnwick {

namespace {

std::string real_text(double value) { return format_significant(value, kFigureDigits); }

std::optional<double> when_finite_values(const ValueStats& stats, double value) {
  if (stats.finite == 0) return std::nullopt;
  return value;
}

TextRow stats_row(const std::string& name, const ValueStats& stats) {
  bool any = stats.finite != 0;
  return {name,
          any ? real_text(stats.min) : "unknown",
          any ? real_text(stats.max) : "unknown",
          any ? real_text(stats.mean) : "unknown",
          any ? real_text(stats.std_dev()) : "unknown",
          real_text(stats.l2()),
          std::to_string(stats.zeros),
          std::to_string(stats.nan),
          std::to_string(stats.inf)};
}

void print_totals(std::ostream& out, const StatsTotals& totals, std::size_t tensor_count) {
  const ValueStats& values = totals.values;
  out << "\nValue Totals:\n";
  out << "  Tensors read: " << totals.tensors << " of " << tensor_count << "\n";
  out << "  Values: " << values.count << "\n";
  bool any = values.finite != 0;
  out << "  Min: " << (any ? real_text(values.min) : "unknown") << "\n";
  out << "  Max: " << (any ? real_text(values.max) : "unknown") << "\n";
  out << "  Mean: " << (any ? real_text(values.mean) : "unknown") << "\n";
  out << "  Std: " << (any ? real_text(values.std_dev()) : "unknown") << "\n";
  out << "  L2: " << real_text(values.l2()) << "\n";
  out << "  Zeros: " << values.zeros << "\n";
  out << "  NaN: " << values.nan << "\n";
  out << "  Inf: " << values.inf << "\n";
}

}  // namespace

OrderedJson stats_json(const ValueStats& stats) {
  OrderedJson entry;
  entry["min"] = OrderedJson(json_real(when_finite_values(stats, stats.min)));
  entry["max"] = OrderedJson(json_real(when_finite_values(stats, stats.max)));
  entry["mean"] = OrderedJson(json_real(when_finite_values(stats, stats.mean)));
  entry["std"] = OrderedJson(json_real(when_finite_values(stats, stats.std_dev())));
  entry["l2"] = OrderedJson(json_real(stats.l2()));
  entry["zeros"] = stats.zeros;
  entry["nan"] = stats.nan;
  entry["inf"] = stats.inf;
  return entry;
}

void add_stats_json(OrderedJson& document, const std::vector<StatsOutcome>& outcomes) {
  OrderedJson& tensors = document["tensors"];
  for (std::size_t i = 0; i < outcomes.size() && i < tensors.size(); ++i) {
    const StatsOutcome& outcome = outcomes[i];
    tensors[i]["stats"] = outcome.figures ? stats_json(*outcome.figures) : OrderedJson(nullptr);
    tensors[i]["skipped"] = outcome.figures ? OrderedJson(nullptr) : OrderedJson(outcome.skipped);
  }
  StatsTotals totals = total_statistics(outcomes);
  OrderedJson file = stats_json(totals.values);
  file["count"] = totals.values.count;
  file["tensors_read"] = totals.tensors;
  file["tensors_skipped"] = totals.skipped;
  document["stats"] = std::move(file);
}

void print_stats_sections(std::ostream& out, const TensorTable& table, const std::vector<StatsOutcome>& outcomes,
                          std::uint64_t limit) {
  print_totals(out, total_statistics(outcomes), table.tensors.size());
  out << "\nValue Statistics:\n";
  std::vector<TextRow> rows{{"Name", "Min", "Max", "Mean", "Std", "L2", "Zeros", "NaN", "Inf"}};
  std::vector<std::string> skipped;
  std::uint64_t read = 0;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    std::string name = escape_control(table.tensors[i].name);
    if (!outcomes[i].figures) {
      skipped.push_back(name + ": " + escape_control(outcomes[i].skipped));
      continue;
    }
    if (read++ < limit) rows.push_back(stats_row(name, *outcomes[i].figures));
  }
  if (read == 0) {
    out << "  none\n";
  } else {
    print_aligned_rows(out, rows);
    print_rest_count(out, read, limit);
  }
  if (skipped.empty()) return;
  out << "\nSkipped Tensors:\n";
  for (std::size_t i = 0; i < skipped.size() && i < limit; ++i) out << "  " << skipped[i] << "\n";
  print_rest_count(out, skipped.size(), limit);
}

}  // namespace tarnwick
