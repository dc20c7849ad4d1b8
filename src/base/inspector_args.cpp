#include "base/inspector_args.h"

#include "base/number_parse.h"

namespace tarnwick {

Result<std::uint64_t> parse_limit_value(const std::string& text) {
  Result<std::uint64_t> limit = parse_unsigned(text);
  if (!limit.is_ok()) return fail("parse --limit: " + limit.message());
  return limit;
}

Result<InspectorArgs> scan_inspector_args(const Args& args, DeepOption deep) {
  InspectorArgs scanned;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      scanned.json = true;
    } else if (arg == "--deep") {
      if (deep == DeepOption::Refused) return fail(kDeepOnlyForCatboost);
      scanned.deep = true;
    } else if (arg == "--limit") {
      if (i + 1 == args.size()) return fail("--limit needs a number");
      Result<std::uint64_t> limit = parse_limit_value(args[++i]);
      if (!limit.is_ok()) return limit.error();
      scanned.limit = limit.value();
    } else {
      scanned.paths.push_back(arg);
    }
  }
  return scanned;
}

}  // namespace tarnwick
