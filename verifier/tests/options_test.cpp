// The argument scan and the index parser: which arguments change which option, and which leave
// it alone.
#include "options.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace qrv {
namespace {

TEST(ParseIndex, AcceptsAndRejects) {
  struct Case {
    std::string text;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"3", 3},
      {"+2", 2},
      {"007", 7},
      {"00000000000000000003", 3},  // 20 digits, leading zeros count as digits
      {"9999999999999999", 9999999999999999},       // 16 digits: the unchecked stretch
      {"99999999999999999", 99999999999999999},     // 17 digits: checked from here on
      {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"+18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
      {"18446744073709551616", std::nullopt},
      {"18446744073709551620", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"184467440737095516150", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {"++1", std::nullopt},
      {"+-1", std::nullopt},
      {" 2", std::nullopt},
      {"2 ", std::nullopt},
      {"2x", std::nullopt},
      {"1_000", std::nullopt},
      {"0x10", std::nullopt},
      {"\xd9\xa3", std::nullopt},  // ARABIC-INDIC DIGIT THREE is not an ASCII digit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    EXPECT_EQ(parse_index(c.text), c.expected);
  }
}

struct PayloadCase {
  std::vector<std::string> arguments;
  double expected;
};

TEST(ParseOptions, Payload) {
  const double inf = std::numeric_limits<double>::infinity();
  const PayloadCase cases[] = {
      {{}, 1337.0},
      {{"--payload=0"}, 0.0},
      {{"--payload=-5"}, -5.0},
      {{"--payload=1e3"}, 1000.0},
      {{"--payload=-Infinity"}, -inf},
      // Malformed values leave the payload as it was.
      {{"--payload=abc"}, 1337.0},
      {{"--payload="}, 1337.0},
      {{"--payload= 5"}, 1337.0},
      {{"--payload=1e"}, 1337.0},
      {{"--payload=."}, 1337.0},
      // Repetition: the last well-formed value wins; a later malformed one changes nothing.
      {{"--payload=1", "--payload=2"}, 2.0},
      {{"--payload=1", "--payload=x"}, 1.0},
      // Not the option at all.
      {{"-payload=1"}, 1337.0},
      {{"--PAYLOAD=1"}, 1337.0},
      {{"--payload", "1"}, 1337.0},
  };
  for (const PayloadCase& c : cases) {
    std::string trace;
    for (const auto& a : c.arguments) trace += "[" + a + "]";
    SCOPED_TRACE(trace);
    EXPECT_EQ(parse_options(c.arguments).payload, c.expected);
  }
  EXPECT_TRUE(std::isnan(parse_options(std::vector<std::string>{"--payload=nan"}).payload));
  EXPECT_TRUE(std::signbit(parse_options(std::vector<std::string>{"--payload=-0"}).payload));
}

TEST(ParseOptions, EmitJsonStaysOn) {
  struct Case {
    std::vector<std::string> arguments;
    bool expected;
  };
  const Case cases[] = {
      {{}, false},
      {{"--emit=json"}, true},
      {{"--emit=json", "--emit=text"}, true},
      {{"--emit=json", "--emit="}, true},
      {{"--emit=text", "--emit=json"}, true},
      {{"--emit=JSON"}, false},
      {{"--emit=json "}, false},
      {{"--emit=jsonx"}, false},
      {{"--emit", "json"}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? std::string("no arguments") : c.arguments.front());
    EXPECT_EQ(parse_options(c.arguments).emit_json, c.expected);
  }
}

TEST(ParseOptions, TextOptionsKeepTheLastValueEvenIfEmpty) {
  const std::vector<std::string> arguments{"--script=a.txt", "--simulate-case=X",
                                           "--script=",      "--simulate-case="};
  const VerifierOptions options = parse_options(arguments);
  EXPECT_EQ(options.script_path, std::optional<std::string>(""));
  EXPECT_EQ(options.simulate_case, std::optional<std::string>(""));

  const VerifierOptions none = parse_options({});
  EXPECT_FALSE(none.script_path.has_value());
  EXPECT_FALSE(none.simulate_case.has_value());
  EXPECT_FALSE(none.corrupt_index.has_value());
}

TEST(ParseOptions, CorruptIndexKeepsTheLastWellFormedValue) {
  struct Case {
    std::vector<std::string> arguments;
    std::optional<std::uint64_t> expected;
  };
  const Case cases[] = {
      {{"--corrupt-index=+2"}, 2},
      {{"--corrupt-index=1", "--corrupt-index=3"}, 3},
      {{"--corrupt-index=1", "--corrupt-index=-1"}, 1},
      {{"--corrupt-index=1", "--corrupt-index="}, 1},
      {{"--corrupt-index=1", "--corrupt-index=18446744073709551616"}, 1},
      {{"--corrupt-index=-1"}, std::nullopt},
      {{"--corrupt-index=99"}, 99},  // accepted here; the memory check ignores it
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.back());
    EXPECT_EQ(parse_options(c.arguments).corrupt_index, c.expected);
  }
}

TEST(ParseOptions, OtherArgumentsAreIgnored) {
  const std::vector<std::string> arguments{"--simulate-legal-hold", "--simulate-other", "x",
                                           "", "--", "--script"};
  const VerifierOptions options = parse_options(arguments);
  EXPECT_EQ(options.payload, 1337.0);
  EXPECT_FALSE(options.script_path.has_value());
  EXPECT_FALSE(options.emit_json);
  EXPECT_FALSE(options.simulate_case.has_value());
  EXPECT_FALSE(options.corrupt_index.has_value());
}

}  // namespace
}  // namespace qrv
