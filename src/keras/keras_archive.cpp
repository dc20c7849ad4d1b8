#include "keras/keras_archive.h"

#include "base/positioned_file.h"
#include "containers/decompress.h"
#include "containers/zip_directory.h"
#include "keras/hdf5_weights.h"
#include "tables/content_hash.h"
#include "tables/strict_json.h"

namespace tarnwick {

namespace {

constexpr std::uint64_t kMaxJsonBytes = 64u << 20;

struct Member {
  std::string bytes;
  std::optional<std::uint64_t> offset;  // stored as is: where the bytes start in the file
};

Result<Member> read_member(const PositionedFile& file, const std::string& path, const ZipEntry& entry,
                           std::uint64_t& budget) {
  Result<std::uint64_t> start = zip_data_position(file, entry.local_header_offset);
  if (!start.is_ok()) return fail(path + ": " + entry.name + ": " + start.message());
  Result<std::string> stored = file.read_at(start.value(), entry.compressed_size);
  if (!stored.is_ok()) return fail(path + ": " + entry.name + " runs past the end of the file: it is cut short");
  if (entry.method == 0) {
    if (entry.compressed_size != entry.uncompressed_size) return fail(path + ": " + entry.name + " states two sizes");
    return Member{stored.take(), start.value()};
  }
  Result<std::string> inflated =
      decompress_zip_entry(entry.method, stored.value(), entry.uncompressed_size, std::min(entry.uncompressed_size, budget));
  if (!inflated.is_ok()) return fail(path + ": " + entry.name + ": " + inflated.message());
  budget -= inflated.value().size();
  return Member{inflated.take(), std::nullopt};
}

Result<OrderedJson> json_member(const PositionedFile& file, const std::string& path, const ZipEntry& entry,
                                std::uint64_t& budget) {
  if (entry.uncompressed_size > kMaxJsonBytes) return fail(path + ": " + entry.name + " is larger than 64 MiB");
  Result<Member> member = read_member(file, path, entry, budget);
  if (!member.is_ok()) return member.error();
  Result<OrderedJson> parsed = parse_strict_json(member.value().bytes);
  if (!parsed.is_ok()) return fail(path + ": " + entry.name + ": " + parsed.message());
  if (!parsed.value().is_object()) return fail(path + ": " + entry.name + " is not a JSON object");
  return parsed.take();
}

// What the layer list says of each layer, as Keras's summary would show it.
OrderedJson layer_list(const OrderedJson& config) {
  OrderedJson layers = OrderedJson::array();
  if (!config.contains("config") || !config["config"].is_object()) return layers;
  const OrderedJson& inner = config["config"];
  if (!inner.contains("layers") || !inner["layers"].is_array()) return layers;
  for (const OrderedJson& layer : inner["layers"]) {
    if (!layer.is_object()) continue;
    OrderedJson entry;
    entry["class"] = layer.value("class_name", OrderedJson());
    const OrderedJson& settings = layer.contains("config") && layer["config"].is_object() ? layer["config"] : OrderedJson();
    for (const char* key : {"name", "units", "filters", "activation"}) {
      if (!settings.is_object() || !settings.contains(key)) continue;
      const OrderedJson& value = settings[key];
      // An activation may be a serialized object; its class names it.
      entry[key] = value.is_object() && value.contains("class_name") ? value["class_name"] : value;
    }
    layers.push_back(std::move(entry));
  }
  return layers;
}

TensorEntry tensor_of(const std::string& path, const KerasArchive& archive, Hdf5Dataset dataset) {
  TensorEntry entry;
  entry.name = dataset.path;
  entry.dtype = dataset.dtype;
  entry.shape = dataset.shape;
  entry.numel = 1;
  for (std::uint64_t dim : entry.shape) entry.numel = dim != 0 && entry.numel > UINT64_MAX / dim ? UINT64_MAX : entry.numel * dim;
  entry.bytes = dataset.bytes;
  if (dataset.unreadable_reason) {
    entry.unreadable_reason = dataset.unreadable_reason;
  } else if (dataset.offset && archive.weights_offset) {
    entry.offset = *archive.weights_offset + *dataset.offset;
    entry.data = TensorBytes{path, *entry.offset, entry.bytes};
  } else {
    std::string elements = dataset.elements ? std::move(*dataset.elements)
                                            : archive.weights.substr(static_cast<std::size_t>(*dataset.offset),
                                                                     static_cast<std::size_t>(entry.bytes));
    entry.content_hash = xxh3_64(elements);
    entry.element_bytes = std::make_shared<const std::string>(std::move(elements));
  }
  return entry;
}

}  // namespace

Result<KerasArchive> read_keras_archive(const std::string& path) {
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(path);
  if (!opened.is_ok()) return opened.error();
  const PositionedFile& file = *opened.value();
  Result<std::vector<ZipEntry>> entries = read_zip_directory(file, path, ZipDirectoryRule::kLoader);
  if (!entries.is_ok()) return entries.error();
  KerasArchive archive;
  std::uint64_t budget = decompression_budget(file.size());
  for (const ZipEntry& entry : entries.value()) {
    if (entry.name == "config.json" || entry.name == "metadata.json") {
      Result<OrderedJson> parsed = json_member(file, path, entry, budget);
      if (!parsed.is_ok()) return parsed.error();
      (entry.name == "config.json" ? archive.config : archive.metadata) = parsed.take();
    } else if (entry.name == "model.weights.h5") {
      Result<Member> weights = read_member(file, path, entry, budget);
      if (!weights.is_ok()) return weights.error();
      archive.weights = std::move(weights.value().bytes);
      archive.weights_offset = weights.value().offset;
    }
  }
  if (archive.config.is_null()) return fail(path + ": not a Keras archive (no config.json)");
  return archive;
}

Result<TensorTable> read_keras_table(const std::string& path) {
  Result<KerasArchive> archive = read_keras_archive(path);
  if (!archive.is_ok()) return archive.error();
  TensorTable table;
  table.path = path;
  table.format = "keras";
  const OrderedJson& metadata = archive.value().metadata;
  table.metadata["keras_version"] =
      metadata.is_object() && metadata.contains("keras_version") ? Json(metadata["keras_version"]) : Json();
  table.metadata["class_name"] = Json(archive.value().config.value("class_name", OrderedJson()));
  table.metadata["layers"] = Json(layer_list(archive.value().config));
  if (archive.value().weights.empty()) return table;
  Result<std::vector<Hdf5Dataset>> datasets = read_hdf5_datasets(archive.value().weights, path + ": model.weights.h5");
  if (!datasets.is_ok()) return datasets.error();
  for (Hdf5Dataset& dataset : datasets.value()) {
    if (dataset.offset && (*dataset.offset > archive.value().weights.size() ||
                           dataset.bytes > archive.value().weights.size() - *dataset.offset)) {
      return fail(path + ": model.weights.h5: dataset " + dataset.path + " runs past the end of the file");
    }
    table.tensors.push_back(tensor_of(path, archive.value(), std::move(dataset)));
  }
  return table;
}

}  // namespace tarnwick
