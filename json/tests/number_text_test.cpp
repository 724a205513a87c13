// Number text forms: one table per form, one loop each.
#include "tarn/json/number_text.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace tarn::json {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMin = 5e-324;                    // smallest denormal
constexpr double kMax = 1.7976931348623157e308;   // largest finite

struct FormCase {
  double value;
  std::string expected;
};

std::string repeat_zeros(std::size_t count) { return std::string(count, '0'); }

TEST(Decompose, DigitsAndPoint) {
  struct Case {
    double value;
    bool negative;
    std::string digits;
    int point;
  };
  const Case cases[] = {
      {0.0, false, "0", 1},
      {-0.0, true, "0", 1},
      {1337.0000000000018, false, "13370000000000018", 4},
      {0.00001234, false, "1234", -4},
      {-1.5e300, true, "15", 301},
      {kMin, false, "5", -323},
      {kMax, false, "17976931348623157", 309},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.digits);
    const Decomposed d = decompose(c.value);
    EXPECT_EQ(d.negative, c.negative);
    EXPECT_EQ(std::string(d.digits, static_cast<std::size_t>(d.length)), c.digits);
    EXPECT_EQ(d.point, c.point);
  }
}

// The shortest digits straight from std::to_chars, the definition that decompose must meet
// whichever way it finds them.
std::pair<std::string, int> shortest_digits(double magnitude) {
  std::array<char, 32> buffer{};
  const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude,
                                 std::chars_format::scientific).ptr;
  const std::string text(buffer.data(), end);
  const std::size_t e = text.find('e');
  std::string digits = text.substr(0, e);
  digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
  return {digits, std::stoi(text.substr(e + 1)) + 1};
}

TEST(Decompose, AgreesWithTheShortestConversion) {
  std::vector<double> values;
  // Short decimals of every scale the fast path covers, their neighbours, and near misses.
  std::uint64_t state = 42;
  const auto next = [&state] {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return state >> 11;
  };
  for (int k = 0; k <= 17; ++k) {
    for (int i = 0; i < 400; ++i) {
      const double m = static_cast<double>(next() % 1'000'000'000'000'000u);
      const double value = m / std::pow(10.0, k);
      values.push_back(value);
      values.push_back(std::nextafter(value, 0.0));
      values.push_back(std::nextafter(value, kMax));
    }
  }
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = next() | (next() << 53);
    double value = 0.0;
    std::memcpy(&value, &bits, sizeof value);
    if (std::isfinite(value)) values.push_back(value);
  }
  for (const double value : {0.001, 0.1, 0.3, 2.5, 1e-12, 1e-15, 1e-16, 999999999999999.0,
                             1e15, 0.1 + 0.2, 5e-324, 123456789012345.6}) {
    values.push_back(value);
  }
  for (const double value : values) {
    if (value == 0.0) continue;
    SCOPED_TRACE(value);
    const Decomposed d = decompose(-value);
    const auto [digits, point] = shortest_digits(std::fabs(value));
    ASSERT_EQ(std::string(d.digits, static_cast<std::size_t>(d.length)), digits);
    ASSERT_EQ(d.point, point);
    ASSERT_EQ(d.negative, !std::signbit(value));
  }
}

