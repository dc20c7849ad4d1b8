#include <gtest/gtest.h>

#include "base/format.h"
#include "pt/pytorch_summary.h"
#include "test_support.h"
#include "zip_builder.h"

namespace tarnwick {
namespace {

using testing::build_zip;
using testing::le;
using testing::pickle_with_names;
using testing::TempDir;
using testing::ZipEntry;
using testing::ZipOptions;

std::vector<ZipEntry> checkpoint_entries() {
  return {
      {"archive/data.pkl", pickle_with_names({"layer1.0.conv1.weight", "fc.bias"})},
      {"archive/data/0", std::string(12, '\x01')},
      {"archive/data/1", ""},
      {"archive/data/0.bak", "xx"},
      {"archive/data/", ""},
      {"archive/version", "3\n"},
  };
}

Result<PyTorchSummary> read_bytes(const TempDir& dir, const std::string& bytes, const std::string& name = "m.pt") {
  return read_pytorch_summary(dir.write(name, bytes));
}

TEST(PytorchReader, ZipArchiveEntriesAndFingerprints) {
  TempDir dir;
  std::vector<ZipEntry> entries = checkpoint_entries();
  Result<PyTorchSummary> read = read_bytes(dir, build_zip(entries));
  ASSERT_TRUE(read.is_ok()) << read.message();
  const PyTorchSummary& s = read.value();
  EXPECT_TRUE(s.is_zip);
  EXPECT_EQ(s.tensor_count, 2u);
  EXPECT_EQ(s.total_parameter_bytes, 12u);
  EXPECT_EQ(s.estimated_parameter_count, 3u);
  EXPECT_EQ(s.dominant_dtype, "float32");
  EXPECT_EQ(s.torch_version, "3");
  EXPECT_EQ(s.param_names, (std::vector<std::string>{"layer1.0.conv1.weight", "fc.bias"}));

  Fnv1a64 learned;
  learned.update(std::string(12, '\x01') + le(12, 8) + le(0, 8));
  EXPECT_EQ(s.learned_state_fingerprint, learned.digest());
  Fnv1a64 structure;
  for (const ZipEntry& entry : entries) structure.update(entry.name + le(entry.data.size(), 8));
  Fnv1a64 file;
  file.update(entries[0].data + le(structure.digest(), 8));
  EXPECT_EQ(s.file_fingerprint, file.digest());

  // The same archive in ZIP64 form, with a comment, reads the same.
  for (ZipOptions options : {ZipOptions{true, false, ""}, ZipOptions{false, true, "a comment"},
                             ZipOptions{true, true, std::string(65535, 'c')}}) {
    Result<PyTorchSummary> zip64 = read_bytes(dir, build_zip(entries, options), "z64.pt");
    ASSERT_TRUE(zip64.is_ok()) << zip64.message();
    EXPECT_EQ(zip64.value().tensor_count, 2u);
    EXPECT_EQ(zip64.value().learned_state_fingerprint, s.learned_state_fingerprint);
    EXPECT_EQ(zip64.value().file_fingerprint, s.file_fingerprint);
  }
}

TEST(PytorchReader, StorageSamplingIsCappedAtOneMebibyte) {
  TempDir dir;
  std::string big(3 * 1048576, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  Result<PyTorchSummary> read =
      read_bytes(dir, build_zip({{"m/data.pkl", pickle_with_names({"w.weight"}, "HalfStorage")}, {"m/data/0", big}}));
  ASSERT_TRUE(read.is_ok()) << read.message();
  Fnv1a64 learned;
  learned.update(std::string_view(big).substr(0, 1048576));
  learned.update(le(3145728, 8));
  EXPECT_EQ(read.value().learned_state_fingerprint, learned.digest());
  EXPECT_EQ(read.value().estimated_parameter_count, 3145728u / 2);

  std::string changed_late = big;
  changed_late[2000000] ^= 1;  // beyond the sample
  EXPECT_EQ(read_bytes(dir, build_zip({{"m/data.pkl", "\x80x"}, {"m/data/0", changed_late}}))
                .value()
                .learned_state_fingerprint,
            read_bytes(dir, build_zip({{"m/data.pkl", "\x80x"}, {"m/data/0", big}})).value().learned_state_fingerprint);
}

TEST(PytorchReader, LegacyPickleAndFailures) {
  TempDir dir;
  // A stream that ends inside its pickles is cut short: torch refuses it, and so does the reader.
  Result<PyTorchSummary> single = read_bytes(dir, "\x80", "one.pth");
  ASSERT_FALSE(single.is_ok());
  EXPECT_EQ(single.message(),
            dir.path().string() + "/one.pth: pickle 1 of 5: pickle ends inside the argument of PROTO at offset 0");

  std::string valid = build_zip(checkpoint_entries());
  std::string dir_path = dir.path().string();
  struct Case {
    std::string bytes;
    std::string error;
  };
  const Case cases[] = {
      {"", dir_path + "/bad.pt does not look like a PyTorch file (no zip `PK` or pickle marker)"},
      {"PK\x03", dir_path + "/bad.pt does not look like a PyTorch file (no zip `PK` or pickle marker)"},
      {"PK\x03\x04 no directory", dir_path + "/bad.pt: no zip EOCD record"},
      {build_zip({{"archive/data/0", "abc"}}), dir_path + "/bad.pt: no data.pkl found inside the archive"},
      {build_zip({{"archive/data.pkl", ""}}), dir_path + "/bad.pt: no data.pkl found inside the archive"},
      // An EOCD signature too close to the end to hold its fields is passed over.
      {"PK\x03\x04" + std::string(40, '\0') + "PK\x05\x06" + std::string(2, '\0'),
       dir_path + "/bad.pt: no zip EOCD record"},
      // A directory offset pointing past the end of the file.
      {"PK\x03\x04" + std::string("PK\x05\x06", 4) + le(0, 8) + le(46, 4) + le(1000, 4) + le(0, 2),
       "read: failed to fill whole buffer"},
  };
  for (const Case& c : cases) {
    Result<PyTorchSummary> read = read_bytes(dir, c.bytes, "bad.pt");
    ASSERT_FALSE(read.is_ok());
    EXPECT_EQ(read.message(), c.error);
  }
  EXPECT_EQ(read_pytorch_summary(dir_path + "/missing.pt").message(),
            "open " + dir_path + "/missing.pt: No such file or directory");

  // A local header offset that points at the wrong bytes.
  std::string broken = valid;
  broken.replace(0, 4, "XXXX");
  broken.replace(0, 4, "PK\x03\x04");
  std::size_t second_header = broken.find("PK\x03\x04", 4);
  broken.replace(second_header, 4, "PK\x09\x09");
  EXPECT_EQ(read_bytes(dir, broken, "bad.pt").message(), "bad local header");
}

TEST(PytorchReader, CompressedEntriesAreNeverReadAsStored) {
  TempDir dir;
  std::string pickle = pickle_with_names({"fc.weight"});
  ZipEntry compressed_pickle{"archive/data.pkl", "\x78\x9c compressed", 8, 0x12345678, pickle.size()};
  Result<PyTorchSummary> refused = read_bytes(dir, build_zip({compressed_pickle, {"archive/data/0", "abcd"}}), "z.pt");
  ASSERT_FALSE(refused.is_ok());
  EXPECT_EQ(refused.message(), dir.path().string() +
                                   "/z.pt: the pickle entry `archive/data.pkl` is compressed (zip method 8); only "
                                   "stored entries can be read");

  struct Case {
    std::uint32_t crc;
    std::string compressed_bytes;
  };
  const Case cases[] = {{0xDEADBEEF, "zz"}, {0xDEADBEEF, "other bytes"}, {0x01020304, "zz"}};
  std::vector<std::uint64_t> fingerprints;
  for (const Case& c : cases) {
    ZipEntry blob{"archive/data/0", c.compressed_bytes, 8, c.crc, 4096};
    Result<PyTorchSummary> read = read_bytes(dir, build_zip({{"archive/data.pkl", pickle}, blob}));
    ASSERT_TRUE(read.is_ok()) << read.message();
    EXPECT_EQ(read.value().tensor_count, 1u);
    EXPECT_EQ(read.value().total_parameter_bytes, 4096u) << "counted by the uncompressed size";
    Fnv1a64 learned;
    learned.update(le(c.crc, 4) + le(4096, 8));
    EXPECT_EQ(read.value().learned_state_fingerprint, learned.digest()) << "the CRC, not the compressed bytes";
    fingerprints.push_back(read.value().learned_state_fingerprint);
  }
  EXPECT_EQ(fingerprints[0], fingerprints[1]);
  EXPECT_NE(fingerprints[0], fingerprints[2]);
}

TEST(PytorchReader, NameIsTheLastComponentWhateverItsBytes) {
  TempDir dir;
  Result<PyTorchSummary> read = read_bytes(dir, build_zip(checkpoint_entries()), "m\xFF\xFE.pt");
  ASSERT_TRUE(read.is_ok()) << read.message();
  EXPECT_EQ(read.value().path, "m\xFF\xFE.pt");
  testing::CommandRun json = testing::run_command({"pytorch", "--json", dir.path().string() + "/m\xFF\xFE.pt"});
  EXPECT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"path\": \"m\xEF\xBF\xBD\xEF\xBF\xBD.pt\""), std::string::npos) << json.out;
  testing::CommandRun text = testing::run_command({"pytorch", dir.path().string() + "/m\xFF\xFE.pt"});
  EXPECT_NE(text.out.find("Model: m\\xff\\xfe.pt\n"), std::string::npos) << text.out;
}

TEST(PytorchReader, EocdRightAtTheEndAndEmptyStorages) {
  TempDir dir;
  // No comment: the record is the last 22 bytes of the file.
  std::string archive =
      build_zip({{"m/data.pkl", pickle_with_names({"a.weight"})}, {"m/data/0", ""}, {"m/data/1", ""}});
  Result<PyTorchSummary> read = read_bytes(dir, archive);
  ASSERT_TRUE(read.is_ok()) << read.message();
  EXPECT_EQ(read.value().tensor_count, 2u);
  EXPECT_EQ(read.value().total_parameter_bytes, 0u);
  Fnv1a64 learned;
  learned.update(le(0, 8) + le(0, 8));
  EXPECT_EQ(read.value().learned_state_fingerprint, learned.digest());
  EXPECT_EQ(read.value().estimated_parameter_count, 0u);
}

TEST(PytorchReader, TruncationsNeverReadOutsideTheFile) {
  TempDir dir;
  std::string valid = build_zip(checkpoint_entries(), ZipOptions{true, true, "note"});
  for (std::size_t length = 0; length < valid.size(); ++length) {
    Result<PyTorchSummary> read = read_bytes(dir, valid.substr(0, length), "cut.pt");
    if (read.is_ok()) {
      EXPECT_TRUE(read.value().is_zip);
    }
  }
}

TEST(PickleScan, NamesAndDtypes) {
  auto unicode = [](const std::string& text) { return "X" + le(text.size(), 4) + text; };
  auto short_unicode = [](const std::string& text) {
    return std::string("\x8C") + static_cast<char>(text.size()) + text;
  };
  std::string pickle = unicode("layer1.0.conv1.weight") + unicode("weight") + unicode("has space.x") + unicode("w") +
                       unicode(std::string(201, 'a') + ".b") + short_unicode("bn.running_mean") +
                       unicode("layer1.0.conv1.weight") + unicode("plain") + short_unicode("running_var") + "q\x8C" +
                       unicode("after.binput");
  EXPECT_EQ(scan_param_names(pickle), (std::vector<std::string>{"layer1.0.conv1.weight", "weight", "bn.running_mean",
                                                                "running_var", "after.binput"}));
  EXPECT_TRUE(scan_param_names("X\x05\x00\x00").empty());

  EXPECT_EQ(dominant_dtype("FloatStorage FloatStorage HalfStorage HalfStorage").first, "float16");
  EXPECT_EQ(dominant_dtype("FloatStorage FloatStorage FloatStorage HalfStorage HalfStorage").first, "float32");
  EXPECT_EQ(dominant_dtype("DoubleStorage").second, 8u);
  EXPECT_EQ(dominant_dtype("nothing").first, std::nullopt);
  EXPECT_EQ(dominant_dtype("nothing").second, 4u);
}

}  // namespace
}  // namespace tarnwick
