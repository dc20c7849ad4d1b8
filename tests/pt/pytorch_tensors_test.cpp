#include "pt/pytorch_tensors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "pickle/pickle_builder.h"
#include "tables/content_hash.h"
#include "test_support.h"
#include "zip_builder.h"

namespace tarnwick {
namespace {

using testing::build_zip;
using testing::PickleBuilder;
using testing::StorageId;
using testing::TempDir;

// One line per tensor: name dtype [shape] numel bytes @offset storage data.
std::string describe(const TensorTable& table) {
  std::string out = table.format + " storages=" + std::to_string(table.storage_count.value_or(0)) + "/" +
                    std::to_string(table.storage_bytes.value_or(0)) + "\n";
  for (const TensorEntry& t : table.tensors) {
    out += t.name + " " + t.dtype + " [";
    for (std::size_t i = 0; i < t.shape.size(); ++i) out += (i ? "," : "") + std::to_string(t.shape[i]);
    out += "] " + std::to_string(t.numel) + " " + std::to_string(t.bytes);
    out += " @" + (t.offset ? std::to_string(*t.offset) : "null") + " " + t.storage.value_or("-");
    out += t.data ? " data=" + std::to_string(t.data->offset) + "+" + std::to_string(t.data->length) : " no-data";
    out += "\n";
  }
  return out;
}

std::string read_table(const TempDir& dir, const std::string& bytes) {
  Result<TensorTable> table = read_pytorch_tensor_table(dir.write("m.pt", bytes));
  return table.is_ok() ? describe(table.value()) : "error: " + table.message();
}

std::string state_dict_pickle(const std::vector<std::pair<std::string, std::function<void(PickleBuilder&)>>>& items) {
  PickleBuilder p;
  p.proto(2);
  testing::begin_state_dict(p);
  for (const auto& [name, write] : items) {
    p.short_unicode(name);
    write(p);
  }
  testing::end_state_dict(p);
  return p.stop().str();
}

auto tensor_of(StorageId storage, std::uint64_t offset, std::vector<std::uint64_t> shape,
               std::vector<std::uint64_t> stride) {
  return [=](PickleBuilder& p) { testing::tensor(p, storage, offset, shape, stride); };
}

TEST(PytorchTensorTable, ZipStateDictWithTiedWeightsAndViews) {
  StorageId floats{"FloatStorage", "0", 6}, halves{"HalfStorage", "1", 4};
  std::string pickle = state_dict_pickle({
      {"enc.weight", tensor_of(floats, 0, {2, 3}, {3, 1})},
      {"dec.weight", tensor_of(floats, 0, {2, 3}, {3, 1})},
      {"enc.weight_t", tensor_of(floats, 0, {3, 2}, {1, 3})},
      {"enc.row", tensor_of(floats, 3, {1, 3}, {99, 1})},
      {"half", tensor_of(halves, 0, {4}, {1})},
      {"empty", tensor_of(halves, 4, {0, 5}, {5, 1})},
  });
  std::string float_bytes(24, 'F'), half_bytes(8, 'H');
  std::string zip = build_zip({{"arch/data.pkl", pickle},
                               {"arch/data/0", float_bytes},
                               {"arch/data/1", half_bytes},
                               {"arch/version", "3\n"}});
  std::uint64_t f = zip.find(float_bytes), h = zip.find(half_bytes);
  auto at = [](std::uint64_t offset) { return std::to_string(offset); };
  TempDir dir;
  EXPECT_EQ(read_table(dir, zip),
            "pytorch-zip storages=2/32\n"
            "enc.weight float32 [2,3] 6 24 @" + at(f) + " 0 data=" + at(f) + "+24\n"
            "dec.weight float32 [2,3] 6 24 @" + at(f) + " 0 data=" + at(f) + "+24\n"
            "enc.weight_t float32 [3,2] 6 24 @" + at(f) + " 0 no-data\n"
            "enc.row float32 [1,3] 3 12 @" + at(f + 12) + " 0 data=" + at(f + 12) + "+12\n"
            "half float16 [4] 4 8 @" + at(h) + " 1 data=" + at(h) + "+8\n"
            "empty float16 [0,5] 0 0 @" + at(h + 8) + " 1 data=" + at(h + 8) + "+0\n");
  Result<TensorTable> table = read_pytorch_tensor_table(dir.write("m.pt", zip));
  ASSERT_TRUE(table.is_ok());
  EXPECT_EQ(table.value().metadata.dump(), R"({"version":"3"})");
}

TEST(PytorchTensorTable, EveryStorageClassNamesItsDtype) {
  struct Row {
    const char* storage_class;
    const char* dtype;
    std::uint64_t element_size;
  };
  const std::vector<Row> rows = {
      {"DoubleStorage", "float64", 8},   {"FloatStorage", "float32", 4},       {"HalfStorage", "float16", 2},
      {"BFloat16Storage", "bfloat16", 2}, {"LongStorage", "int64", 8},         {"IntStorage", "int32", 4},
      {"ShortStorage", "int16", 2},      {"CharStorage", "int8", 1},           {"ByteStorage", "uint8", 1},
      {"BoolStorage", "bool", 1},        {"ComplexFloatStorage", "complex64", 8}, {"ComplexDoubleStorage", "complex128", 16},
      {"QInt8Storage", "qint8", 1},      {"QUInt8Storage", "quint8", 1},       {"QInt32Storage", "qint32", 4},
      {"QUInt4x2Storage", "quint4x2", 1}, {"QUInt2x4Storage", "quint2x4", 1},
      {"Float8_e4m3fnStorage", "float8_e4m3fn", 1}, {"Float8_e5m2Storage", "float8_e5m2", 1},
      {"Float8_e4m3fnuzStorage", "float8_e4m3fnuz", 1}, {"Float8_e5m2fnuzStorage", "float8_e5m2fnuz", 1},
      {"Float8_e8m0fnuStorage", "float8_e8m0", 1}, {"UInt16Storage", "uint16", 2}, {"UInt32Storage", "uint32", 4},
      {"UInt64Storage", "uint64", 8},    {"Float4_e2m1fn_x2Storage", "float4_e2m1", 1},
  };
  TempDir dir;
  for (const Row& row : rows) {
    std::string data(2 * row.element_size, 'x');
    std::string zip = build_zip({{"a/data.pkl", state_dict_pickle({{"t", tensor_of({row.storage_class, "0", 2}, 0, {2}, {1})}})},
                                 {"a/data/0", data}});
    std::uint64_t at = zip.find(data);
    EXPECT_EQ(read_table(dir, zip), "pytorch-zip storages=1/" + std::to_string(2 * row.element_size) + "\nt " +
                                        row.dtype + " [2] 2 " + std::to_string(2 * row.element_size) + " @" +
                                        std::to_string(at) + " 0 data=" + std::to_string(at) + "+" +
                                        std::to_string(2 * row.element_size) + "\n")
        << row.storage_class;
  }
  std::string zip = build_zip({{"a/data.pkl", state_dict_pickle({{"t", tensor_of({"FooStorage", "0", 2}, 0, {2}, {1})}})},
                               {"a/data/0", "xx"}});
  EXPECT_EQ(read_table(dir, zip), "pytorch-zip storages=1/0\nt unknown(FooStorage) [2] 2 0 @null 0 no-data\n");
}

TEST(PytorchTensorTable, NestedTrainingCheckpointNamesKeyPaths) {
  StorageId w{"FloatStorage", "0", 2}, m{"FloatStorage", "1", 2}, v{"FloatStorage", "2", 2};
  PickleBuilder p;
  p.proto(2).op('}').mark();
  p.short_unicode("model");
  testing::begin_state_dict(p);
  p.short_unicode("layer.weight");
  testing::tensor(p, w, 0, {2}, {1});
  testing::end_state_dict(p);
  p.short_unicode("optimizer").op('}').mark();
  p.short_unicode("state").op('}').integer(0).op('}').mark().short_unicode("step").integer(3);
  p.short_unicode("exp_avg");
  testing::tensor(p, m, 0, {2}, {1});
  p.short_unicode("exp_avg_sq");
  testing::tensor(p, v, 0, {2}, {1});
  p.op('u').op('s');
  p.short_unicode("param_groups").op(']').op('}').mark().short_unicode("lr").op('G').raw(std::string(8, '\0'));
  p.short_unicode("params").op(']').integer(0).op('a').op('u').op('a');
  p.op('u');
  p.short_unicode("epoch").integer(5).short_unicode("history").mark().integer(1).integer(2).op('l');
  p.op('u').stop();
  std::string zip = build_zip({{"ckpt/data.pkl", p.str()},
                               {"ckpt/data/0", "wwwwwwww"},
                               {"ckpt/data/1", "mmmmmmmm"},
                               {"ckpt/data/2", "vvvvvvvv"}});
  TempDir dir;
  std::string out = read_table(dir, zip);
  auto line = [&](const char* name, const char* key, const char* bytes) {
    std::string at = std::to_string(zip.find(bytes));
    return std::string(name) + " float32 [2] 2 8 @" + at + " " + key + " data=" + at + "+8\n";
  };
  EXPECT_EQ(out, "pytorch-zip storages=3/24\n" + line("model.layer.weight", "0", "wwwwwwww") +
                     line("optimizer.state.0.exp_avg", "1", "mmmmmmmm") +
                     line("optimizer.state.0.exp_avg_sq", "2", "vvvvvvvv"));
}

std::string legacy_file(std::string object_pickle, const std::string& storage_data) {
  std::string magic = PickleBuilder().proto(2).op(0x8a).le(10, 1).raw("\x6c\xfc\x9c\x46\xf9\x20\x6a\xa8\x50\x19").stop().str();
  std::string protocol = PickleBuilder().proto(2).integer(1001).stop().str();
  PickleBuilder sys;
  sys.proto(2).op('}').mark().short_unicode("protocol_version").integer(1001).short_unicode("little_endian").op(0x88);
  sys.short_unicode("type_sizes").op('}').mark().short_unicode("short").integer(2).short_unicode("int").integer(4);
  sys.op('u').op('u').stop();
  std::string keys = PickleBuilder().proto(2).op(']').mark().short_unicode("k1").short_unicode("k0").op('e').stop().str();
  return magic + protocol + sys.str() + object_pickle + keys + storage_data;
}

TEST(PytorchTensorTable, LegacyFivePicklesThenStoragesInKeyOrder) {
  StorageId k0{"FloatStorage", "k0", 6, {}, true}, k1{"HalfStorage", "k1", 2, {}, true};
  StorageId view{"FloatStorage", "k0", 6, {3, 3}, true};
  std::string object = state_dict_pickle({
      {"a.weight", tensor_of(k0, 0, {2, 3}, {3, 1})},
      {"a.bias", tensor_of(k1, 0, {2}, {1})},
      {"a.tail", tensor_of(view, 1, {2}, {1})},
  });
  std::string data = PickleBuilder().le(2, 8).raw("hhhh").le(6, 8).raw(std::string(24, 'f')).str();
  std::string file = legacy_file(object, data);
  std::uint64_t h = file.find("hhhh"), f = file.find(std::string(24, 'f'));
  TempDir dir;
  EXPECT_EQ(read_table(dir, file),
            "pytorch-legacy storages=2/28\n"
            "a.weight float32 [2,3] 6 24 @" + std::to_string(f) + " k0 data=" + std::to_string(f) + "+24\n"
            "a.bias float16 [2] 2 4 @" + std::to_string(h) + " k1 data=" + std::to_string(h) + "+4\n"
            "a.tail float32 [2] 2 8 @" + std::to_string(f + 16) + " k0 data=" + std::to_string(f + 16) + "+8\n");
  Result<TensorTable> table = read_pytorch_tensor_table(dir.write("m.pt", file));
  ASSERT_TRUE(table.is_ok());
  EXPECT_EQ(table.value().metadata.dump(),
            R"({"sys_info":{"little_endian":true,"protocol_version":1001,"type_sizes":{"int":4,"short":2}}})");
}

TEST(PytorchTensorTable, BrokenCheckpointsAreErrors) {
  StorageId k0{"FloatStorage", "k0", 6, {}, true}, k1{"HalfStorage", "k1", 2, {}, true};
  std::string object = state_dict_pickle({{"w", tensor_of(k0, 0, {6}, {1})}, {"b", tensor_of(k1, 0, {2}, {1})}});
  std::string good_data = PickleBuilder().le(2, 8).raw("hhhh").le(6, 8).raw(std::string(24, 'f')).str();
  std::string legacy = legacy_file(object, good_data);
  struct Case {
    const char* name;
    std::string bytes;
    std::string expected_end;
  };
  const std::vector<Case> cases = {
      {"zip without data.pkl", build_zip({{"a/data/0", "x"}}), "no data.pkl found inside the archive"},
      {"truncated legacy storage", legacy.substr(0, legacy.size() - 1), "storage k0 runs past the end of the file"},
      {"legacy with a bad magic", "\x80\x02K\x01." + legacy.substr(legacy.find("\x80\x02M\xe9\x03")),
       "not a torch.save file (bad magic number)"},
      {"truncated legacy pickle", legacy.substr(0, 60), "ends inside"},
      {"tensor without a storage id", build_zip({{"a/data.pkl", PickleBuilder().proto(2).global("torch._utils", "_rebuild_tensor_v2").mark().integer(1).integer(0).op(')').op(')').op('t').op('R').stop().str()}}),
       "the pickled object: _rebuild_tensor_v2 without a persistent storage id"},
      {"not a checkpoint", "hello", "does not look like a PyTorch file (no zip `PK` or pickle marker)"},
  };
  TempDir dir;
  for (const Case& c : cases) {
    std::string out = read_table(dir, c.bytes);
    EXPECT_TRUE(out.starts_with("error: ") && out.find(c.expected_end) != std::string::npos) << c.name << ": " << out;
  }
}

std::uint64_t bytes_read_so_far() {
  std::ifstream io("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// A broken legacy pickle in front of 16 MiB of storage: only the first MiB is read, once.
TEST(PytorchTensorTable, BrokenLegacyPickleIsNotReadToTheEndOfTheFile) {
  std::string broken = PickleBuilder().proto(2).op('}').op(0xf0).stop().str();
  TempDir dir;
  std::string path = dir.write("big.pth", legacy_file(broken, std::string(16u << 20, '\0')));
  std::uint64_t before = bytes_read_so_far();
  Result<TensorTable> table = read_pytorch_tensor_table(path);
  std::uint64_t read = bytes_read_so_far() - before;
  ASSERT_FALSE(table.is_ok());
  EXPECT_EQ(table.message(), path + ": pickle 4 of 5: unknown opcode 0xf0 at offset 98");
  EXPECT_LE(read, (1u << 20) + 4096);
}

TEST(PytorchTensorTable, SharedNestingIsRefusedNotWalkedExponentially) {
  PickleBuilder deep;
  deep.proto(2).op(')');
  for (int i = 0; i < 5000; ++i) deep.op('2').op(0x86);
  // Three levels of lists holding the level below 100 times: 10^6 paths over 300 values.
  PickleBuilder wide;
  wide.proto(2).op(']').binput(0);
  for (int level = 1; level <= 3; ++level) {
    wide.mark();
    for (int i = 0; i < 100; ++i) wide.binget(static_cast<std::uint8_t>(level - 1));
    wide.op('l').binput(static_cast<std::uint8_t>(level));
  }
  TempDir dir;
  EXPECT_EQ(read_table(dir, build_zip({{"a/data.pkl", deep.stop().str()}})),
            "error: " + dir.path().string() + "/m.pt: the pickle nests values more than 512 deep");
  EXPECT_EQ(read_table(dir, build_zip({{"a/data.pkl", wide.stop().str()}})),
            "error: " + dir.path().string() + "/m.pt: the pickle shares values too often to name its tensors");
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// A view's hash is the XXH3 of its elements in row-major order; a view that reaches past its
// storage, or names more element bytes than the file may cost to hash, gets none.
TEST(PytorchTensorTable, StridedViewsHashTheirElements) {
  StorageId bytes{"ByteStorage", "0", 6};
  std::string pickle = state_dict_pickle({
      {"transposed", tensor_of(bytes, 0, {3, 2}, {1, 3})},
      {"rows_apart", tensor_of(bytes, 1, {2, 2}, {3, 1})},
      {"expanded", tensor_of(bytes, 5, {4, 3}, {0, 0})},
      {"past_the_end", tensor_of(bytes, 0, {3, 2}, {1, 4})},
      {"too_many", tensor_of(bytes, 0, {1u << 20, 1u << 20}, {0, 0})},
  });
  std::string zip = build_zip({{"arch/data.pkl", pickle}, {"arch/data/0", "abcdef"}});
  TempDir dir;
  Result<TensorTable> table = read_pytorch_tensor_table(dir.write("m.pt", zip));
  ASSERT_TRUE(table.is_ok()) << table.message();
  std::vector<std::optional<std::uint64_t>> expected{xxh3_64("adbecf"), xxh3_64("bcef"), xxh3_64("ffffffffffff"),
                                                     std::nullopt, std::nullopt};
  ASSERT_EQ(table.value().tensors.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const TensorEntry& tensor = table.value().tensors[i];
    EXPECT_FALSE(tensor.data) << tensor.name;
    EXPECT_EQ(tensor.content_hash, expected[i]) << tensor.name;
  }
}

}  // namespace
}  // namespace tarnwick