TEST(NumberText, JsonForm) {
  const FormCase cases[] = {
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {1.0, "1.0"},
      {-2.0, "-2.0"},
      {1337.0, "1337.0"},
      {1e15, "1000000000000000.0"},
      {9007199254740992.0, "9007199254740992.0"},
      {1e16, "1e16"},
      {1.5e17, "1.5e17"},
      {12345678901234567.0, "1.2345678901234568e16"},
      {1e21, "1e21"},
      {1.5e300, "1.5e300"},
      {kMax, "1.7976931348623157e308"},
      {1337.0000000000018, "1337.0000000000018"},
      {-21.383029, "-21.383029"},
      {999999999999999.9, "999999999999999.9"},
      {0.5, "0.5"},
      {0.1 + 0.2, "0.30000000000000004"},
      {0.0001, "0.0001"},
      {0.00001234, "0.00001234"},
      {1e-5, "0.00001"},
      {1e-6, "1e-6"},
      {-1.5e-7, "-1.5e-7"},
      {kMin, "5e-324"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {kNaN, "null"},
      {kInf, "null"},
      {-kInf, "null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(json_number(c.value), c.expected);
  }
}

TEST(NumberText, DisplayForm) {
  const FormCase cases[] = {
      {0.0, "0"},
      {-0.0, "-0"},
      {1.0, "1"},
      {-3.0, "-3"},
      {1337.0, "1337"},
      {0.5, "0.5"},
      {1337.0000000000018, "1337.0000000000018"},
      {-21.383029, "-21.383029"},
      {1e-7, "0.0000001"},
      {1e-12, "0.000000000001"},
      {1e20, "100000000000000000000"},
      {1.5e300, "15" + repeat_zeros(299)},
      {kMax, "17976931348623157" + repeat_zeros(292)},
      {kMin, "0." + repeat_zeros(323) + "5"},
      {-kMin, "-0." + repeat_zeros(323) + "5"},
      {0.1 + 0.2, "0.30000000000000004"},
      {kNaN, "NaN"},
      {-kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(display_number(c.value), c.expected);
  }
}

TEST(NumberText, CanonicalForm) {
  const FormCase cases[] = {
      {1.0, "1.0"},
      {0.5, "0.5"},
      {100.0, "100.0"},
      {-2.0, "-2.0"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
      {123456.75, "123456.75"},
      {0.0001, "0.0001"},
      {std::nextafter(0.0001, 0.0), "9.999999999999999e-5"},
      {0.00001, "1e-5"},
      {0.000015, "1.5e-5"},
      {-1e-6, "-1e-6"},
      {kMin, "5e-324"},
      {9999999999999998.0, "9999999999999998.0"},
      {1e15, "1000000000000000.0"},
      {1e16, "1e16"},
      {1.5e17, "1.5e17"},
      {-kMax, "-1.7976931348623157e308"},
      {1337.0000000000018, "1337.0000000000018"},
      {0.1 + 0.2, "0.30000000000000004"},
      {kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(canonical_number(c.value), c.expected);
  }
}

TEST(NumberText, SixDecimalForm) {
  const FormCase cases[] = {
      {0.0, "0.000000"},
      {-0.0, "-0.000000"},
      {-1e-9, "-0.000000"},
      {1337.0000000000018, "1337.000000"},
      {-125.87469806587123, "-125.874698"},
      {74.12530193412877, "74.125302"},
      {0.1 + 0.2, "0.300000"},
      // Decimal ties that are not ties in binary: each rounds by its exact value.
      {0.0000005, "0.000000"},   // 4.99999999999999977e-7
      {2.5e-7, "0.000000"},      // 2.49999999999999989e-7
      {1.0000005, "1.000001"},   // 1.00000050000000007
      {0.5000005, "0.500000"},   // 0.50000049999999996
      // Exact binary ties go to the even digit.
      {0.0078125, "0.007812"},
      {0.0234375, "0.023438"},
      {-0.0078125, "-0.007812"},
      {1e20, "100000000000000000000.000000"},
      // Large values show their exact binary value, not the shortest digits padded with zeros.
      {1e23, "99999999999999991611392.000000"},
      {kMax, "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558"
             "632766878171540458953514382464234321326889464182768467546703537516986049910576551282076245"
             "490090389328944075868508455133942304583236903222948165808559332123348274797826204144723168"
             "738177180919299881250404026184124858368.000000"},
      {kNaN, "NaN"},
      {kInf, "inf"},
      {-kInf, "-inf"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(six_decimal(c.value), c.expected);
  }
}

TEST(NumberText, AppendKeepsWhatIsThere) {
  std::string out = "x=";
  append_json_number(out, 1.0);
  append_display_number(out, 2.0);
  append_canonical_number(out, 3.0);
  append_six_decimal(out, 4.0);
  EXPECT_EQ(out, "x=1.0" "2" "3.0" "4.000000");
}

}  // namespace
}  // namespace tarn::json
