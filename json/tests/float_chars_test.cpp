// The portable conversions give the standard library's bytes and values: on doubles spread over
// every exponent, at powers of two and across powers of ten.
#include "tarn/json/float_chars.hpp"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace tarn::json {
namespace {

std::vector<double> sample_doubles() {
  std::vector<double> values = {0.0, -0.0, 5e-324, 1e-323, 2.2250738585072014e-308,
                                1.7976931348623157e308, 0.1, 0.3, 1e23, 9007199254740993.0,
                                1337.0000000000018, 0.0078125, 0.0234375, 999.9999999999999,
                                std::numeric_limits<double>::infinity()};
  // Powers of two and the doubles either side of powers of ten.
  for (int e = -1074; e <= 1023; e += 7) values.push_back(std::ldexp(1.0, e));
  for (int e = -300; e <= 300; e += 3) {
    const double power = std::pow(10.0, e);
    values.push_back(std::nextafter(power, 0.0));
    values.push_back(std::nextafter(power, 2 * power));
  }
  std::mt19937_64 random(20240611);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (std::isfinite(value)) values.push_back(value);
  }
  return values;
}

TEST(PortableFloatChars, FixedFormMatchesTheStandardLibrary) {
  for (const double value : sample_doubles()) {
    if (std::fabs(value) >= 1e300) continue;
    std::array<char, 400> expected{};
    std::array<char, 400> actual{};
    const auto a = std::to_chars(expected.data(), expected.data() + expected.size(), value,
                                 std::chars_format::fixed, 6);
    const auto b = portable::fixed(actual.data(), actual.data() + actual.size(), value, 6);
    ASSERT_EQ(std::string(actual.data(), b.ptr), std::string(expected.data(), a.ptr)) << value;
  }
}

TEST(PortableFloatChars, ReadsTheNearestDouble) {
  // Ties, the smallest denormal's half, a value just below the overflow threshold, many digits.
  std::vector<std::string> texts = {
      "0", "1e-400", "2.4703282292062328e-324", "2.5e-324", "1e400", "0.0000000001e400",
      "9007199254740993", "0.1000000000000000055511151231257827021181583404541015625",
      "17976931348623158079372897140530341507993413271003782693617377898044496829276475094664901"
      "797758720709633028641669288791094655554785194040263065748867150582068190890200070838367627"
      "385484581771153176447573027006985557136695962284291481986083493647529271907416844436551070"
      "434271155969950809304288017790417449779.99999999999999999999999999"};
  std::mt19937_64 random(7);
  for (int i = 0; i < 5000; ++i) {
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%.*ge%d", static_cast<int>(random() % 25 + 1),
                  std::bit_cast<double>(random() & 0x7fefffffffffffffULL) * 1e-10,
                  static_cast<int>(random() % 40) - 20);
    texts.emplace_back(buffer.data());
  }
  for (const std::string& text : texts) {
    if (text.find_first_not_of("0123456789.e-") != std::string::npos) continue;
    double standard = 0.0;
    double portable = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), standard);
    portable::from_chars(text.data(), text.data() + text.size(), portable);
    if (result.ec == std::errc::result_out_of_range) continue;  // mended by the scanner
    EXPECT_EQ(std::bit_cast<std::uint64_t>(portable), std::bit_cast<std::uint64_t>(standard))
        << text;
  }
}

}  // namespace
}  // namespace tarn::json
