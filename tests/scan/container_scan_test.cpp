// Containers read the way their loaders read them: compressed zip entries, compression
// wrappers, numpy arrays, tar archives, joblib's in-band arrays, and bytes that are a pickle
// besides being a file of another kind.
#include <gtest/gtest.h>

#include <functional>

#include "containers/compressors.h"
#include "registry/registry.h"
#include "scan/scan_files.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::build_zip;
using testing::checkpoint_zip;
using testing::findings_of;
using testing::imports_of;
using testing::PickleBuilder;
using testing::scan_under;
using testing::system_call;
using testing::TempDir;

std::string payload() {
  PickleBuilder p;
  p.proto(2);
  system_call(p);
  return p.stop().str();
}

std::string npy(const std::string& descr, const std::string& shape, const std::string& data) {
  std::string header = "{'descr': '" + descr + "', 'fortran_order': False, 'shape': " + shape + ", }";
  std::size_t total = (10 + header.size() + 1 + 63) / 64 * 64;  // numpy pads the whole preamble to 64 bytes
  header.resize(total - 10 - 1, ' ');
  header += '\n';
  return std::string("\x93NUMPY\x01\x00", 8) + testing::le(header.size(), 2) + header + data;
}

// A ustar archive of regular members, as Python's tarfile writes them.
std::string tar_of(const std::vector<std::pair<std::string, std::string>>& members) {
  std::string archive;
  for (const auto& [name, data] : members) {
    std::string header(512, '\0');
    header.replace(0, name.size(), name);
    header.replace(100, 7, "0000644");
    char size[12];
    std::snprintf(size, sizeof size, "%011o", static_cast<unsigned>(data.size()));
    header.replace(124, 11, size);
    header.replace(136, 11, "00000000000");
    header[156] = '0';
    header.replace(257, 6, std::string("ustar\0", 6));
    header.replace(263, 2, "00");
    header.replace(148, 8, "        ");
    unsigned sum = 0;
    for (char c : header) sum += static_cast<unsigned char>(c);
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%06o", sum);
    header.replace(148, 7, std::string(checksum, 6) + '\0');
    archive += header + data + std::string((512 - data.size() % 512) % 512, '\0');
  }
  return archive + std::string(1024, '\0');
}

// joblib's stream: a NumpyArrayWrapper built from its state, the array's bytes right after the
// BUILD (a padding length, the padding, then 2 float64 values that are no opcodes), and the
// pickle going on after them.
std::string joblib_stream_then(const std::function<void(PickleBuilder&)>& rest) {
  PickleBuilder p;
  p.proto(2).global("joblib.numpy_pickle", "NumpyArrayWrapper").op(')').op(0x81).op('}').mark();
  p.short_unicode("dtype").global("numpy", "dtype").short_unicode("f8").op(0x89).op(0x88).op(0x87).op('R');
  p.mark().integer(3).short_unicode("<").none().none().none().integer(-1).integer(-1).integer(0).op('t').op('b');
  p.short_unicode("shape").integer(2).op(0x85).short_unicode("order").short_unicode("C");
  p.short_unicode("numpy_array_alignment_bytes").integer(16).op('u').op('b');
  p.raw(std::string("\x03\xff\xff\xff", 4) + std::string(16, '\xff'));
  rest(p);
  return p.stop().str();
}

// joblib's stream of a structured array with an object field: its data is a pickle of its own.
std::string joblib_structured_objects_then_payload() {
  PickleBuilder p;
  p.proto(2).global("joblib.numpy_pickle", "NumpyArrayWrapper").op(')').op(0x81).op('}').mark();
  p.short_unicode("dtype").global("numpy", "dtype").short_unicode("V16").op(0x89).op(0x88).op(0x87).op('R');
  p.mark().integer(3).short_unicode("|").none().short_unicode("o").op(0x85).op('}').mark();
  p.short_unicode("o").global("numpy", "dtype").short_unicode("O8").op(0x89).op(0x88).op(0x87).op('R').integer(0).op(0x86);
  p.op('u').integer(16).integer(8).integer(0).op('t').op('b');
  p.short_unicode("shape").integer(1).op(0x85).short_unicode("order").short_unicode("C").op('u').op('b');
  p.raw(payload());  // the array's own pickle, read by joblib with pickle.load
  return p.stop().str();
}

