#include "onnx/profile/profile_command.h"

#include "base/file_read.h"
#include "base/inspector_args.h"
#include "base/number_parse.h"
#include "base/text.h"
#include "onnx/profile/profile_report.h"

namespace tarnwick {

namespace {

constexpr const char* kProfileUsage =
    "usage: tarnwick profile [--json] [--strict] [--limit N] [--dim NAME=VALUE]... <model.onnx>";

struct ProfileArgs {
  bool json = false;
  bool strict = false;
  std::uint64_t limit = kDefaultLimit;
  std::map<std::string, std::int64_t> dims;
  std::optional<std::string> path;
};

Status add_dim(const std::string& text, ProfileArgs& scanned) {
  std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return fail("--dim needs NAME=VALUE, got `" + text + "`");
  const std::string name = text.substr(0, equals);
  const std::string_view digits = std::string_view(text).substr(equals + 1);
  Result<std::uint64_t> value = parse_unsigned(digits);
  if (!value.is_ok()) {
    Result<std::int64_t> negative = parse_signed(digits);
    if (negative.is_ok()) return fail("--dim " + name + " must be at least 1, got " + std::string(digits));
    return fail("parse --dim " + name + ": " + value.message());
  }
  if (value.value() > static_cast<std::uint64_t>(INT64_MAX))
    return fail("parse --dim " + name + ": number too large to fit in target type");
  if (value.value() == 0) return fail("--dim " + name + " must be at least 1, got " + std::string(digits));
  scanned.dims[name] = static_cast<std::int64_t>(value.value());
  return Status::ok();
}

// A bound name the graph never declares is a typo: refused, naming the dims it does declare.
Status check_dims_declared(const DimBindings& dims) {
  for (const auto& [name, value] : dims.bound) {
    if (dims.named.count(name)) continue;
    std::string declared;
    for (const std::string& known : dims.named) declared += (declared.empty() ? "" : ", ") + known;
    return fail("--dim " + escape_control(name) + ": the model has no symbolic dim of that name (" +
                (declared.empty() ? std::string("it has none") : "its symbolic dims: " + escape_control(declared)) +
                ")");
  }
  return Status::ok();
}

// --strict: the report stands, and the command fails when its totals are incomplete or an
// external data file failed its checks.
Status strict_verdict(const ModelProfile& profile) {
  std::string reasons;
  if (profile.incomplete()) {
    std::size_t count = profile.unresolved.size();
    reasons = "the totals are incomplete (" + std::to_string(count) + (count == 1 ? " node" : " nodes") +
              " with a cost could not be costed)";
  }
  if (std::size_t failures = profile.external_data_failures(); failures > 0) {
    reasons += (reasons.empty() ? "" : "; ") + std::to_string(failures) + " external data " +
               (failures == 1 ? "reference failed its" : "references failed their") + " checks";
  }
  if (reasons.empty()) return Status::ok();
  return fail("profile --strict: " + reasons);
}

Result<ProfileArgs> scan_profile_args(const Args& args) {
  ProfileArgs scanned;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") {
      scanned.json = true;
    } else if (args[i] == "--strict") {
      scanned.strict = true;
    } else if (args[i] == "--limit" || args[i] == "--dim") {
      if (i + 1 == args.size()) return fail(args[i] == "--limit" ? "--limit needs a number" : "--dim needs NAME=VALUE");
      const std::string& value = args[++i];
      if (args[i - 1] == "--dim") {
        Status added = add_dim(value, scanned);
        if (!added.is_ok()) return added.error();
        continue;
      }
      Result<std::uint64_t> limit = parse_limit_value(value);
      if (!limit.is_ok()) return limit.error();
      scanned.limit = limit.value();
    } else if (scanned.path) {
      return fail("unexpected argument `" + args[i] + "`");
    } else {
      scanned.path = args[i];
    }
  }
  if (!scanned.path) return fail(kProfileUsage);
  return scanned;
}

}  // namespace

Status profile_command(const Args& args, Io& io) {
  Result<ProfileArgs> scanned = scan_profile_args(args);
  if (!scanned.is_ok()) return scanned.error();
  const std::string& path = *scanned.value().path;
  Result<FileBytes> bytes = read_whole_file(path);  // outlives the model, which views into it
  if (!bytes.is_ok()) return bytes.error();
  Result<OnnxModel> model = decode_onnx_model(bytes.value().view());
  if (!model.is_ok()) return model.error();
  ModelProfile profile = profile_model(path, model.value(), scanned.value().dims);
  if (Status declared = check_dims_declared(profile.dims); !declared.is_ok()) return declared;
  if (scanned.value().json) {
    Status printed = print_profile_json(io.out, profile);
    if (!printed.is_ok()) return printed;
  } else {
    print_profile_report(io.out, profile, scanned.value().limit);
  }
  return scanned.value().strict ? strict_verdict(profile) : Status::ok();
}

}  // namespace tarnwick
