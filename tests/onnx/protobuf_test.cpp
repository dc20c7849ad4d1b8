#include "onnx/protobuf.h"

#include <gtest/gtest.h>

#include "proto_builder.h"

namespace tarnwick {
namespace {

TEST(Protobuf, Varints) {
  struct Case {
    std::string bytes;
    std::uint64_t value;
    const char* error;
    std::size_t consumed;
  };
  const Case cases[] = {
      {"\x01", 1, nullptr, 1},
      {"\xAC\x02", 300, nullptr, 2},
      {std::string(9, '\xFF') + "\x01", 0xFFFFFFFFFFFFFFFFULL, nullptr, 10},
      {std::string(9, '\xFF') + "\x7F", 0xFFFFFFFFFFFFFFFFULL, nullptr, 10},
      {std::string(9, '\x80') + "\x7E", 0, nullptr, 10},  // bits 1-6 of the tenth byte are dropped
      {std::string(9, '\xFF') + "\x80", 0, "protobuf varint exceeded 64 bits", 0},
      {"\x80", 0, "protobuf varint ended unexpectedly", 0},
      {"", 0, "protobuf varint ended unexpectedly", 0},
      {std::string(20, '\xFF'), 0, "protobuf varint exceeded 64 bits", 0},
  };
  for (const Case& c : cases) {
    std::size_t position = 0;
    Result<std::uint64_t> value = decode_varint(c.bytes, position);
    if (c.error) {
      ASSERT_FALSE(value.is_ok());
      EXPECT_EQ(value.message(), c.error);
    } else {
      ASSERT_TRUE(value.is_ok()) << value.message();
      EXPECT_EQ(value.value(), c.value);
      EXPECT_EQ(position, c.consumed);
    }
  }
}

TEST(Protobuf, FieldListsAndTheirFailures) {
  struct Case {
    std::string bytes;
    const char* error;  // nullptr: decodes
    std::size_t fields;
  };
  const std::string huge_length = "\x0A" + testing::varint(0xFFFFFFFFFFFFFFFFULL);
  const Case cases[] = {
      {"", nullptr, 0},
      {"\x08\x96\x01\x12\x03"
       "abc\x1D"
       "abcd\x09"
       "12345678",
       nullptr, 4},
      {std::string("\x0A\x00", 2), nullptr, 1},
      {"\x0A\x03"
       "ab",
       "protobuf length-delimited field exceeded input length", 0},
      {"\x0A\x02"
       "ab",
       nullptr, 1},
      {huge_length + "x", "protobuf length-delimited index overflow", 0},
      {"\x0D"
       "abc",
       "protobuf fixed32 field exceeded input length", 0},
      {"\x09"
       "1234567",
       "protobuf fixed64 field exceeded input length", 0},
      {"\x0B", "unsupported protobuf wire type 3", 0},
      {"\x0C", "unsupported protobuf wire type 4", 0},
      {"\x0E", "unsupported protobuf wire type 6", 0},
      {"\x0F", "unsupported protobuf wire type 7", 0},
      {"\x08", "protobuf varint ended unexpectedly", 0},
      {"\x80", "protobuf varint ended unexpectedly", 0},
      {std::string("\x00\x05", 2), nullptr, 1},  // field number 0 is returned like any other
  };
  for (const Case& c : cases) {
    Result<std::vector<ProtoField>> fields = decode_fields(c.bytes);
    if (c.error) {
      ASSERT_FALSE(fields.is_ok());
      EXPECT_EQ(fields.message(), c.error);
    } else {
      ASSERT_TRUE(fields.is_ok()) << fields.message();
      EXPECT_EQ(fields.value().size(), c.fields);
    }
  }
  std::string bytes =
      "\x08\x96\x01\x12\x03"
      "abc";
  std::vector<ProtoField> fields = decode_fields(bytes).take();
  EXPECT_EQ(fields[0].field_number, 1u);
  EXPECT_EQ(fields[0].varint, 150u);
  EXPECT_EQ(fields[1].wire_type, 2);
  EXPECT_EQ(fields[1].payload, "abc");
  EXPECT_EQ(fields[1].payload.data(), bytes.data() + 5);  // a view, not a copy
}

TEST(Protobuf, StringsAreStrictUtf8) {
  EXPECT_EQ(decode_string("").value(), "");
  EXPECT_EQ(decode_string("h\xC3\xA9").value(), "h\xC3\xA9");
  EXPECT_EQ(decode_string("a\xFF").message(),
            "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 1");
  EXPECT_EQ(decode_string("a\xC3").message(),
            "invalid UTF-8 string in ONNX protobuf: incomplete utf-8 byte sequence from index 1");
  EXPECT_EQ(decode_string("ab\xE2\x82x").message(),
            "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 2 bytes from index 2");
  EXPECT_EQ(decode_string("\xED\xA0\x80").message(),  // a surrogate
            "invalid UTF-8 string in ONNX protobuf: invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(decode_string("\xF0\x9F\x98").message(),
            "invalid UTF-8 string in ONNX protobuf: incomplete utf-8 byte sequence from index 0");
}

}  // namespace
}  // namespace tarnwick