std::string gzip_members_of_zeros(int members) {
  std::string one = testing::compress_as(Compression::kGzip, std::string(1u << 20, '\0'));
  std::string out;
  for (int i = 0; i < members; ++i) out += one;
  return out;
}

struct ContainerCase {
  std::string name;
  std::string file;
  std::string bytes;
  std::string format;
  std::string verdict;
  std::string imports;
  std::string finding;  // a line the scan must report
};

std::vector<ContainerCase> container_cases() {
  std::string evil = payload();
  std::string deflated = testing::deflate_with(evil, -15);
  std::string bzipped = testing::bzip2_of(evil);
  std::string lzma = testing::zip_lzma_of(evil);
  auto compressed_entry = [&](std::uint16_t method, const std::string& data) {
    return build_zip({{"a/data.pkl", data, method, 0, evil.size()}, {"a/version", "3\n"}});
  };
  const char* dangerous = "dangerous: a/data.pkl imports posix.system (through GLOBAL)";
  std::vector<ContainerCase> cases = {
      {"a deflated pickle entry", "deflate.pt", compressed_entry(8, deflated), "pytorch-zip", "unsafe",
       "posix.system dangerous x1", dangerous},
      {"a bzip2 pickle entry", "bzip2.pt", compressed_entry(12, bzipped), "pytorch-zip", "unsafe",
       "posix.system dangerous x1", dangerous},
      {"an lzma pickle entry", "lzma.pt", compressed_entry(14, lzma), "pytorch-zip", "unsafe",
       "posix.system dangerous x1", dangerous},
      {"a 'deflated' entry that does not inflate", "corrupt.pt", compressed_entry(8, evil), "pytorch-zip",
       "unscannable", "", "unscannable: a/data.pkl: corrupt compressed stream (invalid stored block lengths)"},
      {"an object array", "objects.npy", npy("|O", "(1,)", evil), "numpy", "unsafe", "posix.system dangerous x1",
       "dangerous: the object array's pickle imports posix.system (through GLOBAL)"},
      {"a float array", "floats.npy", npy("<f8", "(2, 1)", std::string(16, '\xff')), "numpy", "safe", "", ""},
      {"an array whose header numpy would not take", "odd.npy", npy("<f8", "[2]", ""), "numpy", "unscannable", "",
       "unscannable: its shape is not a tuple"},
      {"an npz member with objects", "arrays.npz",
       build_zip({{"floats.npy", npy("<f4", "()", "abcd")}, {"weights.npy", npy("|O", "(1,)", evil)}}), "numpy-npz",
       "unsafe", "posix.system dangerous x1", "dangerous: weights.npy (object array) imports posix.system (through GLOBAL)"},
      {"an npz member not named .npy", "named.npz", build_zip({{"weights", npy("|O", "(1,)", evil)}}), "numpy-npz",
       "unsafe", "posix.system dangerous x1", "dangerous: weights (object array) imports posix.system (through GLOBAL)"},
      {"torch's tar format, its pickle member", "old.tar",
       tar_of({{"sys_info", PickleBuilder().proto(2).op('}').stop().str()}, {"pickle", evil}}), "tar", "unsafe",
       "posix.system dangerous x1", "dangerous: pickle imports posix.system (through GLOBAL)"},
      {"torch's tar format followed through its storages", "storages.tar",
       tar_of({{"storages", PickleBuilder().proto(2).integer(1).stop().str() +
                                PickleBuilder().proto(2).short_unicode("0").short_unicode("cpu")
                                    .global("torch", "FloatStorage").op(0x87).stop().str() +
                                testing::le(2, 8) + std::string(8, '\xff') + evil}}),
       "tar", "unsafe", "torch.FloatStorage allowed x1, posix.system dangerous x1",
       "dangerous: storages pickle at offset 53 imports posix.system (through GLOBAL)"},
      {"TorchScript code", "scripted.pt",
       build_zip({{"m/data.pkl", PickleBuilder().proto(2).global("__torch__.m", "M").op(')').op(0x81).stop().str()},
                  {"m/code/__torch__/m.py", "def forward(self, x):\n  return torch.add(ops.prim.NumToTensor(1), x)\n"},
                  {"m/version", "3\n"}}),
       "torchscript", "unsafe", "__torch__.m.M unknown x1",
       "unknown: TorchScript code compiled on load (1 file(s) under code/, e.g. m/code/__torch__/m.py); it calls "
       "ops.prim.NumToTensor, torch.add"},
      {"a torch.package that brings its own torch.nn", "package.pt",
       build_zip({{"pkg/.data/version", "6\n"},
                  {"pkg/torch/nn/modules/linear.py", "import os\nos.system('id')\nclass Linear: pass\n"},
                  {"pkg/model/model.pkl",
                   PickleBuilder().proto(2).global("torch.nn.modules.linear", "Linear").op(')').op(0x81).stop().str()}}),
       "torch-package", "unsafe", "torch.nn.modules.linear.Linear dangerous x1",
       "dangerous: pkg/torch/nn/modules/linear.py: Python source that torch.package's importer runs on load"},
      {"a gzip member inside a tar", "bundle.tar",
       tar_of({{"README", "plain text\n"}, {"model.pkl.gz", testing::compress_as(Compression::kGzip, evil)}}), "tar",
       "unsafe", "posix.system dangerous x1", "dangerous: model.pkl.gz:(gzip): the pickle imports posix.system (through GLOBAL)"},
      {"joblib's arrays read past before a payload", "model.joblib",
       joblib_stream_then([](PickleBuilder& p) { system_call(p); p.op(0x86); }), "joblib", "unsafe",
       "joblib.numpy_pickle.NumpyArrayWrapper framework x1, numpy.dtype framework x1, posix.system dangerous x1",
       "dangerous: the pickle imports posix.system (through GLOBAL)"},
      {"a legacy module class behind its persistent id", "module_legacy.pkl",
       PickleBuilder().proto(2).mark().short_unicode("module").global("torch.nn.modules.linear", "Linear")
           .short_unicode("linear.py").short_unicode("class Linear: ...").op('t').op('Q').op(')').op(0x81).stop().str(),
       "pickle", "safe", "torch.nn.modules.linear.Linear framework x1", ""},
      {"a call of what another persistent id gives back", "storage_call.pkl",
       PickleBuilder().proto(2).mark().short_unicode("storage").global("torch", "FloatStorage").op('t').op('Q')
           .op(')').op(0x81).stop().str(),
       "pickle", "unsafe", "torch.FloatStorage allowed x1",
       "dangerous: the pickle: NEWOBJ at offset 35 calls a value that is not an imported name"},
  };
  cases.push_back({"joblib's structured array with an object field", "records.joblib",
                   joblib_structured_objects_then_payload(), "joblib", "unsafe",
                   "joblib.numpy_pickle.NumpyArrayWrapper framework x1, numpy.dtype framework x2, posix.system dangerous x1",
                   "dangerous: object array pickle at offset 145 imports posix.system (through GLOBAL)"});
  // 100 gzip members of 1 MiB of zeros each: 100 MiB from about 100 KB.
  std::string bomb = gzip_members_of_zeros(100);
  cases.push_back({"a gzip bomb", "bomb.joblib", bomb, "gzip-compressed", "unscannable", "",
                   "unscannable: gzip stream: decompresses past " + std::to_string(decompression_budget(bomb.size())) +
                       " bytes, the budget for a stream of its size"});
  for (Compression compression : {Compression::kZlib, Compression::kGzip, Compression::kBzip2, Compression::kXz,
                                  Compression::kLzma}) {
    std::string name(compression_name(compression));
    cases.push_back({"a joblib wrapper: " + name, "wrapped.joblib", testing::compress_as(compression, evil),
                     name + "-compressed", "unsafe", "posix.system dangerous x1",
                     "dangerous: (" + name + "): the pickle imports posix.system (through GLOBAL)"});
  }
  return cases;
}

