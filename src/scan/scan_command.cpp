#include "scan/scan_command.h"

#include <filesystem>
#include <ostream>
#include <system_error>

#include "base/file_read.h"
#include "base/json_output.h"
#include "scan/file_scan.h"
#include "scan/sarif.h"
#include "scan/scan_inputs.h"
#include "scan/scan_report.h"

namespace tarnwick {

namespace {

constexpr const char* kUsage =
    "usage: tarnwick scan [--json] [--sarif FILE] [--fail-on dangerous|unknown|framework] [--allow MODULE.NAME]... "
    "[--policy FILE]... [-r] <file|directory|-> [more...]";

struct ScanOptions {
  bool json = false;
  bool recursive = false;
  std::optional<std::string> sarif;
  scan::ScanPolicy policy;
  std::vector<std::string> operands;
};

Error usage_error(const std::string& message) {
  return fail_with_status(message + " (" + kUsage + ")", scan::kCannotCheck);
}

Status read_policy_file(const std::string& path, scan::ScanPolicy& policy) {
  Result<FileBytes> text = read_whole_file(path);
  if (!text.is_ok()) return fail_with_status(text.message(), scan::kCannotCheck);
  Status read = scan::read_policy_lines(text.value().view(), "policy " + path, policy);
  if (!read.is_ok()) return fail_with_status(read.message(), scan::kCannotCheck);
  return Status::ok();
}

Result<ScanOptions> parse_options(const Args& args) {
  ScanOptions options;
  bool only_operands = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_operands || arg == "-" || !arg.starts_with("-")) {
      options.operands.push_back(arg);
      continue;
    }
    auto value = [&]() -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "--") {
      only_operands = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "-r" || arg == "--recursive") {
      options.recursive = true;
    } else if (arg == "--sarif") {
      options.sarif = value();
      if (!options.sarif || options.sarif->empty()) return usage_error("--sarif takes a file name");
    } else if (arg == "--fail-on") {
      std::optional<std::string> level = value();
      std::optional<scan::Grade> grade = level ? scan::parse_grade(*level) : std::nullopt;
      if (!grade || *grade == scan::Grade::kAllowed) {
        return usage_error("--fail-on takes dangerous, unknown or framework, not " + (level ? "`" + *level + "`" : "nothing"));
      }
      options.policy.fail_on = *grade;
    } else if (arg == "--allow") {
      std::optional<std::string> name = value();
      if (!name || !scan::is_import_name(*name)) {
        return usage_error("--allow takes MODULE.NAME, not " + (name ? "`" + *name + "`" : "nothing"));
      }
      options.policy.allow.insert(*name);
    } else if (arg == "--policy") {
      std::optional<std::string> path = value();
      if (!path) return usage_error("--policy takes a file name");
      if (Status read = read_policy_file(*path, options.policy); !read.is_ok()) return read.error();
    } else {
      return usage_error("unknown option " + arg);
    }
  }
  if (options.operands.empty()) return fail_with_status(kUsage, scan::kCannotCheck);
  return options;
}

// The report must never replace a file being scanned.
Status check_sarif_target(const std::string& sarif, const std::vector<scan::ScanTarget>& targets) {
  for (const scan::ScanTarget& target : targets) {
    std::error_code error;
    if (!target.contents && std::filesystem::equivalent(sarif, target.path, error)) {
      return usage_error("--sarif " + sarif + " is one of the files scanned");
    }
  }
  return Status::ok();
}

}  // namespace

Status scan_command(const Args& args, Io& io) {
  Result<ScanOptions> parsed = parse_options(args);
  if (!parsed.is_ok()) return parsed.error();
  const ScanOptions& options = parsed.value();
  Result<std::vector<scan::ScanTarget>> targets =
      scan::collect_targets(options.operands, options.recursive, io.in, kStreamReadLimit);
  if (!targets.is_ok()) return targets.error();
  if (options.sarif) {
    if (Status checked = check_sarif_target(*options.sarif, targets.value()); !checked.is_ok()) return checked;
  }

  scan::ScanRun run;
  run.policy = options.policy;
  for (const scan::ScanTarget& target : targets.value()) {
    scan::FileScan file = target.contents ? scan::scan_bytes(target.path, *target.contents) : scan::scan_file(target.path);
    scan::apply_policy(run.policy, file);
    run.verdicts.push_back(scan::file_verdict(run.policy, file));
    run.files.push_back(std::move(file));
  }

  if (options.json) {
    Status printed = print_json_document(io.out, scan::scan_json(run));
    if (!printed.is_ok()) return printed;
  } else {
    scan::print_scan_report(io.out, run);
  }
  if (options.sarif) {
    Status written = scan::write_sarif_file(*options.sarif, scan::scan_sarif(run));
    if (!written.is_ok()) return fail_with_status(written.message(), scan::kCannotCheck);
  }
  scan::ScanSummary summary = scan::summarise(run);
  if (summary.unsafe + summary.unscannable > 0) {
    return fail("scan found " + std::to_string(summary.unsafe) + " unsafe and " + std::to_string(summary.unscannable) +
                " unscannable file(s)");
  }
  return Status::ok();
}

}  // namespace tarnwick
