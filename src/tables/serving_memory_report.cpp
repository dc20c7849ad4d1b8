#include "tables/serving_memory_report.h"

#include "base/format.h"
#include "base/json_output.h"
#include "base/number_parse.h"
#include "base/text.h"

namespace tarnwick {

namespace {

Result<std::uint64_t> at_least_one(const std::string& option, const std::string& text) {
  Result<std::uint64_t> value = parse_unsigned(text);
  if (!value.is_ok() || value.value() == 0) return fail(option + " must be a whole number of at least 1, got `" + text + "`");
  return value.value();
}

struct ServingArgs {
  bool json = false;
  ServingRequest request;
  std::string path;
};

Result<ServingArgs> scan_args(const Args& args) {
  ServingArgs scanned;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      scanned.json = true;
    } else if (arg == "--context" || arg == "--batch" || arg == "--cache-dtype") {
      if (i + 1 == args.size()) return fail(arg + " needs a value");
      const std::string& value = args[++i];
      if (arg == "--cache-dtype") {
        scanned.request.cache_dtype = value;
        continue;
      }
      Result<std::uint64_t> number = at_least_one(arg, value);
      if (!number.is_ok()) return number.error();
      if (arg == "--context") scanned.request.context = number.value();
      if (arg == "--batch") scanned.request.batch = number.value();
    } else if (arg.starts_with("--")) {
      return fail("unknown profile option `" + arg + "` for a checkpoint (" + std::string(kServingProfileUsage).substr(7) + ")");
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.size() != 1) return fail(kServingProfileUsage);
  scanned.path = paths.front();
  return scanned;
}

void figure_line(std::ostream& out, const char* label, const std::optional<ArchitectureFigure>& figure) {
  out << "  " << label << figure_text(figure) << "\n";
}

}  // namespace

std::string bytes_text(const std::optional<std::uint64_t>& bytes) {
  if (!bytes) return "unknown";
  return format_bytes(*bytes) + " (" + std::to_string(*bytes) + ")";
}

void print_serving_memory(std::ostream& out, const ServingMemory& memory) {
  out << "Serving Memory\n--------------\n";
  out << "Model: " << escape_control(memory.path) << "\nFormat: " << memory.format << "\n";
  out << "\nWeights:\n  Tensor bytes: " << bytes_text(memory.weights_bytes) << "\n";
  out << "\nAttention:\n";
  figure_line(out, "Layers:          ", memory.layers);
  figure_line(out, "Attention heads: ", memory.attention_heads);
  if (memory.key_value_heads_from_attention) {
    out << "  Key/value heads: " << memory.key_value_heads->value << " (none stated: one per attention head)\n";
  } else {
    figure_line(out, "Key/value heads: ", memory.key_value_heads);
  }
  figure_line(out, "Key head dim:    ", memory.key_dim);
  figure_line(out, "Value head dim:  ", memory.value_dim);
  out << "\nKV Cache:\n";
  out << "  Cache dtype: " << memory.cache_dtype << "\n";
  out << "  Per token:   " << bytes_text(memory.kv_bytes_per_token) << "\n";
  out << "  Context:     "
      << (memory.context ? std::to_string(*memory.context) + " tokens (" + escape_control(memory.context_source) + ")"
                         : std::string("unknown"))
      << "\n";
  out << "  Batch:       " << memory.batch << "\n";
  out << "  Cache:       " << bytes_text(memory.kv_cache_bytes) << "\n";
  out << "\nTotal:\n  Weights + KV cache: " << bytes_text(memory.total_bytes) << "\n";
  out << "\nUnknown:\n";
  if (memory.unknown.empty()) out << "  none\n";
  for (const std::string& figure : memory.unknown) out << "  " << figure << "\n";
}

OrderedJson serving_memory_json(const ServingMemory& memory) {
  OrderedJson record;
  record["kind"] = "serving_memory";
  record["path"] = memory.path;
  record["format"] = memory.format;
  record["weights_bytes"] = memory.weights_bytes;
  record["layers"] = figure_json(memory.layers);
  record["attention_heads"] = figure_json(memory.attention_heads);
  record["key_value_heads"] = figure_json(memory.key_value_heads);
  record["key_value_heads_from_attention_heads"] = memory.key_value_heads_from_attention;
  record["key_head_dim"] = figure_json(memory.key_dim);
  record["value_head_dim"] = figure_json(memory.value_dim);
  record["cache_dtype"] = memory.cache_dtype;
  record["kv_cache_bytes_per_token"] = ordered_optional(memory.kv_bytes_per_token);
  record["context"] = ordered_optional(memory.context);
  record["context_source"] = memory.context ? OrderedJson(memory.context_source) : OrderedJson();
  record["batch"] = memory.batch;
  record["kv_cache_bytes"] = ordered_optional(memory.kv_cache_bytes);
  record["total_bytes"] = ordered_optional(memory.total_bytes);
  record["unknown"] = memory.unknown;
  return record;
}

Status serving_memory_command(const Args& args, const TensorFileFormat& format, Io& io) {
  Result<ServingArgs> scanned = scan_args(args);
  if (!scanned.is_ok()) return scanned.error();
  Result<ServingMemory> memory = serving_memory(scanned.value().path, format, scanned.value().request);
  if (!memory.is_ok()) return memory.error();
  if (scanned.value().json) return print_json_document(io.out, serving_memory_json(memory.value()));
  print_serving_memory(io.out, memory.value());
  return Status::ok();
}

}  // namespace tarnwick