TEST(ContainerScan, EachContainerIsReadAsItsLoaderReadsIt) {
  TempDir dir;
  for (const ContainerCase& c : container_cases()) {
    testing::PolicyScan result = scan_under(dir.write(c.file, c.bytes));
    const scan::FileScan& scan = result.scan;
    SCOPED_TRACE(c.name + "\n" + findings_of(scan));
    EXPECT_EQ(scan.format, c.format);
    EXPECT_EQ(result.verdict, c.verdict);
    EXPECT_EQ(imports_of(scan), c.imports);
    if (!c.finding.empty()) {
      EXPECT_NE(findings_of(scan).find(c.finding + "\n"), std::string::npos);
    }
  }
}

// Nested empty lists need 16 bytes of stack per byte of pickle: the trace stops once they pass
// the pickle's share of memory (the slot that passes it is pushed by the opcode at 2 + its index),
// long before the end, and says where.
TEST(ContainerScan, AHostilePickleStopsAtItsShareOfMemory) {
  const std::size_t levels = 2'000'000;
  std::string lists = "\x80\x02" + std::string(levels, ']') + std::string(levels - 1, 'a') + ".";
  TempDir dir;
  testing::PolicyScan result = scan_under(dir.write("lists.pkl", lists));
  EXPECT_EQ(result.verdict, "unscannable");
  std::uint64_t cap = lists.size() / 5 * 7 + 16'000'000;
  EXPECT_EQ(findings_of(result.scan), "unscannable: the pickle: the pickle's stack, marks and memo pass " + std::to_string(cap) +
                                          " bytes at offset " + std::to_string(cap / 16 + 2) + "; the scan stops there\n");
  EXPECT_LT(result.scan.steps, levels);
}

