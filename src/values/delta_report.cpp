#include "values/delta_report.h"

#include <algorithm>
#include <optional>
#include <string>

#include "base/change_lines.h"
#include "base/format.h"
#include "base/text.h"
#include "values/aligned_rows.h"

namespace tarnwick {

namespace {

bool shape_changed(const TensorChange& change) {
  return std::find(change.what.begin(), change.what.end(), "shape") != change.what.end();
}

std::optional<double> when_paired(const ValueDelta& delta, double value) {
  if (delta.pairs == 0) return std::nullopt;
  return value;
}

std::string figure_text(const ValueDelta& delta, double value) {
  return delta.pairs == 0 ? "unknown" : format_significant(value, kFigureDigits);
}

}  // namespace

std::vector<DeltaOutcome> changed_value_deltas(const TensorContentsDiff& diff) {
  std::vector<TensorPair> pairs;
  std::vector<std::size_t> pair_change;
  std::vector<DeltaOutcome> outcomes(diff.changed.size());
  for (std::size_t i = 0; i < diff.changed.size(); ++i) {
    const TensorChange& change = diff.changed[i];
    if (shape_changed(change) || change.old_tensor->numel != change.new_tensor->numel) {
      outcomes[i].skipped = "the shapes differ";
      continue;
    }
    pairs.emplace_back(change.old_tensor, change.new_tensor);
    pair_change.push_back(i);
  }
  std::vector<DeltaOutcome> computed = tensor_deltas(pairs);
  for (std::size_t i = 0; i < computed.size(); ++i) outcomes[pair_change[i]] = std::move(computed[i]);
  return outcomes;
}

OrderedJson delta_json(const ValueDelta& delta) {
  OrderedJson entry;
  entry["max_abs"] = OrderedJson(json_real(when_paired(delta, delta.max_abs)));
  entry["mean_abs"] = OrderedJson(json_real(when_paired(delta, delta.mean_abs())));
  entry["rel_l2"] = OrderedJson(json_real(when_paired(delta, delta.rel_l2())));
  entry["cosine"] = OrderedJson(json_real(when_paired(delta, delta.cosine())));
  entry["nonfinite_pairs"] = delta.nonfinite_pairs;
  return entry;
}

void add_delta_json(OrderedJson& document, const std::vector<DeltaOutcome>& deltas) {
  OrderedJson& changed = document["changed"];
  for (std::size_t i = 0; i < deltas.size() && i < changed.size(); ++i) {
    const DeltaOutcome& delta = deltas[i];
    changed[i]["values"] = delta.figures ? delta_json(*delta.figures) : OrderedJson(nullptr);
    changed[i]["values_skipped"] = delta.figures ? OrderedJson(nullptr) : OrderedJson(delta.skipped);
  }
}

void print_delta_section(std::ostream& out, const TensorContentsDiff& diff, const std::vector<DeltaOutcome>& deltas,
                         std::uint64_t limit) {
  out << "\nValue Changes:\n";
  if (deltas.empty()) {
    out << "  none\n";
    return;
  }
  std::vector<TextRow> rows{{"Name", "Max abs", "Mean abs", "Rel L2", "Cosine", "NaN/Inf pairs"}};
  std::vector<std::string> skipped;
  for (std::size_t i = 0; i < deltas.size() && i < limit; ++i) {
    const TensorChange& change = diff.changed[i];
    std::string name = pair_name(*change.old_tensor, *change.new_tensor);
    if (!deltas[i].figures) {
      skipped.push_back(name + ": " + escape_control(deltas[i].skipped));
      continue;
    }
    const ValueDelta& delta = *deltas[i].figures;
    rows.push_back({name, figure_text(delta, delta.max_abs), figure_text(delta, delta.mean_abs()),
                    figure_text(delta, delta.rel_l2()), figure_text(delta, delta.cosine()),
                    std::to_string(delta.nonfinite_pairs)});
  }
  if (rows.size() > 1) print_aligned_rows(out, rows);
  for (const std::string& line : skipped) out << "  " << line << " (not compared)\n";
  print_rest_count(out, deltas.size(), limit);
}

}  // namespace tarnwick
