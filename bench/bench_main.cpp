// Large-file benchmarks: `make bench`. Writes its inputs to a temporary directory and removes them.
//
// ONNX: `onnx --json` on a generated model of at least 512 MiB, against a bare FNV-1a pass over
// the same bytes (both read the file from the page cache).
// ONNX profile: `profile --json` on the same kind of model with its input declared, against
// `onnx --json` on it (the profile should cost no more than the inspection).
// CatBoost: 100 MiB bodies full of braces stay fast (every unclosed brace would otherwise cost a
// scan to the end of the file).
// Scan: a generated 100 MiB pickle shaped like a huge state dict (memoised strings and imports),
// against a bare FNV-1a pass; peak resident memory from VmHWM after resetting it.
// PyTorch: inspecting a generated checkpoint of at least 1 GiB reads only the tail, the
// directory, the pickle and at most 1 MiB per storage; bytes read come from /proc/self/io.
// contents: a 1 GiB safetensors file (and a 1 GiB PyTorch checkpoint once its tensor reader
// exists) reads only the header or the pickle and directory; `diff --contents` of two 1 GiB
// files hashes every tensor byte within 1.5x of `cat old new > /dev/null` from the page cache.
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "main/dispatch.h"
#include "main/file_read.h"
#include "main/format.h"
#include "pt/pytorch_tensors.h"
#include "safetensors/safetensors_builder.h"
#include "onnx/proto_builder.h"
#include "pickle/pickle_builder.h"
#include "pt/pytorch_summary.h"
#include "scan/file_scan.h"
#include "pt/zip_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
using tarnwick::testing::le;
using tarnwick::testing::varint;

std::string field(std::uint32_t number, const std::string& payload) {
  return varint((static_cast<std::uint64_t>(number) << 3) | 2) + varint(payload.size()) + payload;
}

std::string pseudo_random_bytes(std::size_t size, std::uint64_t seed) {
  std::string bytes(size, '\0');
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ULL + 1;
  for (std::size_t i = 0; i < size; i += 8) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    for (std::size_t k = 0; k < 8 && i + k < size; ++k) bytes[i + k] = static_cast<char>(state >> (8 * k));
  }
  return bytes;
}

// A graph of `count` MatMul nodes over float32 initializers of `rows` x 1024 with raw data;
// `graph_extra` adds graph fields (a declared input, for the profile).
void write_onnx(const std::filesystem::path& path, int count, std::uint64_t rows, const std::string& graph_extra = "") {
  std::ofstream out(path, std::ios::binary);
  std::string graph_fields;
  std::string raw = pseudo_random_bytes(rows * 1024 * 4, 7);
  std::string nodes, initializers;
  for (int i = 0; i < count; ++i) {
    std::string name = "w" + std::to_string(i);
    nodes += field(1, field(1, "x") + field(1, name) + field(2, "y" + std::to_string(i)) + field(4, "MatMul"));
    raw[0] = static_cast<char>(i);
    initializers += field(5, varint(1 << 3 | 0) + varint(rows) + varint(1 << 3 | 0) + varint(1024) + varint(2 << 3) +
                                 varint(1) + field(8, name) + field(9, raw));
  }
  std::string graph = field(2, "bench") + nodes + initializers + graph_extra;
  std::string model = varint(1 << 3) + varint(8) + field(2, "tarnwick-bench") + field(7, graph);
  out.write(model.data(), static_cast<std::streamsize>(model.size()));
}

