// Writes pickle bytes opcode by opcode for the tests: nothing is ever pickled or unpickled by
// Python here, the bytes are spelled out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarnwick::testing {

class PickleBuilder {
 public:
  PickleBuilder& op(std::uint8_t code) {
    bytes_.push_back(static_cast<char>(code));
    return *this;
  }
  PickleBuilder& raw(const std::string& bytes) {
    bytes_ += bytes;
    return *this;
  }
  PickleBuilder& le(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) bytes_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return *this;
  }
  PickleBuilder& proto(int version) { return op(0x80).le(version, 1); }
  PickleBuilder& frame(std::uint64_t length) { return op(0x95).le(length, 8); }
  PickleBuilder& stop() { return op('.'); }
  PickleBuilder& mark() { return op('('); }
  PickleBuilder& none() { return op('N'); }

  // The smallest binary integer opcode that holds the value, as the pickler chooses.
  PickleBuilder& integer(std::int64_t value) {
    if (value >= 0 && value < 256) return op('K').le(value, 1);
    if (value >= 0 && value < 65536) return op('M').le(value, 2);
    if (value >= INT32_MIN && value <= INT32_MAX) return op('J').le(static_cast<std::uint32_t>(value), 4);
    return op(0x8a).le(8, 1).le(static_cast<std::uint64_t>(value), 8);
  }
  PickleBuilder& line(std::uint8_t code, const std::string& text) { return op(code).raw(text + "\n"); }
  PickleBuilder& short_unicode(const std::string& text) { return op(0x8c).le(text.size(), 1).raw(text); }
  PickleBuilder& unicode(const std::string& text) { return op('X').le(text.size(), 4).raw(text); }
  PickleBuilder& global(const std::string& module, const std::string& name) {
    return op('c').raw(module + "\n" + name + "\n");
  }
  PickleBuilder& stack_global(const std::string& module, const std::string& name) {
    return short_unicode(module).short_unicode(name).op(0x93);
  }
  PickleBuilder& binput(std::uint8_t index) { return op('q').le(index, 1); }
  PickleBuilder& binget(std::uint8_t index) { return op('h').le(index, 1); }

  std::string str() const { return bytes_; }

 private:
  std::string bytes_;
};

// Torch's spelling of one tensor inside a state dict (protocol 2, GLOBAL imports).
struct StorageId {
  std::string storage_class = "FloatStorage";
  std::string key = "0";
  std::uint64_t numel = 0;
  std::vector<std::uint64_t> view = {};  // legacy: {offset, size} of a view of the root storage
  bool legacy = false;
};

inline void tensor(PickleBuilder& p, const StorageId& storage, std::uint64_t offset,
                   const std::vector<std::uint64_t>& shape, const std::vector<std::uint64_t>& stride) {
  p.global("torch._utils", "_rebuild_tensor_v2").mark();
  p.mark().short_unicode("storage").global("torch", storage.storage_class).short_unicode(storage.key);
  p.short_unicode("cpu").integer(static_cast<std::int64_t>(storage.numel));
  if (storage.legacy) {
    if (storage.view.empty()) {
      p.none();
    } else {
      p.short_unicode(storage.key + "_view").integer(storage.view[0]).integer(storage.view[1]).op(0x87);
    }
  }
  p.op('t').op('Q').integer(static_cast<std::int64_t>(offset));
  p.mark();
  for (std::uint64_t dim : shape) p.integer(static_cast<std::int64_t>(dim));
  p.op('t').mark();
  for (std::uint64_t step : stride) p.integer(static_cast<std::int64_t>(step));
  p.op('t').op(0x89).global("collections", "OrderedDict").op(')').op('R').op('t').op('R');
}

// Opens an OrderedDict and the MARK of its SETITEMS; close with `end_state_dict`.
inline void begin_state_dict(PickleBuilder& p) { p.global("collections", "OrderedDict").op(')').op('R').mark(); }

// SETITEMS, then the `_metadata` attribute torch sets through BUILD.
inline void end_state_dict(PickleBuilder& p) {
  p.op('u').op('}').short_unicode("_metadata").global("collections", "OrderedDict").op(')').op('R');
  p.short_unicode("").op('}').short_unicode("version").integer(1).op('s').op('s').op('s').op('b');
}

}  // namespace tarnwick::testing
