#include "pt/pytorch_tensors.h"

#include <map>
#include <set>

#include "base/checked_math.h"
#include "base/text.h"
#include "pickle/value_json.h"
#include "pt/legacy_magic.h"
#include "pt/pickled_tensors.h"
#include "pt/strided_elements.h"
#include "pickle/torch_types.h"
#include "base/positioned_file.h"
#include "containers/zip_directory.h"

namespace tarnwick {

namespace {

using pickle::Kind;
using pickle::Machine;
using pickle::ValueId;

constexpr std::uint64_t kFirstLegacyRead = 1 << 20;
constexpr std::string_view kConstantsFolder = "constants/";
constexpr std::uint64_t kViewSlackBytes = 32'000'000;

// Where a storage's bytes lie in the file, when they lie there plainly.
struct StorageBytes {
  std::uint64_t start = 0;
  std::uint64_t length = 0;
};

// Row-major strides; dimensions of size 1 may carry any stride, as torch's own test allows.
// Called once the element count is known to fit 64 bits, so `expected` cannot wrap.
bool is_contiguous(const PickledTensor& tensor) {
  std::uint64_t expected = 1;
  for (std::size_t i = tensor.shape.size(); i-- > 0;) {
    if (tensor.shape[i] == 0) return true;
    if (tensor.shape[i] != 1 && static_cast<std::uint64_t>(tensor.stride[i]) != expected) return false;
    expected *= tensor.shape[i];
  }
  return true;
}

Result<std::uint64_t> product(const std::vector<std::uint64_t>& shape) {
  std::uint64_t numel = 1;
  for (std::uint64_t dim : shape) {
    std::optional<std::uint64_t> next = checked_multiply(numel, dim);
    if (!next) return fail("a tensor shape whose element count overflows");
    numel = *next;
  }
  return numel;
}

// Hashes a view's logical elements, while the budget lasts: the views of one file may together
// name as many element bytes as the memory rule lets a reader take (4x the file and 32 MB).
Status hash_view(const PositionedFile& file, const PickledTensor& pickled, const StorageBytes& bytes,
                 std::uint64_t first_element, std::uint64_t& budget, TensorEntry& entry) {
  if (entry.bytes > budget) return Status::ok();
  StridedView view{bytes.start, bytes.length, pickled.storage->element_size, first_element, pickled.shape,
                   pickled.stride};
  Result<std::optional<std::uint64_t>> hash = hash_strided_view(file, view, budget);
  if (!hash.is_ok()) return hash.error();
  budget -= entry.bytes;
  entry.content_hash = hash.value();
  return Status::ok();
}

// Fills the table from the pickled tensors and where each storage's bytes lie.
Status fill_table(const PositionedFile& file, TensorTable& table, const std::vector<PickledTensor>& tensors,
                  const std::map<std::string, StorageBytes>& storages) {
  std::uint64_t view_budget = checked_add(checked_multiply(file.size(), 4).value_or(UINT64_MAX), kViewSlackBytes)
                                  .value_or(UINT64_MAX);
  std::map<std::string, std::uint64_t> distinct;
  for (const PickledTensor& pickled : tensors) {
    TensorEntry entry;
    entry.name = pickled.name;
    entry.dtype = pickled.dtype;
    entry.shape = pickled.shape;
    Result<std::uint64_t> numel = product(pickled.shape);
    if (!numel.is_ok()) return fail(pickled.name + ": " + numel.message());
    entry.numel = numel.value();
    std::uint64_t element_size = dtype_element_size(pickled.dtype).value_or(0);
    if (pickled.storage && pickled.storage->element_size != 0) element_size = pickled.storage->element_size;
    std::optional<std::uint64_t> bytes = checked_multiply(entry.numel, element_size);
    if (!bytes) return fail(pickled.name + ": a tensor size that overflows");
    entry.bytes = *bytes;
    if (pickled.storage) {
      const PickledStorage& storage = *pickled.storage;
      entry.storage = storage.key;
      distinct.emplace(storage.key, storage.numel * storage.element_size);
      auto found = storages.find(storage.key);
      std::optional<std::uint64_t> elements = checked_add(storage.view_offset, pickled.storage_offset);
      std::optional<std::uint64_t> first =
          elements ? checked_multiply(*elements, storage.element_size) : std::nullopt;
      if (found != storages.end() && storage.element_size != 0 && first && *first <= found->second.length) {
        entry.offset = found->second.start + *first;
        if (!is_contiguous(pickled)) {
          entry.strided = StridedBytes{table.path, found->second.start, found->second.length,
                                       storage.element_size, *elements, pickled.shape, pickled.stride};
          Status hashed = hash_view(file, pickled, found->second, *elements, view_budget, entry);
          if (!hashed.is_ok()) return hashed;
        } else if (entry.bytes <= found->second.length - *first) {
          entry.data = TensorBytes{table.path, *entry.offset, entry.bytes};
        }
      }
    }
    table.tensors.push_back(std::move(entry));
  }
  std::uint64_t storage_bytes = 0;
  for (const auto& [key, bytes] : distinct) storage_bytes += bytes;
  table.storage_count = distinct.size();
  table.storage_bytes = storage_bytes;
  return Status::ok();
}

Result<std::string> read_stored_entry(const PositionedFile& file, const ZipEntry& entry) {
  if (entry.method != 0) return fail(entry.name + " is compressed");
  Result<std::uint64_t> start = zip_data_position(file, entry.local_header_offset);
  if (!start.is_ok()) return start.error();
  return file.read_at(start.value(), entry.uncompressed_size);
}

const ZipEntry* find_entry(const std::vector<ZipEntry>& entries, const std::string& name) {
  for (const ZipEntry& entry : entries) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

// The tensors one pickle of an archive describes (`data.pkl`, or a TorchScript archive's
// `constants.pkl`); the machine keeps the values of every run.
Result<std::vector<PickledTensor>> archive_tensors(const PositionedFile& file, Machine& machine,
                                                   const ZipEntry& entry) {
  Result<std::string> bytes = read_stored_entry(file, entry);
  if (!bytes.is_ok()) return bytes.error();
  Result<ValueId> root = machine.run(bytes.value());
  if (!root.is_ok()) return fail(entry.name + ": " + root.message());
  return collect_pickled_tensors(machine, root.value());
}

// TorchScript code refers to the N-th entry of `constants.pkl` as `CONSTANTS.cN`; its storages
// lie under `constants/`.
PickledTensor as_constant(PickledTensor tensor) {
  tensor.name = "CONSTANTS.c" + tensor.name;
  if (tensor.storage) tensor.storage->key = std::string(kConstantsFolder) + tensor.storage->key;
  return tensor;
}

Result<TensorTable> read_zip(const PositionedFile& file, TensorTable table, bool& cut_short) {
  // torch's loader wants the whole end record; a file cut inside it is refused as torch would.
  Result<std::vector<ZipEntry>> whole = read_zip_directory(file, table.path, ZipDirectoryRule::kLoader);
  if (!whole.is_ok()) {
    cut_short = true;
    return whole.error();
  }
  Result<std::vector<ZipEntry>> entries = read_zip_directory(file, table.path);
  if (!entries.is_ok()) return entries.error();
  const ZipEntry* pickle_entry = nullptr;
  for (const ZipEntry& entry : entries.value()) {
    if (entry.name == "data.pkl" || entry.name.ends_with("/data.pkl")) {
      pickle_entry = &entry;
      break;
    }
  }
  if (pickle_entry == nullptr) return fail(table.path + ": no data.pkl found inside the archive");
  std::string prefix = pickle_entry->name.substr(0, pickle_entry->name.size() - 8);

  std::map<std::string, StorageBytes> storages;
  for (const ZipEntry& entry : entries.value()) {
    if (!entry.name.starts_with(prefix)) continue;
    std::string_view rest = std::string_view(entry.name).substr(prefix.size());
    if ((rest.starts_with("data/") || rest.starts_with(kConstantsFolder)) && entry.method == 0) {
      Result<std::uint64_t> start = zip_data_position(file, entry.local_header_offset);
      if (!start.is_ok()) return start.error();
      std::string key(rest.starts_with("data/") ? rest.substr(5) : rest);
      storages.emplace(std::move(key), StorageBytes{start.value(), entry.uncompressed_size});
    } else if ((rest == "version" || rest == "byteorder") && entry.uncompressed_size <= 64) {
      Result<std::string> text = read_stored_entry(file, entry);
      if (text.is_ok()) table.metadata[std::string(rest)] = std::string(trim(decode_utf8_lossy(text.value())));
    }
  }

  Machine machine;
  machine.limit_memory_to_file(file.size());
  Result<std::vector<PickledTensor>> tensors = archive_tensors(file, machine, *pickle_entry);
  if (!tensors.is_ok()) return fail(table.path + ": " + tensors.message());
  if (const ZipEntry* constants = find_entry(entries.value(), prefix + "constants.pkl")) {
    Result<std::vector<PickledTensor>> more = archive_tensors(file, machine, *constants);
    if (!more.is_ok()) return fail(table.path + ": " + more.message());
    for (PickledTensor& tensor : more.value()) tensors.value().push_back(as_constant(std::move(tensor)));
  }
  Status filled = fill_table(file, table, tensors.value(), storages);
  if (!filled.is_ok()) return fail(table.path + ": " + filled.message());
  return table;
}

struct LegacyPickles {
  Machine machine;
  std::vector<ValueId> roots;  // magic, protocol version, sys info, object, storage keys
  std::uint64_t end = 0;       // where the raw storages begin
};

// The five pickles, read from a prefix that doubles while they run past its end; a pickle that
// fails for any other reason fails at once, so a broken file is not read whole.
Result<LegacyPickles> run_legacy_pickles(const PositionedFile& file, bool& cut_short) {
  std::uint64_t length = std::min(file.size(), kFirstLegacyRead);
  while (true) {
    Result<std::string> bytes = file.read_at(0, length);
    if (!bytes.is_ok()) return bytes.error();
    LegacyPickles pickles;
    pickles.machine.limit_memory_to_file(file.size());
    std::uint64_t at = 0;
    Status status;
    while (pickles.roots.size() < 5) {
      Result<ValueId> root = pickles.machine.run(bytes.value(), at);
      if (!root.is_ok()) {
        status = root.error();
        break;
      }
      pickles.roots.push_back(root.value());
      at = pickles.machine.end();
    }
    if (status.is_ok()) {
      pickles.end = at;
      return pickles;
    }
    if (length == file.size() || !pickles.machine.truncated()) {
      cut_short = pickles.machine.truncated();
      return fail("pickle " + std::to_string(pickles.roots.size() + 1) + " of 5: " + status.message());
    }
    length = std::min(file.size(), length * 2);
  }
}

Result<std::vector<std::string>> storage_key_list(const Machine& machine, ValueId root) {
  const pickle::Value& list = machine.at(root);
  if (list.kind != Kind::kList) return fail("the storage key list is not a list");
  std::vector<std::string> keys;
  for (ValueId item : list.items) {
    if (machine.at(item).kind != Kind::kStr) return fail("a storage key that is not a string");
    keys.push_back(machine.at(item).text);
  }
  return keys;
}

// After the pickles: for each listed key, an int64 element count, then the elements.
Result<std::map<std::string, StorageBytes>> legacy_storages(const PositionedFile& file, std::uint64_t at,
                                                            const std::vector<std::string>& keys,
                                                            const std::vector<PickledTensor>& tensors,
                                                            bool& cut_short) {
  std::map<std::string, std::uint64_t> element_sizes;
  for (const PickledTensor& tensor : tensors) {
    if (tensor.storage) element_sizes.emplace(tensor.storage->key, tensor.storage->element_size);
  }
  std::map<std::string, StorageBytes> storages;
  for (const std::string& key : keys) {
    auto size = element_sizes.find(key);
    if (size == element_sizes.end() || size->second == 0) return fail("storage " + key + " has no known element size");
    if (file.size() - at < 8) {
      cut_short = true;
      return fail("storage " + key + " runs past the end of the file");
    }
    Result<std::string> count_bytes = file.read_at(at, 8);
    if (!count_bytes.is_ok()) return fail("storage " + key + ": " + count_bytes.message());
    std::uint64_t count = 0;
    for (int i = 7; i >= 0; --i) count = (count << 8) | static_cast<std::uint8_t>(count_bytes.value()[i]);
    std::optional<std::uint64_t> length = checked_multiply(count, size->second);
    if (!length || *length > file.size() - at - 8) {
      cut_short = true;
      return fail("storage " + key + " runs past the end of the file");
    }
    storages[key] = StorageBytes{at + 8, *length};
    at += 8 + *length;
  }
  return storages;
}

Result<TensorTable> read_legacy(const PositionedFile& file, TensorTable table, bool& cut_short) {
  Result<LegacyPickles> pickles = run_legacy_pickles(file, cut_short);
  if (!pickles.is_ok()) return fail(table.path + ": " + pickles.message());
  const Machine& machine = pickles.value().machine;
  const std::vector<ValueId>& roots = pickles.value().roots;
  if (!is_legacy_magic(machine.at(roots[0]))) return fail(table.path + ": not a torch.save file (bad magic number)");
  const pickle::Value& protocol = machine.at(roots[1]);
  if (protocol.kind != Kind::kInt || protocol.integer != kLegacyProtocolVersion) {
    return fail(table.path + ": unsupported legacy protocol version");
  }
  table.metadata["sys_info"] = pickle::value_json(machine, roots[2]);
  Result<std::vector<PickledTensor>> tensors = collect_pickled_tensors(machine, roots[3]);
  if (!tensors.is_ok()) return fail(table.path + ": " + tensors.message());
  Result<std::vector<std::string>> keys = storage_key_list(machine, roots[4]);
  if (!keys.is_ok()) return fail(table.path + ": " + keys.message());
  Result<std::map<std::string, StorageBytes>> storages =
      legacy_storages(file, pickles.value().end, keys.value(), tensors.value(), cut_short);
  if (!storages.is_ok()) return fail(table.path + ": " + storages.message());
  Status filled = fill_table(file, table, tensors.value(), storages.value());
  if (!filled.is_ok()) return fail(table.path + ": " + filled.message());
  return table;
}

}  // namespace

Result<TensorTable> read_pytorch_tensor_table(const std::string& path) {
  bool cut_short = false;
  return read_pytorch_tensor_table(path, cut_short);
}

Result<TensorTable> read_pytorch_tensor_table(const std::string& path, bool& cut_short) {
  cut_short = false;
  Result<std::unique_ptr<PositionedFile>> opened = PositionedFile::open(path);
  if (!opened.is_ok()) return opened.error();
  const PositionedFile& file = *opened.value();
  Result<std::string> head = file.read_prefix(4);
  if (!head.is_ok()) return fail("read " + path + ": " + head.message());
  TensorTable table;
  table.path = path;
  if (head.value() == "PK\x03\x04") {
    table.format = "pytorch-zip";
    return read_zip(file, std::move(table), cut_short);
  }
  if (!head.value().empty() && head.value()[0] == '\x80') {
    table.format = "pytorch-legacy";
    return read_legacy(file, std::move(table), cut_short);
  }
  return fail(path + " does not look like a PyTorch file (no zip `PK` or pickle marker)");
}

}  // namespace tarnwick
