#include "tables/serving_memory.h"

#include <map>

#include "tables/tensor_contents_report.h"

namespace tarnwick {

namespace {

// A cache row of n values takes ceil(n / block) blocks of `block_bytes` each, as ggml stores it.
struct CacheType {
  std::uint64_t block = 1;
  std::uint64_t block_bytes = 2;
};

const std::map<std::string, CacheType>& cache_types() {
  static const std::map<std::string, CacheType> kTypes{
      {"float32", {1, 4}},       {"float16", {1, 2}}, {"bfloat16", {1, 2}}, {"float8_e4m3fn", {1, 1}},
      {"float8_e5m2", {1, 1}},   {"int8", {1, 1}},    {"q8_0", {32, 34}},   {"q5_1", {32, 24}},
      {"q5_0", {32, 22}},        {"q4_1", {32, 20}},  {"q4_0", {32, 18}},   {"iq4_nl", {32, 18}}};
  return kTypes;
}

// Products of figures a hostile header states are checked: past 64 bits there is no answer.
std::optional<std::uint64_t> times(std::uint64_t a, std::uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return std::nullopt;
  return a * b;
}

std::optional<std::uint64_t> row_bytes(std::uint64_t values, const CacheType& type) {
  return times((values + type.block - 1) / type.block, type.block_bytes);
}

// What the cache keeps per token: keys and values of every layer.
void cache_per_token(ServingMemory& memory, const CacheType& type) {
  if (!memory.layers) memory.unknown.push_back("layers");
  if (!memory.key_value_heads) memory.unknown.push_back("key/value heads");
  if (!memory.key_dim) memory.unknown.push_back("key head dim");
  if (!memory.value_dim) memory.unknown.push_back("value head dim");
  if (!memory.unknown.empty()) return;
  std::optional<std::uint64_t> keys = times(memory.key_value_heads->value, memory.key_dim->value);
  std::optional<std::uint64_t> values = times(memory.key_value_heads->value, memory.value_dim->value);
  if (!keys || !values) return memory.unknown.push_back("a cache row within 64 bits");
  std::optional<std::uint64_t> key_row = row_bytes(*keys, type), value_row = row_bytes(*values, type);
  if (!key_row || !value_row || *key_row > UINT64_MAX - *value_row) return memory.unknown.push_back("a cache row within 64 bits");
  memory.kv_bytes_per_token = times(memory.layers->value, *key_row + *value_row);
  if (!memory.kv_bytes_per_token) memory.unknown.push_back("a cache size within 64 bits");
}

void totals(ServingMemory& memory, const std::optional<ArchitectureFigure>& stated_context) {
  if (!memory.context && stated_context) {
    memory.context = stated_context->value;
    memory.context_source = stated_context->evidence;
  }
  if (!memory.context) memory.unknown.push_back("context length (give --context N)");
  if (!memory.kv_bytes_per_token || !memory.context) return;
  std::optional<std::uint64_t> sequence = times(*memory.kv_bytes_per_token, *memory.context);
  memory.kv_cache_bytes = sequence ? times(*sequence, memory.batch) : std::nullopt;
  if (!memory.kv_cache_bytes || *memory.kv_cache_bytes > UINT64_MAX - memory.weights_bytes) {
    memory.kv_cache_bytes.reset();
    return memory.unknown.push_back("a cache size within 64 bits");
  }
  memory.total_bytes = memory.weights_bytes + *memory.kv_cache_bytes;
}

// Head dims as stated, else hidden size / attention heads when that divides evenly.
void head_dims(ServingMemory& memory, const ArchitectureFacts& facts, const HeadDims& stated) {
  std::optional<ArchitectureFigure> derived;
  if (facts.hidden_size && facts.attention_heads && facts.attention_heads->value != 0 &&
      facts.hidden_size->value % facts.attention_heads->value == 0) {
    derived = ArchitectureFigure{facts.hidden_size->value / facts.attention_heads->value, false,
                                 "hidden size / attention heads"};
  }
  memory.key_dim = stated.key ? stated.key : derived;
  memory.value_dim = stated.value ? stated.value : memory.key_dim;
}

}  // namespace

const std::vector<std::string>& serving_cache_dtypes() {
  static const std::vector<std::string> kNames = [] {
    std::vector<std::string> names;
    for (const auto& [name, type] : cache_types()) names.push_back(name);
    return names;
  }();
  return kNames;
}

Result<ServingMemory> serving_memory(const std::string& path, const TensorFileFormat& format,
                                     const ServingRequest& request) {
  auto type = cache_types().find(request.cache_dtype);
  if (type == cache_types().end()) {
    std::string known;
    for (const std::string& name : serving_cache_dtypes()) known += (known.empty() ? "" : ", ") + name;
    return fail("--cache-dtype " + request.cache_dtype + " is not a cache type (" + known + ")");
  }
  Result<TensorTable> table = format.read_table(path);
  if (!table.is_ok()) return table.error();
  Result<TensorTotals> sums = tensor_totals(table.value());
  if (!sums.is_ok()) return sums.error();
  ArchitectureFacts facts = infer_architecture(table.value(), format.stated_architecture(table.value()));
  ServingMemory memory;
  memory.path = path;
  memory.format = std::string(format.name);
  memory.weights_bytes = sums.value().bytes;
  memory.layers = facts.layers;
  memory.attention_heads = facts.attention_heads;
  memory.key_value_heads = facts.key_value_heads;
  if (!memory.key_value_heads && facts.attention_heads) {
    memory.key_value_heads = facts.attention_heads;
    memory.key_value_heads_from_attention = true;
  }
  head_dims(memory, facts, format.head_dims ? format.head_dims(table.value()) : HeadDims{});
  memory.cache_dtype = request.cache_dtype;
  memory.batch = request.batch;
  memory.context = request.context;
  if (request.context) memory.context_source = "--context";
  cache_per_token(memory, type->second);
  totals(memory, facts.context_length);
  return memory;
}

}  // namespace tarnwick
