#include "cbm/file_hashes.h"

#include <gtest/gtest.h>

#include <string>
#include <system_error>
#include <vector>

#include "../base/thread_starters.h"

namespace tarnwick {
namespace {

using testing::no_thread;

// Both digests equal their definitions whether a large file is hashed aside, a small one is
// hashed as it comes, or a large one finds no thread and is hashed as it comes too.
TEST(FileHashes, DigestsMatchTheirDefinitionWithOrWithoutAThread) {
  struct Case {
    const char* name;
    std::size_t size;
    ThreadStarter start;
  };
  const Case cases[] = {{"small", 5000, start_thread},
                        {"large", 12u << 20, start_thread},
                        {"large without a thread", 12u << 20, no_thread}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes(c.size, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    std::string outside;
    FileHashes hashes(bytes, c.start);
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
      std::size_t start = at + 1 + (i * 7919) % 600;
      std::size_t length = i % 5000 == 4999 ? (3u << 19) : 1 + (i * 104729) % 300;  // now and then a long one
      if (start + length > bytes.size()) break;
      hashes.object(start, start + length);
      outside += bytes.substr(at, start - at);
      at = start + length;
    }
    outside += bytes.substr(at);
    FileHashes::Digests digests = hashes.finish();
    EXPECT_EQ(digests.whole_file, fnv1a64(bytes));
    EXPECT_EQ(digests.around_objects, fnv1a64(outside));
  }
}

}  // namespace
}  // namespace tarnwick
