// The number syntax: what each of its three rules makes of a text, and exact conversion (the
// short fast path against from_chars, the range ends, the written forms read back).
#include "tarn/lang/number_syntax.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "tarn/json/number_text.hpp"

namespace tarn::lang {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMin = 5e-324;                    // smallest denormal
constexpr double kMax = 1.7976931348623157e308;   // largest finite

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }
std::string zeros(std::size_t count) { return std::string(count, '0'); }

// A value as canonical text ("-0.0", "NaN", "-inf"), or "refused".
std::string shown(const std::optional<double>& value) {
  return value ? json::canonical_number(*value) : "refused";
}

// scan_number's value and length, or its error.
std::string shown(const Result<ScannedNumber, NumberError>& scan) {
  if (!scan) {
    return scan.error() == NumberError::NoNumber ? "NoNumber" : "ExponentWithoutDigits";
  }
  return json::canonical_number(scan->value) + " " + std::to_string(scan->length);
}

TEST(NumberSyntax, ThreeRules) {
  struct Case {
    std::string text;
    std::string scan;          // scan_number: the front of a script text
    std::string script;        // parse_script_number: a whole --values= item
    std::string command_line;  // parse_command_line_number: a whole --payload= value
  };
  const Case cases[] = {
      {"0", "0.0 1", "0.0", "0.0"},
      {"200)", "200.0 3", "refused", "refused"},
      {"-0", "-0.0 2", "-0.0", "-0.0"},
      {"+2", "2.0 2", "2.0", "2.0"},
      {"0.001", "0.001 5", "0.001", "0.001"},
      {"00012", "12.0 5", "12.0", "12.0"},
      {"1.", "1.0 2", "1.0", "1.0"},
      {".5", "0.5 2", "0.5", "0.5"},
      {"1.e2", "100.0 4", "100.0", "100.0"},
      {"+.5e+1", "5.0 6", "5.0", "5.0"},
      {"1E-2", "0.01 4", "0.01", "0.01"},
      {"1.5e3x", "1500.0 5", "refused", "refused"},
      {"1e5.0", "100000.0 3", "refused", "refused"},
      {"1 ", "1.0 1", "refused", "refused"},
      {"1e400", "inf 5", "inf", "inf"},
      {"-1e-400", "-0.0 7", "-0.0", "-0.0"},
      // special words: no sign in the script's syntax, a sign but nothing after on the command line
      {"nan", "NaN 3", "NaN", "NaN"},
      {"NaN)", "NaN 3", "refused", "refused"},
      {"INF", "inf 3", "inf", "inf"},
      {"Infinity", "inf 8", "inf", "inf"},
      {"infinityy", "inf 8", "refused", "refused"},
      {"infinit", "inf 3", "refused", "refused"},
      {"inf5", "inf 3", "refused", "refused"},
      {"-inf", "NoNumber", "refused", "-inf"},
      {"-iNfInItY", "NoNumber", "refused", "-inf"},
      {"+inf", "NoNumber", "refused", "inf"},
      {"-nan", "NoNumber", "refused", "NaN"},
      {"++inf", "NoNumber", "refused", "refused"},
      {"-nanx", "NoNumber", "refused", "refused"},
      {"nan(1)", "NaN 3", "refused", "refused"},
      // no number
      {"", "NoNumber", "refused", "refused"},
      {"+", "NoNumber", "refused", "refused"},
      {".", "NoNumber", "refused", "refused"},
      {"-.e1", "NoNumber", "refused", "refused"},
      {"e5", "NoNumber", "refused", "refused"},
      {" 5", "NoNumber", "refused", "refused"},
      {"--1", "NoNumber", "refused", "refused"},
      {"+-1", "NoNumber", "refused", "refused"},
      {"\xd9\xa1", "NoNumber", "refused", "refused"},  // ARABIC-INDIC DIGIT ONE
      {"1e", "ExponentWithoutDigits", "refused", "refused"},
      {"-2.5E+)", "ExponentWithoutDigits", "refused", "refused"},
      {"1ee2", "ExponentWithoutDigits", "refused", "refused"},
      {"0x10", "0.0 1", "refused", "refused"},
      {"1_000", "1.0 1", "refused", "refused"},
      {"1.2.3", "1.2 3", "refused", "refused"},
      {std::string("1\0", 2), "1.0 1", "refused", "refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(shown(scan_number(c.text)), c.scan);
    EXPECT_EQ(shown(parse_script_number(c.text)), c.script);
    EXPECT_EQ(shown(parse_command_line_number(c.text)), c.command_line);
  }
}

// The short path (at most 15 digits, no exponent) must give exactly what from_chars gives, on
// either side of each of its bounds.
TEST(NumberSyntax, ShortPathAgreesWithFromChars) {
  const std::string digit_runs[] = {
      "1", "7", "123456789012345", "999999999999999", "1234567890123456", "9007199254740993",
      "100000000000000000000000"};
  for (const std::string& digits : digit_runs) {
    for (std::size_t point = 0; point <= digits.size() + 24; ++point) {
      const std::string text = point <= digits.size()
                                   ? digits.substr(0, point) + "." + digits.substr(point)
                                   : "0." + zeros(point - digits.size()) + digits;
      SCOPED_TRACE(text);
      double expected = 0.0;
      std::from_chars(text.data(), text.data() + text.size(), expected);
      const auto scanned = scan_number(text);
      ASSERT_TRUE(scanned.has_value());
      EXPECT_EQ(scanned->length, text.size());
      EXPECT_EQ(bits(scanned->value), bits(expected));
    }
  }
}

// from_chars reports results outside the double range as errors; the scanner must still give the
// right infinity or zero, with the sign, and decide by the whole magnitude, not the mantissa.
TEST(NumberSyntax, OutOfRangeAndDenormals) {
  const std::string tiny_mantissa = "0." + zeros(30) + "1";
  struct Case {
    std::string text;
    double expected;
  };
  const Case cases[] = {
      {"5e-324", kMin},
      {"1.7976931348623157e308", kMax},
      {"+1e400", kInf},
      {"-1e400", -kInf},
      {"1.7976931348623159e308", kInf},
      {"1e99999999999999999999999", kInf},
      {tiny_mantissa + "e400", kInf},
      {"-" + tiny_mantissa + "e400", -kInf},
      {"0." + zeros(400) + "1e400", 0.1},
      {"1e-400", 0.0},
      {"1e-99999999999999999999999", 0.0},
      {"1" + zeros(30) + "e-400", 0.0},
      {"-1" + zeros(30) + "e-400", -0.0},
      {"2.4703282292062327e-324", 0.0},
      {"2.4703282292062328e-324", kMin},
      {"-4.9406564584124654e-324", -kMin},
      {"2.2250738585072011e-308", 2.2250738585072009e-308},
      {"0e99999", 0.0},
      {"-0e-99999", -0.0},
      {"0.1000000000000000055511151231257827", 0.1},
      {"9007199254740993", 9007199254740992.0},  // ties to even
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 60));
    const std::optional<double> value = parse_script_number(c.text);
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(bits(*value), bits(c.expected));
  }
}

// Every finite shortest form the writers produce must read back to the same bits.
TEST(NumberSyntax, WrittenFormsReadBack) {
  const double values[] = {0.1 + 0.2, 1337.0000000000018, 1e-6, 1e-5, 0.00001234, 1e16,
                           1.5e300,   kMin,               kMax, -21.383029, 9999999999999998.0,
                           std::nextafter(0.0001, 0.0)};
  for (const double value : values) {
    for (const std::string& text :
         {json::json_number(value), json::display_number(value), json::canonical_number(value)}) {
      SCOPED_TRACE(text);
      const std::optional<double> read = parse_script_number(text);
      ASSERT_TRUE(read.has_value());
      EXPECT_EQ(bits(*read), bits(value));
    }
  }
}

}  // namespace
}  // namespace tarn::lang
