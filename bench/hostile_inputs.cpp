#include "hostile_inputs.h"

#include <fstream>

#include "cbm/cbm_core_builder.h"
#include "onnx/proto_builder.h"
#include "pt/zip_builder.h"

namespace bench {

namespace {

using tarnwick::testing::le;
using tarnwick::testing::varint;

std::string field(std::uint32_t number, const std::string& payload) {
  return varint((static_cast<std::uint64_t>(number) << 3) | 2) + varint(payload.size()) + payload;
}
std::string header(std::uint32_t number, std::uint64_t length) {
  return varint((static_cast<std::uint64_t>(number) << 3) | 2) + varint(length);
}

class Writer {
 public:
  explicit Writer(const Path& path) : out_(path, std::ios::binary) {}
  void put(const std::string& bytes) { out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size())); }
  // `bytes` repeated until `total` bytes are written.
  void repeat(const std::string& bytes, std::uint64_t total) {
    std::string block;
    while (block.size() < (1u << 20)) block += bytes;
    block.resize(block.size() / bytes.size() * bytes.size());
    std::uint64_t written = 0;
    while (written + block.size() <= total) {
      put(block);
      written += block.size();
    }
    while (written + bytes.size() <= total) {
      put(bytes);
      written += bytes.size();
    }
  }

 private:
  std::ofstream out_;
};

std::string pseudo_random_bytes(std::size_t size, std::uint64_t seed) {
  std::string bytes(size, '\0');
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    for (std::size_t k = 0; k < 8 && i + k < size; ++k) bytes[i + k] = static_cast<char>(state >> (8 * k));
  }
  return bytes;
}

std::string model_header(std::uint64_t graph_length) {
  return varint(1 << 3) + varint(8) + field(2, "tarnwick-bench") + header(7, graph_length);
}

}  // namespace

void write_pickle_long_headers(const Path& path, std::uint64_t size) {
  Writer out(path);
  out.put("\x80\x02");
  std::string block = "X" + le(size / 2, 4) + std::string(27, 'a');
  out.repeat(block, size - 2);
}

