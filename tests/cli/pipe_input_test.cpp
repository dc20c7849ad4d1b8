// Models read through pipes, as from `inspect <(cat model.cbm)` or `cat model.txt | ... /dev/stdin`.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "../pt/zip_builder.h"
#include "registry/registry.h"
#include "base/file_read.h"
#include "base/format.h"
#include "test_support.h"

namespace tarnwick {
namespace {

using testing::run_command;
using testing::TempDir;

// A pipe whose read end stays open in this process, as a shell's process substitution leaves it,
// fed by a thread; the path opens the same pipe again.
class PipeFeed {
 public:
  explicit PipeFeed(std::string bytes) {
    int ends[2];
    EXPECT_EQ(::pipe(ends), 0);
    read_end_ = ends[0];
    writer_ = std::thread([fd = ends[1], bytes = std::move(bytes)] {
      std::size_t written = 0;
      while (written < bytes.size()) {
        ssize_t got = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (got <= 0) break;
        written += static_cast<std::size_t>(got);
      }
      ::close(fd);
    });
  }
  ~PipeFeed() {
    ::close(read_end_);  // a writer still blocked ends with EPIPE
    writer_.join();
  }
  std::string path() const { return "/dev/fd/" + std::to_string(read_end_); }
  std::string name() const { return std::to_string(read_end_); }

 private:
  int read_end_ = -1;
  std::thread writer_;
};

class IgnoreBrokenPipes {
 public:
  IgnoreBrokenPipes() : saved_(std::signal(SIGPIPE, SIG_IGN)) {}
  ~IgnoreBrokenPipes() { std::signal(SIGPIPE, saved_); }

 private:
  void (*saved_)(int);
};

TEST(PipeInput, KindDetectionAndReadersShareOneReadOfThePipe) {
  IgnoreBrokenPipes ignore;
  std::string corpus = testing::corpus_dir().string();
  if (testing::corpus_dir().empty()) GTEST_SKIP() << "shared corpus not found beside the project (../shared/corpus)";
  struct Case {
    std::vector<std::string> command;  // the model path is appended
    std::string file;
  };
  const Case cases[] = {
      {{"inspect"}, corpus + "/catboost/codrna.cbm"},
      {{"inspect", "--json"}, corpus + "/catboost/creditgermany.cbm"},
      {{"inspect"}, corpus + "/lightgbm/single_tree.txt"},
      {{"inspect", "--json"}, corpus + "/lightgbm/boston_housing.txt"},
      {{"explain"}, corpus + "/lightgbm/multiclass.txt"},
  };
  for (const Case& c : cases) {
    std::string bytes = testing::read_file(c.file);
    PipeFeed feed(bytes);
    TempDir dir;
    std::vector<std::string> from_pipe = c.command, from_file = c.command;
    from_pipe.push_back(feed.path());
    from_file.push_back(dir.write(feed.name(), bytes));
    testing::CommandRun piped = run_command(from_pipe);
    testing::CommandRun stored = run_command(from_file);
    EXPECT_EQ(piped.status, 0) << c.file << ": " << piped.err;
    EXPECT_EQ(piped.out, stored.out) << c.file;
  }
}

TEST(PipeInput, LegacyPicklesAndPairsThroughPipes) {
  IgnoreBrokenPipes ignore;
  std::string pickle = testing::pickle_with_names({"fc.weight", "fc.bias"}) + std::string(20000, 'p');
  {
    PipeFeed feed(pickle);
    EXPECT_EQ(kind_name(detect_format(feed.path())), "PyTorch");
    testing::CommandRun piped = run_command({"pytorch", feed.path()});
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_NE(piped.out.find("  found: 2\n  fc.weight\n  fc.bias\n"), std::string::npos) << piped.out;
    EXPECT_NE(piped.out.find("File size: " + format_bytes(pickle.size()) + "\n"), std::string::npos) << piped.out;
  }
  std::string model = "tree\nversion=v3\nmax_feature_idx=0\n\nTree=0\nleaf_value=0.5\n";
  PipeFeed old_feed(model), new_feed(model);
  testing::CommandRun diff = run_command({"diff", old_feed.path(), new_feed.path()});
  EXPECT_EQ(diff.status, 0) << diff.err;
  EXPECT_NE(diff.out.find("Type: LightGBM\n"), std::string::npos) << diff.out;
  EXPECT_NE(diff.out.find("  Learned-state fingerprint is identical"), std::string::npos) << diff.out;
}

TEST(PipeInput, LookingAtTheHeadTakesNothingFromThePipe) {
  IgnoreBrokenPipes ignore;
  const std::uint64_t limit = std::uint64_t{1} << 20;
  struct Case {
    std::uint64_t size;
    bool read;
  };
  for (const Case& c : {Case{limit, true}, Case{limit + 1, false}}) {
    std::string bytes(static_cast<std::size_t>(c.size), 'x');
    bytes.front() = 'h';
    bytes.back() = 't';
    PipeFeed feed(bytes);
    EXPECT_EQ(read_file_head(feed.path(), 64), bytes.substr(0, 64));
    Result<FileBytes> whole = read_whole_file(feed.path(), limit);
    if (c.read) {
      ASSERT_TRUE(whole.is_ok()) << whole.message();
      EXPECT_EQ(whole.value().view(), bytes) << "the head is still in the pipe";
    } else {
      ASSERT_FALSE(whole.is_ok());
      EXPECT_EQ(whole.message(), "read " + feed.path() + ": more than 1 MiB from a file that is not a regular file");
    }
  }
}

// A FIFO with a name of its own and no writer: every command answers with one error instead of
// waiting for a writer that never comes.
TEST(PipeInput, NamedPipesAreRefusedBeforeTheyAreOpened) {
  TempDir dir;
  for (const char* name : {"model.pt", "model.cbm", "model.onnx", "model.gguf", "model.safetensors", "model"}) {
    std::string fifo = (dir.path() / name).string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string refusal = "read " + fifo + ": a named pipe is not read (it would wait for a writer)";
    const std::vector<std::vector<std::string>> commands = {
        {"inspect", fifo}, {"contents", fifo}, {"diff", fifo, fifo}, {"check", fifo, fifo}, {"scan", fifo}};
    for (const std::vector<std::string>& command : commands) {
      SCOPED_TRACE(command.front() + " " + name);
      testing::CommandRun run = run_command(command);
      // scan tells a path it could not read from a file it judged.
      EXPECT_EQ(run.status, command.front() == "scan" ? 2 : 1);
      // The readers name the pipe; a kind that needs no read (by extension alone) refuses it too.
      EXPECT_TRUE(run.err.starts_with("error: ")) << run.err;
      if (command.front() == "scan") {
        EXPECT_EQ(run.out.find("(safe 1"), std::string::npos) << run.out;
      }
      if (command.front() == "inspect" && std::string_view(name) == "model.pt") {
        EXPECT_EQ(run.err, "error: " + refusal + "\n");
      }
    }
  }
}

}  // namespace
}  // namespace tarnwick

