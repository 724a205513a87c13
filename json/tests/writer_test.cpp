// The JSON writer: compact and pretty layout, number and string rules, key order, deep documents.
#include "tarn/json/writer.hpp"

#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

namespace tarn::json {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

TEST(JsonString, Escapes) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"", R"("")"},
      {"plain", R"("plain")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\0\x01\x0b\x1f", 4), R"("\u0000\u0001\u000b\u001f")"},
      {"/ \x7f \xc3\xa9 \xe2\x82\xac", "\"/ \x7f \xc3\xa9 \xe2\x82\xac\""},
      {"\xff\xfe", "\"\xff\xfe\""},  // bytes are copied, not validated
      {"x\ny\n", R"("x\ny\n")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    std::string out;
    append_json_string(out, c.text);
    EXPECT_EQ(out, c.expected);
  }
}

TEST(Writer, CompactValues) {
  struct Case {
    json document;
    std::string expected;
  };
  const Case cases[] = {
      {json(nullptr), "null"},
      {json(true), "true"},
      {json(false), "false"},
      {json(std::int64_t{-3}), "-3"},
      {json(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808"},
      {json(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {json(2.0), "2.0"},
      {json(-0.0), "-0.0"},
      {json(1e-6), "1e-6"},
      {json(std::numeric_limits<double>::quiet_NaN()), "null"},
      {json(-std::numeric_limits<double>::infinity()), "null"},
      {json("t\"ab\t"), R"("t\"ab\t")"},
      {json::array(), "[]"},
      {json::object(), "{}"},
      {json::binary({1, 2}), "null"},
      {json{{"b", {1, 2.0, nullptr, true}}, {"a", "x"}}, R"({"a":"x","b":[1,2.0,null,true]})"},
      {json{{"a", json::object()}, {"b", json::array()}, {"c", json::array({json::array()})},
            {"d", json::array({json::object()})}},
       R"({"a":{},"b":[],"c":[[]],"d":[{}]})"},
      {json{{"k\n", {{"z", 1}, {"y", 1.5e300}}}}, R"({"k\n":{"y":1.5e300,"z":1}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(to_compact(c.document), c.expected);
  }
}

TEST(Writer, OrderedJsonKeepsInsertionOrder) {
  ordered_json document;
  document["z"] = 1;
  document["a"] = ordered_json{{"y", true}, {"b", nullptr}};
  document["m"] = 0.5;
  EXPECT_EQ(to_compact(document), R"({"z":1,"a":{"y":true,"b":null},"m":0.5})");
  EXPECT_EQ(to_pretty(document),
            "{\n"
            "  \"z\": 1,\n"
            "  \"a\": {\n"
            "    \"y\": true,\n"
            "    \"b\": null\n"
            "  },\n"
            "  \"m\": 0.5\n"
            "}");
}

TEST(Writer, Pretty) {
  struct Case {
    json document;
    std::string expected;
  };
  const Case cases[] = {
      {json::object(), "{}"},
      {json::array(), "[]"},
      {json(1.0), "1.0"},
      {json{{"a", 1}, {"b", {true, "x"}}, {"c", {{"d", nullptr}}}},
       "{\n"
       "  \"a\": 1,\n"
       "  \"b\": [\n"
       "    true,\n"
       "    \"x\"\n"
       "  ],\n"
       "  \"c\": {\n"
       "    \"d\": null\n"
       "  }\n"
       "}"},
      {json{{"a", json::object()}, {"b", json::array({json::array(), json::object()})}},
       "{\n"
       "  \"a\": {},\n"
       "  \"b\": [\n"
       "    [],\n"
       "    {}\n"
       "  ]\n"
       "}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(to_pretty(c.document), c.expected);
  }
}

TEST(Writer, AppendsToExistingText) {
  std::string out = "doc=";
  append_compact(out, json{1, 2});
  out += ';';
  append_pretty(out, json::array({3}));
  EXPECT_EQ(out, "doc=[1,2];[\n  3\n]");
}

// Nesting depth must not reach the call stack.
TEST(Writer, DeepNestingIsIterative) {
  constexpr std::size_t kDepth = 200000;
  json document = json::array();
  for (std::size_t i = 1; i < kDepth; ++i) {
    json outer = json::array();
    outer.push_back(std::move(document));
    document = std::move(outer);
  }
  EXPECT_EQ(to_compact(document), std::string(kDepth, '[') + std::string(kDepth, ']'));
}

}  // namespace
}  // namespace tarn::json
