// The member-by-member object writer: the same bytes as the document walk, optional-or-null
// members, and the key-order check of sorted objects.
#include "tarn/json/object_writer.hpp"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace tarn::json {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();

TEST(ObjectWriter, SortedPrettyEqualsThePrettyDocument) {
  std::string out;
  SortedPrettyObject object(out, 0);
  object.or_null("absent_text", std::optional<std::string>{});
  object.or_null("count", std::optional<std::uint64_t>{kMaxCount});
  object.array("empty", 0, [](std::string&, std::size_t) {});
  object.boolean("flag", false);
  object.integer("fuel", 7);
  object.array("items", 2, [](std::string& text, std::size_t i) { append_integer(text, i); });
  SortedPrettyObject inner(object.member("nested"), 1);
  inner.or_null("absent_number", std::optional<double>{});
  inner.number("value", -0.0);
  inner.close();
  SortedPrettyObject empty(object.member("nested_empty"), 1);
  empty.close();
  object.or_null("not_finite", std::optional<double>{kInf});
  object.or_null("number", std::optional<double>{2.0});
  object.or_null("text", std::optional<std::string>{"q\"\n"});
  object.close();

  const json expected = {
      {"absent_text", nullptr},  {"count", kMaxCount},       {"empty", json::array()},
      {"flag", false},           {"fuel", 7},                {"items", {0, 1}},
      {"nested", {{"absent_number", nullptr}, {"value", -0.0}}},
      {"nested_empty", json::object()},
      {"not_finite", kInf},      {"number", 2.0},            {"text", "q\"\n"},
  };
  EXPECT_EQ(out, to_pretty(expected));
}

TEST(ObjectWriter, CompactKeepsTheOrderWritten) {
  std::string out;
  CompactObject object(out);
  object.string("z", "last letter first");
  CompactObject inner(object.member("a"));
  inner.or_null("reason", std::optional<std::string_view>{"why"});
  inner.close();
  object.array("m", 3, [](std::string& text, std::size_t i) { append_integer(text, 3 - i); });
  object.or_null("b", std::optional<double>{});
  object.close();

  const ordered_json expected = {
      {"z", "last letter first"}, {"a", {{"reason", "why"}}}, {"m", {3, 2, 1}}, {"b", nullptr}};
  EXPECT_EQ(out, to_compact(expected));
  EXPECT_EQ(out, R"({"z":"last letter first","a":{"reason":"why"},"m":[3,2,1],"b":null})");
}

// A member out of place would silently change the bytes of a sorted document: it stops the
// process instead, in every build, so that the tests that write the object catch it.
TEST(ObjectWriterDeathTest, SortedKeysOutOfOrderAbort) {
  const auto write = [](std::string_view first, std::string_view second) {
    std::string out;
    SortedPrettyObject object(out, 0);
    object.boolean(first, true);
    object.boolean(second, true);
  };
  EXPECT_DEATH(write("residual_log", "residual"),
               R"(JSON key order: "residual" written after "residual_log")");
  EXPECT_DEATH(write("pass", "pass"), R"("pass" written after "pass")");
  EXPECT_DEATH(write("a", "B"), R"("B" written after "a")");  // byte order: 'B' < 'a'
}

}  // namespace
}  // namespace tarn::json
