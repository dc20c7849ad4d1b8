#include "cli/contents_command.h"

#include <algorithm>
#include <ostream>

#include "base/inspector_args.h"
#include "registry/registry.h"
#include "tables/tensor_contents_diff.h"
#include "tables/tensor_contents_report.h"
#include "tables/tree_contents.h"
#include "values/delta_report.h"
#include "values/stats_report.h"

namespace tarnwick {

namespace {

constexpr const char* kContentsUsage = "usage: tarnwick contents [--json] [--limit N] <model>";
constexpr const char* kContentsDiffUsage = "usage: tarnwick diff --contents [--json] [--limit N] <old-model> <new-model>";

Error unsupported(const std::string& path) {
  return fail("unsupported artifact type for `" + path +
              "`. Try .pt/.pth, .safetensors, .gguf, .onnx, .cbm, or .lgb.");
}

// The table of a tensor kind, named by the path as given, with its totals known to fit.
Result<TensorTable> read_checked_table(const std::string& path, const FormatDescriptor& format) {
  Result<TensorTable> table = format.tensor_table(path);
  if (!table.is_ok()) return table;
  table.value().path = path;
  Result<TensorTotals> totals = tensor_totals(table.value());
  if (!totals.is_ok()) return totals.error();
  return table;
}

Result<TreeTable> read_trees(const std::string& path, const FormatDescriptor& format) { return format.tree_table(path); }

// `args` without every `flag`, and whether it was there.
bool take_flag(Args& args, std::string_view flag) {
  auto end = std::remove(args.begin(), args.end(), std::string(flag));
  bool found = end != args.end();
  args.erase(end, args.end());
  return found;
}

}  // namespace

Status contents_command(const Args& args, Io& io) {
  Args rest = args;
  bool stats = take_flag(rest, "--stats");
  Result<InspectorArgs> scanned = scan_inspector_args(rest, DeepOption::Refused);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.paths.size() != 1) return fail(kContentsUsage);
  const std::string& path = options.paths.front();
  const FormatDescriptor* format = detect_format(path);
  if (holds_trees(format)) {
    if (stats) return fail("--stats reads tensor values; " + path + " holds trees");
    Result<TreeTable> trees = read_trees(path, *format);
    if (!trees.is_ok()) return trees.error();
    return print_tree_contents(trees.value(), options.json, options.limit, io);
  }
  if (!holds_tensors(format)) return unsupported(path);
  Result<TensorTable> table = read_checked_table(path, *format);
  if (!table.is_ok()) return table.error();
  std::vector<StatsOutcome> statistics;
  if (stats) statistics = tensor_statistics(table.value());
  if (options.json) {
    Result<OrderedJson> document = tensor_contents_json(table.value());
    if (!document.is_ok()) return document.error();
    if (stats) add_stats_json(document.value(), statistics);
    return print_json_document(io.out, document.value());
  }
  std::optional<ArchitectureFacts> architecture;
  if (format->stated_architecture) {
    architecture = infer_architecture(table.value(), format->stated_architecture(table.value()));
  }
  Status printed = print_tensor_contents(io.out, table.value(), options.limit, architecture);
  if (!printed.is_ok() || !stats) return printed;
  print_stats_sections(io.out, table.value(), statistics, options.limit);
  return Status::ok();
}

namespace {

// The options only `diff --contents` takes, taken out of the arguments.
struct ContentsDiffArgs {
  bool values = false;
  bool show_renames = false;
  ContentsDiffOptions matching;
  Args rest;
};

Result<ContentsDiffArgs> take_contents_diff_options(const Args& args) {
  ContentsDiffArgs scanned;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--contents") continue;
    if (arg == "--values") {
      scanned.values = true;
    } else if (arg == "--match-by-content") {
      scanned.matching.match_by_content = true;
      scanned.show_renames = true;
    } else if (arg == "--map") {
      if (i + 1 == args.size()) return fail("--map needs a file of old-name new-name lines");
      Result<std::map<std::string, std::string>> renames = read_rename_map(args[++i]);
      if (!renames.is_ok()) return renames.error();
      scanned.matching.renames.insert(renames.value().begin(), renames.value().end());
      scanned.show_renames = true;
    } else {
      scanned.rest.push_back(arg);
    }
  }
  return scanned;
}

}  // namespace

Status contents_diff_command(const Args& args, Io& io) {
  Result<ContentsDiffArgs> taken = take_contents_diff_options(args);
  if (!taken.is_ok()) return taken.error();
  const ContentsDiffArgs& extra = taken.value();
  const Args& rest = extra.rest;
  Result<InspectorArgs> scanned = scan_inspector_args(rest, DeepOption::Refused);
  if (!scanned.is_ok()) return scanned.error();
  const InspectorArgs& options = scanned.value();
  if (options.paths.size() != 2) return fail(kContentsDiffUsage);
  const std::string& old_path = options.paths[0];
  const std::string& new_path = options.paths[1];
  const FormatDescriptor* old_format = detect_format(old_path);
  const FormatDescriptor* new_format = detect_format(new_path);
  if (holds_trees(old_format) && old_format == new_format) {
    if (extra.values || extra.show_renames) return fail("--values, --map and --match-by-content compare tensors; these files hold trees");
    Result<TreeTable> old_trees = read_trees(old_path, *old_format);
    if (!old_trees.is_ok()) return old_trees.error();
    Result<TreeTable> new_trees = read_trees(new_path, *new_format);
    if (!new_trees.is_ok()) return new_trees.error();
    return print_tree_contents_diff(old_trees.value(), new_trees.value(), options.json, options.limit, io);
  }
  if (!holds_tensors(old_format) || !holds_tensors(new_format)) {
    return fail("cannot diff different or unsupported artifact types: " + std::string(kind_name(old_format)) + " vs " +
                std::string(kind_name(new_format)));
  }
  Result<TensorTable> old_table = read_checked_table(old_path, *old_format);
  if (!old_table.is_ok()) return old_table.error();
  Result<TensorTable> new_table = read_checked_table(new_path, *new_format);
  if (!new_table.is_ok()) return new_table.error();
  Result<TensorContentsDiff> diff = diff_tensor_tables(old_table.value(), new_table.value(), extra.matching);
  if (!diff.is_ok()) return diff.error();
  std::vector<DeltaOutcome> deltas;
  if (extra.values) deltas = changed_value_deltas(diff.value());
  if (options.json) {
    OrderedJson document = contents_diff_json(old_table.value(), new_table.value(), diff.value(), extra.show_renames);
    if (extra.values) add_delta_json(document, deltas);
    return print_json_document(io.out, document);
  }
  Status printed = print_contents_diff(io.out, old_table.value(), new_table.value(), diff.value(), options.limit,
                                       extra.show_renames);
  if (!printed.is_ok() || !extra.values) return printed;
  print_delta_section(io.out, diff.value(), deltas, options.limit);
  return Status::ok();
}

}  // namespace tarnwick
