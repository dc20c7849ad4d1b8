#include <gtest/gtest.h>

#include "cbm/cbm_summary.h"
#include "cbm/embedded_json.h"
#include "base/format.h"

namespace tarnwick {
namespace {

TEST(CbmBoundedWork, RunsOfEmptyObjectsAreHandedOverOnce) {
  struct Case {
    std::string body;
    std::size_t visits;   // objects handed to the visitor
    std::size_t objects;  // objects the list form holds
  };
  std::string run(2000, ' ');
  for (std::size_t i = 0; i < run.size(); i += 2) run[i] = '{', run[i + 1] = '}';
  const Case cases[] = {
      {run, 1, 1000},
      {"x" + run + "y" + run, 2, 2000},
      {"{" + run, 1, 1000},  // after a brace that never closes, each `{}` still closes itself
      {R"({"a":1}{}{}{ })", 3, 4},
  };
  for (const Case& c : cases) {
    std::size_t visits = 0;
    for_each_embedded_json_object(c.body, [&](EmbeddedJsonObject&&) { ++visits; });
    EXPECT_EQ(visits, c.visits) << c.body.substr(0, 20);
    std::vector<EmbeddedJsonObject> objects = find_embedded_json_objects(c.body);
    ASSERT_EQ(objects.size(), c.objects);
    for (const EmbeddedJsonObject& object : objects) EXPECT_EQ(object.repeats, 1u);
  }
}

TEST(CbmBoundedWork, FingerprintsOfARunMatchTheirDefinition) {
  std::string body = "{}{}{}";
  Result<CbmSummary> summary = summarize_cbm_bytes("m.cbm", "CBM1ab" + body + "cd");
  ASSERT_TRUE(summary.is_ok()) << summary.message();
  EXPECT_EQ(summary.value().full_artifact_fingerprint, fnv1a64("CBM1ab" + body + "cd"));
  EXPECT_EQ(summary.value().learned_state_fingerprint, fnv1a64("CBM1abcd"));
  EXPECT_EQ(summary.value().metadata_fingerprint, fnv1a64("{}\n{}\n{}"));
}

TEST(CbmBoundedWork, FingerprintsMatchTheirDefinitionWhetherHashedAsideOrNot) {
  // Large files are hashed on another thread, objects passing over in batches (by count, and at
  // once past a megabyte); both ways must give the hashes as defined.
  for (std::size_t objects : {3u, 30000u}) {
    std::string file = "CBM1", outside = "CBM1", texts;
    for (std::size_t i = 0; i < objects; ++i) {
      std::string filler(1 + (i * 7919) % 600, static_cast<char>('a' + i % 26));
      std::string object = i % 10000 == 9999 ? "{\"big\":\"" + std::string(1500000, 'v') + "\"}"
                                           : "{\"k\":" + std::to_string(i) + "}";
      file += filler + object;
      outside += filler;
    }
    file += "tail";
    outside += "tail";
    Result<CbmSummary> summary = summarize_cbm_bytes("m.cbm", file);
    ASSERT_TRUE(summary.is_ok()) << summary.message();
    EXPECT_EQ(summary.value().full_artifact_fingerprint, fnv1a64(file)) << objects;
    EXPECT_EQ(summary.value().learned_state_fingerprint, fnv1a64(outside)) << objects;
  }
}

}  // namespace
}  // namespace tarnwick