void scan_nothing(const scan::ScanInput&, scan::FileScan& scan) { scan.format = "test-kind"; }

bool claims_test_bytes(const ContentProbe& probe) { return probe.head.starts_with("\x80\x02" "c"); }

// Bytes that some kind claims, and that pickle.load runs all the same: the kind's own scan
// finds nothing, the pickle reading finds the payload.
TEST(ContainerScan, AFileOfAnotherKindIsScannedAsAPickleToo) {
  FormatDescriptor kind{.name = "test kind", .extensions = {}, .claims_content = claims_test_bytes, .scan = scan_nothing};
  ScopedFormatRegistration registration(kind);
  TempDir dir;
  testing::PolicyScan result = scan_under(dir.write("polyglot.bin", payload()));
  EXPECT_EQ(result.scan.format, "test-kind");
  EXPECT_EQ(result.verdict, "unsafe");
  EXPECT_EQ(imports_of(result.scan), "posix.system dangerous x1");
  EXPECT_EQ(findings_of(result.scan),
            "dangerous: the bytes read as a pickle imports posix.system (through GLOBAL)\n"
            "info: the bytes read as a pickle: the bytes are also a pickle that imports or calls before its first "
            "invalid opcode\n");
  // Bytes that are no pickle add nothing.
  testing::PolicyScan plain = scan_under(dir.write("plain.bin", std::string("\x80\x02" "c\xff\xff", 5)));
  EXPECT_EQ(plain.verdict, "safe");
  EXPECT_EQ(findings_of(plain.scan), "");
}

}  // namespace
}  // namespace tarnwick
