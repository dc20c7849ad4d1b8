// Whole reports of small Keras archives. The weights file is written here through libhdf5, in
// the layout Keras 3 uses (tests/keras/keras_oracle.py holds the same against h5py).
#include <gtest/gtest.h>

#include <hdf5.h>

#include <fstream>
#include <iterator>

#include "pt/zip_builder.h"
#include "test_support.h"

namespace tarnwick {
namespace {

struct Dataset {
  std::string path;
  std::vector<hsize_t> dims;
  std::vector<float> values;
};

// An HDF5 file of float32 datasets, without modification times so its bytes repeat.
std::string weights_file(const testing::TempDir& dir, const std::vector<Dataset>& datasets) {
  std::string path = (dir.path() / "weights.h5").string();
  hid_t create = H5Pcreate(H5P_FILE_CREATE);
  hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, create, H5P_DEFAULT);
  hid_t links = H5Pcreate(H5P_LINK_CREATE);
  H5Pset_create_intermediate_group(links, 1);
  hid_t group_options = H5Pcreate(H5P_GROUP_CREATE);
  H5Pset_obj_track_times(group_options, 0);
  H5Gclose(H5Gcreate2(file, "optimizer/vars", links, group_options, H5P_DEFAULT));
  for (const Dataset& dataset : datasets) {
    hid_t space = H5Screate_simple(static_cast<int>(dataset.dims.size()), dataset.dims.data(), nullptr);
    hid_t options = H5Pcreate(H5P_DATASET_CREATE);
    H5Pset_obj_track_times(options, 0);
    hid_t written = H5Dcreate2(file, dataset.path.c_str(), H5T_IEEE_F32LE, space, links, options, H5P_DEFAULT);
    H5Dwrite(written, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, dataset.values.data());
    H5Dclose(written);
    H5Pclose(options);
    H5Sclose(space);
  }
  H5Pclose(group_options);
  H5Pclose(links);
  H5Fclose(file);
  H5Pclose(create);
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<float> counting_floats(std::size_t count, float step) {
  std::vector<float> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = static_cast<float>(i) * step - 1.0f;
  return values;
}

const char* kConfig =
    R"({"module": "keras", "class_name": "Sequential", "config": {"name": "classifier", "layers": [)"
    R"({"module": "keras.layers", "class_name": "InputLayer", "config": {"name": "input"}},)"
    R"({"module": "keras.layers", "class_name": "Dense", "config": {"name": "hidden", "units": 8, "activation": "relu"}},)"
    R"({"module": "keras.layers", "class_name": "Dense", "config": {"name": "out", "units": 2, "activation": "softmax"}})";

std::string archive(const std::string& weights, const std::string& extra_layer = "") {
  std::string config = std::string(kConfig) + extra_layer + "]}}";
  return testing::build_zip({{"metadata.json", R"({"keras_version": "3.3.3", "date_saved": "2026-12-08@10:00:00"})"},
                             {"config.json", config},
                             {"model.weights.h5", weights}});
}

TEST(KerasReports, WholeReportsOfSmallArchives) {
  testing::TempDir dir;
  std::vector<Dataset> layers{{"layers/hidden/vars/0", {4, 8}, counting_floats(32, 0.25f)},
                              {"layers/hidden/vars/1", {8}, counting_floats(8, 0.0f)},
                              {"layers/out/vars/0", {8, 2}, counting_floats(16, 0.5f)},
                              {"layers/out/vars/1", {2}, counting_floats(2, 1.0f)}};
  std::string model = dir.write("model.keras", archive(weights_file(dir, layers)));
  layers[2].values[3] = 42.0f;
  layers.push_back({"layers/out/vars/2", {2}, counting_floats(2, 2.0f)});
  std::string retrained = dir.write("retrained.keras", archive(weights_file(dir, layers)));
  std::string lambda = dir.write(
      "lambda.keras",
      archive(weights_file(dir, {}), R"(,{"module": "keras.layers", "class_name": "Lambda", "config": {"name": "shell",)"
                                     R"( "function": {"class_name": "__lambda__", "config": {"code": "4wEAAA=="}}}})"));
  const std::vector<std::tuple<std::vector<std::string>, std::string, int>> runs{
      {{"contents", model}, "keras/model.contents.txt", 0},
      {{"contents", "--json", model}, "keras/model.contents.json", 0},
      {{"inspect", model}, "keras/model.inspect.txt", 0},
      {{"diff", "--contents", model, retrained}, "keras/model_vs_retrained.diff-contents.txt", 0},
      {{"diff", model, retrained}, "keras/model_vs_retrained.diff.txt", 0},
      {{"explain-diff", model, retrained}, "keras/model_vs_retrained.explain-diff.txt", 0},
      {{"scan", lambda}, "keras/lambda.scan.txt", 1},
  };
  for (const auto& [args, golden, status] : runs) {
    SCOPED_TRACE(golden);
    testing::CommandRun run = testing::run_command(args);
    EXPECT_EQ(run.status, status) << run.err;
    testing::expect_golden(testing::with_dir_placeholder(run.out, dir), golden);
  }
}

}  // namespace
}  // namespace tarnwick