// A stored zip in torch.save's layout with `storages` entries of `storage_bytes` each.
void write_checkpoint(const std::filesystem::path& path, int storages, std::uint64_t storage_bytes) {
  std::ofstream out(path, std::ios::binary);
  std::string directory;
  std::uint64_t offset = 0;
  auto add = [&](const std::string& name, const std::string& data) {
    std::string header = "PK\x03\x04" + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + le(data.size(), 4) +
                         le(data.size(), 4) + le(name.size(), 2) + le(0, 2) + name;
    out.write(header.data(), static_cast<std::streamsize>(header.size()));
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    directory += "PK\x01\x02" + le(20, 2) + le(20, 2) + le(0, 2) + le(0, 2) + le(0, 4) + le(0, 4) + le(data.size(), 4) +
                 le(data.size(), 4) + le(name.size(), 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 2) + le(0, 4) +
                 le(offset, 4) + name;
    offset += header.size() + data.size();
  };
  std::string pickle = "\x80\x02}q\x00(";
  for (int i = 0; i < storages; ++i) {
    std::string name = "layers." + std::to_string(i) + ".weight";
    pickle += "X" + le(name.size(), 4) + name + "ctorch\nFloatStorage\n";
  }
  add("archive/data.pkl", pickle + "u.");
  std::string blob = pseudo_random_bytes(storage_bytes, 3);
  for (int i = 0; i < storages; ++i) {
    blob[0] = static_cast<char>(i);
    add("archive/data/" + std::to_string(i), blob);
  }
  add("archive/version", "3\n");
  std::string end = "PK\x05\x06" + le(0, 2) + le(0, 2) + le(storages + 2, 2) + le(storages + 2, 2) +
                    le(directory.size(), 4) + le(offset, 4) + le(0, 2);
  out.write(directory.data(), static_cast<std::streamsize>(directory.size()));
  out.write(end.data(), static_cast<std::streamsize>(end.size()));
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

template <class Work>
double best_seconds(int repeats, Work work) {
  double best = 1e300;
  for (int i = 0; i < repeats; ++i) {
    auto start = Clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return best;
}

void bench_onnx(const std::filesystem::path& dir) {
  std::filesystem::path model = dir / "large.onnx";
  write_onnx(model, 128, 1024 + 16);  // 128 initializers of about 4.1 MiB: about 532 MiB
  std::uint64_t size = std::filesystem::file_size(model);
  std::uint64_t sink = 0;
  double bare = best_seconds(3, [&] {
    tarnwick::Result<std::string> bytes = tarnwick::read_whole_file(model.string());
    sink ^= tarnwick::fnv1a64(bytes.value());
  });
  double inspect = best_seconds(3, [&] {
    std::ostringstream out, err;
    std::istringstream in;
    if (tarnwick::run_tarnwick({"onnx", "--json", model.string()}, in, out, err) != 0) std::cerr << err.str();
    sink ^= out.str().size();
  });
  std::printf("onnx inspect --json: %.1f MiB file\n", size / 1048576.0);
  std::printf("  read + bare FNV-1a pass: %.3f s (%.0f MiB/s)\n", bare, size / 1048576.0 / bare);
  std::printf("  onnx --json:             %.3f s (%.0f MiB/s)\n", inspect, size / 1048576.0 / inspect);
  std::printf("  ratio: %.2fx (target at most 1.3x)   [%llx]\n", inspect / bare,
              static_cast<unsigned long long>(sink & 1));
  std::filesystem::remove(model);
}

void bench_profile(const std::filesystem::path& dir) {
  std::filesystem::path model = dir / "large_profiled.onnx";
  std::uint64_t rows = 1024 + 16;
  std::string input = field(11, tarnwick::testing::tensor_type_info("x", 1, {"batch", std::to_string(rows)}).bytes());
  write_onnx(model, 128, rows, input);
  std::uint64_t size = std::filesystem::file_size(model);
  std::uint64_t sink = 0;
  auto timed = [&](const std::vector<std::string>& args) {
    return best_seconds(3, [&] {
      std::ostringstream out, err;
      std::istringstream in;
      if (tarnwick::run_tarnwick(args, in, out, err) != 0) std::cerr << err.str();
      sink ^= out.str().size();
    });
  };
  double inspect = timed({"onnx", "--json", model.string()});
  double profile = timed({"profile", "--json", model.string()});
  std::printf("onnx profile --json: %.1f MiB file, 128 MatMul nodes\n", size / 1048576.0);
  std::printf("  onnx --json:    %.3f s\n", inspect);
  std::printf("  profile --json: %.3f s\n", profile);
  std::printf("  ratio: %.2fx (target at most 1.0x)   [%llx]\n", profile / inspect,
              static_cast<unsigned long long>(sink & 1));
  std::filesystem::remove(model);
}

// 100 MiB of CBM body: random bytes rich in braces, quotes and backslashes, and one of '{' only.
void bench_cbm(const std::filesystem::path& dir) {
  const std::size_t size = 100u << 20;
  std::string mixed = "CBM1", open = "CBM1" + std::string(size, '{');
  std::string noise = pseudo_random_bytes(1 << 20, 11);
  const char alphabet[] = {'{', '}', '"', '\\', 'a', 'b', ' '};
  for (char& c : noise) c = alphabet[static_cast<unsigned char>(c) % sizeof alphabet];
  while (mixed.size() < size) mixed += noise;
  for (auto [name, bytes] : {std::pair{"braces and strings", &mixed}, std::pair{"only '{'", &open}}) {
    std::filesystem::path file = dir / "large.cbm";
    std::ofstream(file, std::ios::binary).write(bytes->data(), static_cast<std::streamsize>(bytes->size()));
    double bare = best_seconds(1, [&] { (void)tarnwick::fnv1a64(tarnwick::read_whole_file(file.string()).value()); });
    double inspect = best_seconds(1, [&] {
      std::ostringstream out, err;
      std::istringstream in;
      tarnwick::run_tarnwick({"catboost", "--json", file.string()}, in, out, err);
    });
    std::printf("catboost --json, 100 MiB of %s: %.3f s (read + bare FNV-1a pass %.3f s)\n", name, inspect, bare);
    std::filesystem::remove(file);
  }
}

void bench_pytorch(const std::filesystem::path& dir) {
  std::filesystem::path checkpoint = dir / "large.pt";
  write_checkpoint(checkpoint, 256, 4u << 20);  // 256 storages of 4 MiB: 1 GiB of weights
  std::uint64_t size = std::filesystem::file_size(checkpoint);
  std::uint64_t before = bytes_read_so_far();
  auto start = Clock::now();
  tarnwick::Result<tarnwick::PyTorchSummary> summary = tarnwick::read_pytorch_summary(checkpoint.string());
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::uint64_t read = bytes_read_so_far() - before;
  if (!summary.is_ok()) std::cerr << summary.message() << "\n";
  std::printf("pytorch inspect: %.1f MiB file, %llu storages\n", size / 1048576.0,
              static_cast<unsigned long long>(summary.is_ok() ? summary.value().tensor_count : 0));
  std::printf("  bytes read: %llu (%.2f%% of the file; at most 1 MiB per storage plus tail, directory, pickle)\n",
              static_cast<unsigned long long>(read), 100.0 * read / size);
  std::printf("  time: %.3f s\n", seconds);
  std::filesystem::remove(checkpoint);
}


std::uint64_t peak_resident_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmHWM:")) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

std::uint64_t resident_bytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

// A protocol-4 OrderedDict of tensors as torch writes them, until the pickle passes `size` bytes.
void write_large_pickle(const std::filesystem::path& path, std::size_t size) {
  tarnwick::testing::PickleBuilder p;
  p.proto(4).global("collections", "OrderedDict").op(0x94).op(')').op('R').op(0x94).mark();
  p.global("torch._utils", "_rebuild_tensor_v2").op(0x94).global("torch", "FloatStorage").op(0x94);
  std::string bytes;
  for (std::uint64_t i = 0; p.str().size() + bytes.size() < size; ++i) {
    tarnwick::testing::PickleBuilder t;
    t.short_unicode("layers." + std::to_string(i) + ".weight").op(0x94).op(0x68).le(2, 1).mark().mark();
    t.short_unicode("storage").op(0x94).op('h').le(3, 1).short_unicode(std::to_string(i)).op(0x94);
    t.short_unicode("cpu").op(0x94).integer(4096).op('t').op('Q').integer(0).integer(64).integer(64).op(0x86);
    t.integer(64).integer(1).op(0x86).op(0x89).op('h').le(0, 1).op(')').op('R').op('t').op('R').op(0x94);
    bytes += t.str();
    if (i % 1000 == 999) bytes += "u(";
  }
  std::string whole = p.str() + bytes + "u.";
  std::ofstream(path, std::ios::binary).write(whole.data(), static_cast<std::streamsize>(whole.size()));
}

void bench_scan(const std::filesystem::path& dir) {
  std::filesystem::path file = dir / "large.pkl";
  write_large_pickle(file, 100u << 20);
  std::uint64_t size = std::filesystem::file_size(file);
  double bare = best_seconds(1, [&] { (void)tarnwick::fnv1a64(tarnwick::read_whole_file(file.string()).value()); });
  std::ofstream("/proc/self/clear_refs") << "5";
  std::uint64_t baseline = resident_bytes();
  tarnwick::scan::FileScan scan;
  double seconds = best_seconds(1, [&] { scan = tarnwick::scan::scan_file(file.string()); });
  std::uint64_t peak = peak_resident_bytes() - std::min(baseline, peak_resident_bytes());
  std::printf("scan: %.1f MiB pickle, %llu opcodes, verdict %s\n", size / 1048576.0,
              static_cast<unsigned long long>(scan.steps), scan.verdict().c_str());
  std::printf("  time: %.3f s (read + bare FNV-1a pass %.3f s); ratio %.1fx (target at most 10x)\n", seconds, bare,
              seconds / bare);
  std::printf("  peak memory above baseline: %.1f MiB; ratio %.2fx the file (target at most 3x)\n",
              peak / 1048576.0, static_cast<double>(peak) / size);
  std::filesystem::remove(file);
}

// 256 float32 tensors of 4 MiB; `changed` tensors get a different first byte.
void write_large_safetensors(const std::filesystem::path& path, int changed) {
  const int count = 256;
  const std::uint64_t tensor_bytes = 4u << 20;
  nlohmann::ordered_json header = nlohmann::ordered_json::object();
  for (int i = 0; i < count; ++i) {
    header["layers." + std::to_string(i) + ".weight"] = {
        {"dtype", "F32"}, {"shape", {tensor_bytes / 4}}, {"data_offsets", {i * tensor_bytes, (i + 1) * tensor_bytes}}};
  }
  std::string text = header.dump();
  while (text.size() % 8 != 0) text.push_back(' ');
  std::ofstream out(path, std::ios::binary);
  out << tarnwick::testing::u64_le(text.size()) << text;
  std::string block = pseudo_random_bytes(tensor_bytes, 5);
  for (int i = 0; i < count; ++i) {
    block[0] = static_cast<char>(i < changed ? 1 : 0);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

std::string run_quietly(const std::vector<std::string>& args) {
  std::ostringstream out, err;
  std::istringstream in;
  if (tarnwick::run_tarnwick(args, in, out, err) != 0) std::cerr << err.str();
  return out.str();
}

void report_contents_reads(const char* label, const std::filesystem::path& file) {
  std::uint64_t size = std::filesystem::file_size(file);
  std::uint64_t before = bytes_read_so_far();
  auto start = Clock::now();
  std::string report = run_quietly({"contents", "--json", file.string()});
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::uint64_t read = bytes_read_so_far() - before;
  std::printf("contents --json, %s: %.1f MiB file, %zu bytes of report\n", label, size / 1048576.0, report.size());
  std::printf("  bytes read: %llu (%.4f%% of the file; header/pickle and directory only)\n",
              static_cast<unsigned long long>(read), 100.0 * read / size);
  std::printf("  time: %.3f s\n", seconds);
}

void report_diff_speed(const char* label, const std::filesystem::path& old_file, const std::filesystem::path& new_file) {
  std::string cat = "cat '" + old_file.string() + "' '" + new_file.string() + "' > /dev/null";
  if (std::system(cat.c_str()) != 0) std::cerr << "cat failed\n";  // into the page cache
  double bare = best_seconds(3, [&] {
    if (std::system(cat.c_str()) != 0) std::cerr << "cat failed\n";
  });
  std::string report;
  double diff = best_seconds(3, [&] { report = run_quietly({"diff", "--contents", "--json", old_file.string(), new_file.string()}); });
  std::uint64_t size = std::filesystem::file_size(old_file) + std::filesystem::file_size(new_file);
  std::printf("diff --contents, %s: two files, %.1f MiB in all\n", label, size / 1048576.0);
  std::printf("  cat old new > /dev/null: %.3f s (%.0f MiB/s)\n", bare, size / 1048576.0 / bare);
  std::printf("  diff --contents --json:  %.3f s (%.0f MiB/s)\n", diff, size / 1048576.0 / diff);
  std::printf("  ratio: %.2fx (target at most 1.5x); %zu bytes of report\n", diff / bare, report.size());
}

void bench_contents(const std::filesystem::path& dir) {
  std::filesystem::path old_file = dir / "old.safetensors", new_file = dir / "new.safetensors";
  write_large_safetensors(old_file, 0);
  write_large_safetensors(new_file, 3);
  report_contents_reads("safetensors", old_file);
  report_diff_speed("safetensors", old_file, new_file);
  std::filesystem::remove(old_file);
  std::filesystem::remove(new_file);

  std::filesystem::path old_checkpoint = dir / "old.pt", new_checkpoint = dir / "new.pt";
  write_checkpoint(old_checkpoint, 256, 4u << 20);
  tarnwick::Result<tarnwick::TensorTable> table = tarnwick::read_pytorch_tensor_table(old_checkpoint.string());
  if (!table.is_ok()) {
    std::printf("contents --json, pytorch: skipped (%s)\n", table.message().c_str());
  } else {
    write_checkpoint(new_checkpoint, 256, 4u << 20);
    report_contents_reads("pytorch", old_checkpoint);
    report_diff_speed("pytorch", old_checkpoint, new_checkpoint);
    std::filesystem::remove(new_checkpoint);
  }
  std::filesystem::remove(old_checkpoint);
}

}  // namespace

int main(int argc, char** argv) {
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tarnwick-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  std::string which = argc > 1 ? argv[1] : "all";
  if (which == "all" || which == "scan") bench_scan(dir);
  if (which == "all" || which == "onnx") bench_onnx(dir);
  if (which == "all" || which == "profile") bench_profile(dir);
  if (which == "all" || which == "pytorch") bench_pytorch(dir);
  if (which == "all" || which == "cbm") bench_cbm(dir);
  if (which == "all" || which == "contents") bench_contents(dir);
  std::filesystem::remove_all(dir);
  return 0;
}
