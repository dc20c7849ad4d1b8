// Whole reports of small NumPy files, written here byte by byte as numpy.save and
// numpy.savez write them (tests/numpy/numpy_oracle.py holds the same against numpy itself).
#include <gtest/gtest.h>

#include "pt/zip_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::CommandRun;

std::string npy(const std::string& dict, const std::string& data) {
  std::string header = dict;
  while ((10 + header.size() + 1) % 64 != 0) header += ' ';
  header += '\n';
  std::string file("\x93NUMPY\x01\x00", 8);
  file += static_cast<char>(header.size() & 0xFF);
  file += static_cast<char>(header.size() >> 8);
  return file + header + data;
}

std::string counting(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed)) & 0xFF);
  return bytes;
}

// The same 2x3 float64 values in C order and little-endian, then Fortran order big-endian.
std::string c_order_f8() {
  std::string data;
  for (int value = 0; value < 6; ++value) {
    double element = value * 0.5;
    data.append(reinterpret_cast<const char*>(&element), 8);
  }
  return data;
}

std::string fortran_big_f8() {
  std::string data;
  for (int column = 0; column < 3; ++column) {
    for (int row = 0; row < 2; ++row) {
      double element = (row * 3 + column) * 0.5;
      std::string bytes(reinterpret_cast<const char*>(&element), 8);
      data.append(bytes.rbegin(), bytes.rend());
    }
  }
  return data;
}

struct Fixtures {
  testing::TempDir dir;
  std::string weights = dir.write("weights.npy", npy("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 3), }", c_order_f8()));
  std::string fortran =
      dir.write("fortran.npy", npy("{'descr': '>f8', 'fortran_order': True, 'shape': (2, 3), }", fortran_big_f8()));
  std::string archive = dir.write(
      "model.npz",
      testing::build_zip({{"embed.weight.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (4, 8), }", counting(128, 1))},
                          {"embed.bias.npy", npy("{'descr': '<f2', 'fortran_order': False, 'shape': (8,), }", counting(16, 2))},
                          {"steps.npy", npy("{'descr': '<i8', 'fortran_order': False, 'shape': (), }", counting(8, 3))},
                          {"labels.npy", npy("{'descr': '|O', 'fortran_order': False, 'shape': (2,), }", "\x80\x04N.")},
                          {"notes.txt", "trained on the usual data"}}));
  std::string retrained = dir.write(
      "retrained.npz",
      testing::build_zip({{"embed.weight.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (4, 8), }", counting(128, 9))},
                          {"embed.bias.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (8,), }", counting(32, 2))},
                          {"head.npy", npy("{'descr': '<f4', 'fortran_order': False, 'shape': (8, 2), }", counting(64, 4))},
                          {"labels.npy", npy("{'descr': '|O', 'fortran_order': False, 'shape': (2,), }", "\x80\x04N.")}}));
};

TEST(NumpyReports, WholeReportsOfSmallFiles) {
  Fixtures f;
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
      {{"contents", f.archive}, "numpy/model.npz.contents.txt"},
      {{"contents", "--json", f.archive}, "numpy/model.npz.contents.json"},
      {{"inspect", f.archive}, "numpy/model.npz.inspect.txt"},
      {{"inspect", "--json", f.weights}, "numpy/weights.npy.inspect.json"},
      {{"diff", "--contents", f.archive, f.retrained}, "numpy/model_vs_retrained.npz.diff-contents.txt"},
      {{"diff", "--contents", "--json", f.weights, f.fortran}, "numpy/weights_vs_fortran.npy.diff-contents.json"},
      {{"diff", f.archive, f.retrained}, "numpy/model_vs_retrained.npz.diff.txt"},
      {{"scan", f.archive}, "numpy/model.npz.scan.txt"},
  };
  for (const auto& [args, golden] : runs) {
    SCOPED_TRACE(golden);
    CommandRun run = testing::run_command(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    testing::expect_golden(testing::with_dir_placeholder(run.out, f.dir), golden);
  }
}

}  // namespace
}  // namespace tarnwick
