#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "base/text.h"
#include "pt/pytorch_summary.h"
#include "test_support.h"
#include "zip_builder.h"

namespace tarnwick {
namespace {

using testing::build_zip;
using testing::le;
using testing::pickle_with_names;

// The name scan written the direct way: every candidate checked byte by byte. Quadratic on
// hostile input, but plainly right; the linear scan must agree with it everywhere.
std::vector<std::string> reference_scan(std::string_view pickle) {
  auto name_byte = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
  };
  std::vector<std::string> names;
  std::set<std::string> seen;
  std::size_t p = 0;
  while (p < pickle.size()) {
    auto opcode = static_cast<std::uint8_t>(pickle[p]);
    std::size_t remaining = pickle.size() - p - 1, start = 0;
    std::uint64_t length = 0;
    if (opcode == 0x58 && remaining >= 4) {
      for (int i = 3; i >= 0; --i) length = (length << 8) | static_cast<std::uint8_t>(pickle[p + 1 + i]);
      start = p + 5;
    } else if (opcode == 0x8C && remaining >= 1) {
      length = static_cast<std::uint8_t>(pickle[p + 1]);
      start = p + 2;
    } else {
      ++p;
      continue;
    }
    if (length > pickle.size() - start) {
      ++p;
      continue;
    }
    std::string candidate(pickle.substr(start, length));
    bool all_name_bytes = std::all_of(candidate.begin(), candidate.end(), name_byte);
    bool suffix = false;
    for (const char* s : {"weight", "bias", "running_mean", "running_var"}) suffix |= candidate.ends_with(s);
    if (!is_valid_utf8(candidate) || candidate.size() < 2 || candidate.size() > 200 || !all_name_bytes ||
        (candidate.find('.') == std::string::npos && !suffix)) {
      ++p;
      continue;
    }
    p = start + length;
    if (seen.insert(candidate).second) names.push_back(candidate);
  }
  return names;
}

std::string unicode(const std::string& text) { return "X" + le(text.size(), 4) + text; }
std::string short_unicode(const std::string& text) {
  return std::string("\x8C") + static_cast<char>(text.size()) + text;
}

TEST(PickleScanWork, AgreesWithTheDirectScan) {
  std::uint64_t state = 88172645463325252ULL;
  auto next = [&] {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return state;
  };
  std::vector<std::string> pickles = {
      pickle_with_names({"layer1.0.conv1.weight", "fc.bias", "bn.running_var"}),
      unicode("a.b") + "q\x8C" + unicode("after.binput") + short_unicode("x.weight"),
      "X" + le(3, 4) + "XX" + le(4, 4) + "w.b.",  // a candidate inside a candidate's header
      std::string("\x8C\x05") + "ab.cd" + short_unicode("ab.cd"),
  };
  // Random bytes over a small alphabet rich in opcodes, short lengths, dots and name bytes.
  const char alphabet[] = {'X', '\x8C', '\x02', '\x03', '\x00', '.', 'a', 'w', 'e', 'i', 'g', 'h', 't', ' '};
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    std::size_t size = 1 + next() % 400;
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(alphabet[next() % sizeof alphabet]);
    pickles.push_back(bytes);
  }
  for (const std::string& pickle : pickles) EXPECT_EQ(scan_param_names(pickle), reference_scan(pickle));
}

TEST(PickleScanWork, LinearOnHostileHeaders) {
  struct Case {
    const char* shape;
    std::string pickle;
  };
  std::string long_lengths, long_runs, nested;
  // Headers whose long lengths fit the input: each failed candidate used to be validated whole.
  while (long_lengths.size() < 400000) long_lengths += "X" + le(300000, 4) + std::string(40, 'a');
  // Short lengths inside one long run of name bytes without a dot.
  while (long_runs.size() < 400000) long_runs += "X" + le(150, 4) + "\x8C\xC8" + std::string(200, 'q');
  // Candidates that hold further candidates.
  while (nested.size() < 400000) nested += "X" + le(190, 4) + "\x8C\xB0XXXX";
  const Case cases[] = {{"long lengths", long_lengths}, {"long runs", long_runs}, {"nested", nested}};
  for (const Case& c : cases) {
    NameScanWork work;
    EXPECT_TRUE(scan_param_names(c.pickle, &work).empty()) << c.shape;
    EXPECT_LE(work.cursor_steps, 4 * c.pickle.size()) << c.shape;
    EXPECT_GT(work.candidates, 0u) << c.shape;
  }
}

TEST(PytorchZipOverlap, EntriesSharingDataAreRefused) {
  testing::TempDir dir;
  std::string pickle = pickle_with_names({"a.weight"});
  std::string honest = build_zip({{"archive/data.pkl", pickle}, {"archive/data/0", "1234"}});
  // The same archive with a second directory entry for storage 1 pointing at storage 0's header.
  auto with_shared_entry = [&](const std::string& name, std::uint64_t size) {
    std::string zip = build_zip({{"archive/data.pkl", pickle}, {"archive/data/0", std::string(size, 'w')}});
    std::size_t directory = zip.find("PK\x01\x02");
    std::size_t second = zip.find("PK\x01\x02", directory + 1);
    std::size_t end = zip.find("PK\x05\x06");
    std::string entry = zip.substr(second, end - second);
    entry.replace(46, std::string("archive/data/0").size(), name);
    entry.replace(28, 2, le(name.size(), 2));
    std::string eocd = zip.substr(end);
    eocd.replace(8, 4, le(3, 2) + le(3, 2));
    eocd.replace(12, 4, le(end - directory + entry.size(), 4));
    return zip.substr(0, end) + entry + eocd;
  };
  struct Case {
    std::string bytes;
    const char* error;  // nullptr: reads
  };
  const Case cases[] = {
      {honest, nullptr},
      {with_shared_entry("archive/data/1", 4),
       ": zip entries `archive/data/0` and `archive/data/1` overlap in the file"},
      {with_shared_entry("archive/data/\x01", 4),  // not a storage blob: only hashed, never read
       nullptr},
      {with_shared_entry("archive/data/1", 0), nullptr},  // empty storages are not read either
  };
  for (const Case& c : cases) {
    Result<PyTorchSummary> read = read_pytorch_summary(dir.write("m.pt", c.bytes));
    if (c.error == nullptr) {
      EXPECT_TRUE(read.is_ok()) << read.message();
    } else {
      ASSERT_FALSE(read.is_ok());
      EXPECT_EQ(read.message(), (dir.path() / "m.pt").string() + c.error);
    }
  }
}

}  // namespace
}  // namespace tarnwick