void write_zip_shared_blob(const Path& path, int entries) {
  Writer out(path);
  std::string pickle = tarnwick::testing::pickle_with_names({"shared.weight"});
  std::string blob = pseudo_random_bytes(1 << 20, 5);
  std::string directory;
  std::uint64_t offset = 0;
  auto local = [&](const std::string& name, const std::string& data) {
    std::string bytes = "PK\x03\x04" + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + le(data.size(), 4) +
                        le(data.size(), 4) + le(name.size(), 2) + le(0, 2) + name;
    out.put(bytes);
    out.put(data);
    std::uint64_t at = offset;
    offset += bytes.size() + data.size();
    return at;
  };
  auto central = [&](const std::string& name, std::uint64_t size, std::uint64_t at) {
    directory += "PK\x01\x02" + le(20, 2) + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + le(size, 4) +
                 le(size, 4) + le(name.size(), 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(at, 4) +
                 name;
  };
  central("archive/data.pkl", pickle.size(), local("archive/data.pkl", pickle));
  std::uint64_t blob_at = local("archive/data/0", blob);
  for (int i = 0; i < entries; ++i) central("archive/data/" + std::to_string(i), blob.size(), blob_at);
  out.put(directory);
  out.put("PK\x05\x06" + le(0, 2) + le(0, 2) + le(0xFFFF, 2) + le(0xFFFF, 2) + le(directory.size(), 4) + le(offset, 4) +
          le(0, 2));
}

void write_onnx_relu_on_big_shape(const Path& path, std::uint64_t dims, std::uint64_t size) {
  std::string packed(dims, '\x01');
  std::string initializer = field(5, field(1, packed) + varint(2 << 3) + varint(1) + field(8, "big"));
  std::string node = field(1, field(2, "big") + field(4, "Relu"));
  std::uint64_t count = (size - initializer.size()) / node.size();
  Writer out(path);
  out.put(model_header(initializer.size() + count * node.size()));
  out.put(initializer);
  out.repeat(node, count * node.size());
}

void write_onnx_empty_nodes(const Path& path, std::uint64_t count) {
  std::string node = field(1, "");
  Writer out(path);
  out.put(model_header(count * node.size()));
  out.repeat(node, count * node.size());
}

void write_onnx_empty_inputs(const Path& path, std::uint64_t count) {
  std::string input = field(11, "");
  Writer out(path);
  out.put(model_header(count * input.size()));
  out.repeat(input, count * input.size());
}

void write_onnx_packed_dims(const Path& path, std::uint64_t size) {
  std::string dims(size, '\x02');
  std::string tensor = field(1, dims) + varint(2 << 3) + varint(1) + field(8, "w");
  std::string graph = field(5, tensor);
  Writer out(path);
  out.put(model_header(graph.size()));
  out.put(graph);
}

void write_onnx_model(const Path& path, int count, std::uint64_t rows, std::uint64_t columns,
                      const std::string& graph_extra) {
  std::string raw = pseudo_random_bytes(rows * columns * 4, 7);
  std::string nodes;
  std::uint64_t initializers_length = 0;
  auto tensor_prefix = [&](int i) {
    return varint(1 << 3) + varint(rows) + varint(1 << 3) + varint(columns) + varint(2 << 3) + varint(1) +
           field(8, "w" + std::to_string(i)) + header(9, raw.size());
  };
  for (int i = 0; i < count; ++i) {
    std::string name = "w" + std::to_string(i);
    nodes += field(1, field(1, "x") + field(1, name) + field(2, "y" + std::to_string(i)) + field(4, "MatMul"));
    std::uint64_t tensor_length = tensor_prefix(i).size() + raw.size();
    initializers_length += header(5, tensor_length).size() + tensor_length;
  }
  Writer out(path);
  std::string name = field(2, "bench");
  out.put(model_header(name.size() + nodes.size() + graph_extra.size() + initializers_length));
  out.put(name + nodes + graph_extra);
  for (int i = 0; i < count; ++i) {
    std::string prefix = tensor_prefix(i);
    out.put(header(5, prefix.size() + raw.size()) + prefix);
    raw[0] = static_cast<char>(i);
    out.put(raw);
  }
}

void write_cbm_body(const Path& path, const std::string& pattern, std::uint64_t size) {
  Writer out(path);
  out.put("CBM1");
  out.repeat(pattern, size);
}

void write_cbm_shared_borders(const Path& path, std::size_t features, std::size_t borders) {
  tarnwick::testing::CoreModel model;
  std::vector<float> values;
  for (std::size_t i = 0; i < borders; ++i) values.push_back(static_cast<float>(i) + 0.5f);
  model.float_borders.assign(features, values);
  model.borders_shared = true;
  model.splits = {0};
  model.sizes = {1};
  model.starts = {0};
  model.leaf_values = {-1.0, 1.0};
  Writer(path).put(tarnwick::testing::build_core(model).file());
}

void write_pytorch_nested_lists(const Path& path, std::uint64_t levels) {
  std::string pickle = "\x80\x02" + std::string(levels, ']') + std::string(levels - 1, 'a') + ".";
  Writer(path).put(tarnwick::testing::build_zip({{"archive/data.pkl", pickle}, {"archive/version", "3\n"}}));
}

void write_lightgbm_feature_names(const Path& path, std::uint64_t size) {
  Writer out(path);
  out.put("tree\nversion=v4\nmax_feature_idx=1\nfeature_names=");
  out.repeat("f ", size);
  out.put("\n\nTree=0\nleaf_value=1\n");
}

void write_lightgbm_model(const Path& path, std::uint64_t size) {
  Writer out(path);
  out.put(
      "tree\nversion=v4\nnum_class=1\nnum_tree_per_iteration=1\nlabel_index=0\nmax_feature_idx=27\n"
      "objective=binary sigmoid:1\nfeature_names=");
  for (int f = 0; f < 28; ++f) out.put("f" + std::to_string(f) + (f < 27 ? " " : "\n"));
  out.put("tree_sizes=\n\n");
  std::string values;
  std::uint64_t state = 12345;
  auto number = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return std::to_string(static_cast<double>(state >> 11) / 9007199254740992.0 - 0.5);
  };
  std::uint64_t written = 0;
  for (int tree = 0; written < size; ++tree) {
    std::string text = "Tree=" + std::to_string(tree) + "\nnum_leaves=255\nnum_cat=0\nsplit_feature=";
    for (int i = 0; i < 254; ++i) text += std::to_string(i % 28) + (i < 253 ? " " : "\n");
    text += "threshold=";
    for (int i = 0; i < 254; ++i) text += number() + (i < 253 ? " " : "\n");
    text += "leaf_value=";
    for (int i = 0; i < 255; ++i) text += number() + (i < 254 ? " " : "\n");
    text += "internal_value=";
    for (int i = 0; i < 254; ++i) text += number() + (i < 253 ? " " : "\n");
    text += "shrinkage=0.1\n\n\n";
    out.put(text);
    written += text.size();
  }
  out.put(
      "end of trees\n\nparameters:\n[boosting: gbdt]\n[objective: binary]\n[learning_rate: 0.1]\n"
      "end of parameters\n\npandas_categorical:null\n");
}

void write_plan_data(const Path& path, std::uint64_t size) {
  std::uint64_t values = size / 2;
  Writer out(path);
  out.put(R"({"input":{"shape":[1,)" + std::to_string(values) + R"(],"data":[)");
  out.repeat("0,", 2 * (values - 1));
  out.put(R"(0]},"layers":[{"type":"relu"}]})");
}

void write_linear_plan(const Path& path, int layers, std::uint64_t width, bool square_input) {
  std::string plan = R"({"input_shape":[)" + std::to_string(square_input ? width : 1) + "," + std::to_string(width) +
                     R"(],"layers":[)";
  for (int i = 0; i < layers; ++i)
    plan += std::string(i ? "," : "") + R"({"type":"linear","out":)" + std::to_string(width) + "}";
  write_text(path, plan + "]}");
}

void write_text(const Path& path, const std::string& text) { Writer(path).put(text); }

}  // namespace bench
