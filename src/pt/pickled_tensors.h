// The tensors a torch pickle describes, found by walking its inert values: key paths, rebuild
// calls and the persistent ids of their storages. No file offsets here: the container adds them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/status.h"
#include "pickle/machine.h"

namespace tarnwick {

struct PickledStorage {
  std::string key;           // the storage that holds the bytes (legacy: the root of a view)
  std::string class_name;    // `FloatStorage`, ...
  std::string dtype;         // canonical, or "unknown(<class>)"
  std::uint64_t element_size = 0;  // 0 when the class is unknown
  std::uint64_t numel = 0;         // elements of the whole storage
  std::uint64_t view_offset = 0;   // legacy views: elements into the root storage
};

struct PickledTensor {
  std::string name;
  std::string dtype;
  std::optional<PickledStorage> storage;  // absent for tensors rebuilt without one (meta, ...)
  std::uint64_t storage_offset = 0;       // in elements
  std::vector<std::uint64_t> shape;
  std::vector<std::int64_t> stride;
};

// Tensors in pickle order, named by key paths joined with "."; `_metadata` and other BUILD
// state is not walked. The walk visits at most a few times the machine's value count.
Result<std::vector<PickledTensor>> collect_pickled_tensors(const pickle::Machine& machine, pickle::ValueId root);

// A persistent id `('storage', class, key, location, numel[, view])` read as a storage.
Result<PickledStorage> read_storage_id(const pickle::Machine& machine, pickle::ValueId pid);

}  // namespace tarnwick
