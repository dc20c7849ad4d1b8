#include "cli/routing.h"

#include <ostream>

#include "base/inspector_args.h"
#include "cli/contents_command.h"
#include "demo/teaching.h"
#include "registry/registry.h"

namespace tarnwick {

namespace {

constexpr const char* kInspectUsage =
    "usage: tarnwick inspect [--deep] [--json] [--limit 20] <model.cbm|model.onnx|model.json>";
constexpr const char* kDiffUsage = "usage: tarnwick diff [--deep] [--json] <old-model> <new-model>";

bool contains(const Args& args, const char* word) {
  for (const std::string& arg : args) {
    if (arg == word) return true;
  }
  return false;
}

bool contents_diff_compares(const FormatDescriptor* old_format, const FormatDescriptor* new_format) {
  return holds_tensors(old_format) && holds_tensors(new_format) &&
         (old_format->points_to_contents_diff || new_format->points_to_contents_diff);
}

}  // namespace

Status inspect_command(const Args& args, Io& io) {
  if (args.empty()) return fail(kInspectUsage);
  const std::string* path = nullptr;
  for (std::size_t i = 0; i < args.size() && path == nullptr; ++i) {
    if (args[i] == "--limit") {
      if (i + 1 == args.size()) return fail("--limit needs a number");
      ++i;
    } else if (args[i] != "--deep" && args[i] != "--json") {
      path = &args[i];
    }
  }
  if (path == nullptr) return fail(kInspectUsage);

  const FormatDescriptor* format = detect_format(*path);
  if (format == nullptr || format->inspect == nullptr) {
    return fail("unsupported artifact type for `" + *path + "`. Try .cbm, .lgb, .onnx, .pt/.pth, or .json.");
  }
  if (contains(args, "--deep") && !format->inspects_deep) return fail(kDeepOnlyForCatboost);
  return format->inspect(args, io);
}

Status diff_command(const Args& args, Io& io) {
  if (contains(args, "--contents")) return contents_diff_command(args, io);
  bool deep = false, json = false;
  std::vector<std::string> paths;
  for (const std::string& arg : args) {
    if (arg == "--deep") {
      deep = true;
    } else if (arg == "--json") {
      json = true;
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 2) return fail(kDiffUsage);
  if (deep && json) return fail(kDeepWithJson);

  const FormatDescriptor* old_format = detect_format(paths[0]);
  const FormatDescriptor* new_format = detect_format(paths[1]);
  if (old_format != new_format || old_format == nullptr) {
    std::string message = "cannot diff different or unsupported artifact types: " +
                          std::string(kind_name(old_format)) + " vs " + std::string(kind_name(new_format));
    if (contents_diff_compares(old_format, new_format)) {
      message += ". Try `tarnwick diff --contents` to compare their tensors by name.";
    }
    return fail(message);
  }
  if (old_format->diff == nullptr) return fail(std::string(old_format->diff_refusal));
  if (deep && !old_format->diffs_deep) io.out << "Note: --deep is currently only used for CatBoost artifacts.\n\n";
  return old_format->diff(paths[0], paths[1], DiffRequest{deep, json}, io);
}

Status explain_command(const Args& args, Io& io) {
  const std::string* subject = nullptr;
  LessonView view = LessonView::All;
  bool step = false, quiz = false;
  for (const std::string& arg : args) {
    if (arg == "--step") {
      step = true;
    } else if (arg == "--quiz") {
      quiz = true;
    } else if (arg == "--shapes" || arg == "--memory" || arg == "--math" || arg == "--compare") {
      view = arg == "--shapes"   ? LessonView::Shape
             : arg == "--memory" ? LessonView::Memory
             : arg == "--math"   ? LessonView::Math
                                 : LessonView::Compare;
    } else if (subject != nullptr) {
      return fail("unexpected argument `" + arg + "`");
    } else {
      subject = &arg;
    }
  }
  if (subject == nullptr) return explain_topic("attention", view, step, quiz, io);
  const FormatDescriptor* format = detect_format(*subject);
  if (format != nullptr && format->explain != nullptr) return format->explain(*subject, io);
  return explain_topic(*subject, view, step, quiz, io);
}

}  // namespace tarnwick
