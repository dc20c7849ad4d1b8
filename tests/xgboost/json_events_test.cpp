// The fast JSON reader against nlohmann's parser: where it reads a text it hands on the very
// events nlohmann's SAX parser gives, and it declines every text it cannot read that way.
#include "xgboost/json_events.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

namespace tarnwick {
namespace {

// Every event as a line of text; doubles by their bits.
class RecordedEvents final : public Json::json_sax_t {
 public:
  std::vector<std::string> lines;

  bool null() override { return add("null"); }
  bool boolean(bool value) override { return add(value ? "true" : "false"); }
  bool number_integer(number_integer_t value) override { return add("integer " + std::to_string(value)); }
  bool number_unsigned(number_unsigned_t value) override { return add("unsigned " + std::to_string(value)); }
  bool number_float(number_float_t value, const string_t&) override {
    return add("float " + std::to_string(std::bit_cast<std::uint64_t>(value)));
  }
  bool string(string_t& value) override { return add("string " + value); }
  bool binary(binary_t&) override { return add("binary"); }
  bool key(string_t& value) override { return add("key " + value); }
  bool start_object(std::size_t) override { return add("{"); }
  bool end_object() override { return add("}"); }
  bool start_array(std::size_t) override { return add("["); }
  bool end_array() override { return add("]"); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return add("error");
  }

 private:
  bool add(std::string line) {
    lines.push_back(std::move(line));
    return true;
  }
};

TEST(PlainJsonReader, ReadsWhatNlohmannReadsAlike) {
  struct Case {
    std::string text;
    std::string as_nlohmann;  // the same with XGBoost's bare words quoted, when it has them
  };
  const Case cases[] = {
      {R"({"a":[1,-2,3.5,-0.0,1e-5,2E+10,0,-0,0.1],"b":{"c":true,"d":false,"e":null},"f":"x y","g":[],"h":{}})", ""},
      {" \t\r\n[ 1 ,\n2 ] \n", ""},
      {"{\"\xe5\x90\x8d\":\"\xc3\xa9\xf0\x9f\x8c\xb2\"}", ""},
      {"[18446744073709551615,-9223372036854775808,9223372036854775808,1.7976931348623157e308]", ""},
      {"[123456789.123456789e-3,0.30000000000000004,1E2,1e+2,-1.5E-2]", ""},
      {"[[[[]]],{\"a\":{\"b\":[{}]}}]", ""},
      {"[NaN,Infinity,-Infinity,{NaN:-Infinity}]", R"(["NaN","Infinity","-Infinity",{"NaN":"-Infinity"}])"},
      {"\"text\"", ""},
      {"-7", ""},
      {std::string(200000, '[') + std::string(200000, ']'), ""},  // nesting is read in a loop
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RecordedEvents fast, reference;
    ASSERT_TRUE(read_plain_json(c.text, fast));
    const std::string& reference_text = c.as_nlohmann.empty() ? c.text : c.as_nlohmann;
    ASSERT_TRUE(Json::sax_parse(reference_text, &reference));
    EXPECT_EQ(fast.lines, reference.lines);
  }
}

TEST(PlainJsonReader, DeclinesWhatItCannotReadAlike) {
  const std::string declined[] = {
      "",
      "\xef\xbb\xbf[1]",  // a byte order mark
      R"(["a\"b"])",
      R"(["\u0041"])",
      "[\"tab\there\"]",
      "[\"\xc0\xaf\"]",      // an overlong form
      "[\"\xed\xa0\x80\"]",  // a surrogate
      "[\"\xe5\x90\"]",      // cut inside a character
      "[18446744073709551616]",
      "[-9223372036854775809]",
      "[1e999]",
      "[01]",
      "[1.]",
      "[.5]",
      "[1e]",
      "[-]",
      "[+1]",
      "[1,]",
      "[1 2]",
      "{\"a\" 1}",
      "{\"a\":1,}",
      "{1:2}",
      "[1] x",
      "[1",
      "[NaNx]",
      "[Nan]",
      "[-Inf]",
      "[tru]",
      "[1]]",
      "{\"a\":1]",
  };
  for (const std::string& text : declined) {
    SCOPED_TRACE(text);
    RecordedEvents events;
    EXPECT_FALSE(read_plain_json(text, events));
  }
}

}  // namespace
}  // namespace tarnwick
