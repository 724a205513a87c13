// The portable conversions give the standard library's bytes and values: on doubles spread over
// every exponent, on the lopsided rounding intervals at powers of two, and across powers of ten.
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

using ToChars = std::to_chars_result (*)(char*, char*, double);

std::string text_of(ToChars convert, double value) {
  std::array<char, 400> buffer{};
  const auto written = convert(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), written.ptr);
}

std::vector<double> sample_doubles() {
  std::vector<double> values = {0.0, -0.0, 5e-324, 1e-323, 2.2250738585072014e-308,
                                1.7976931348623157e308, 0.1, 0.3, 1e23, 9007199254740993.0,
                                1337.0000000000018, 0.0078125, 0.0234375, 999.9999999999999,
                                std::numeric_limits<double>::infinity()};
  // Powers of two (lopsided intervals) and the doubles either side of powers of ten.
  for (int e = -1074; e <= 1023; ++e) values.push_back(std::ldexp(1.0, e));
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

TEST(PortableFloatChars, ShortestAndFixedFormsMatchTheStandardLibrary) {
  const ToChars standard_shortest = [](char* first, char* last, double value) {
    return std::to_chars(first, last, value, std::chars_format::scientific);
  };
  const ToChars portable_shortest = [](char* first, char* last, double value) {
    return portable::shortest_scientific(first, last, value);
  };
  const ToChars standard_fixed = [](char* first, char* last, double value) {
    return std::to_chars(first, last, value, std::chars_format::fixed, 6);
  };
  const ToChars portable_fixed = [](char* first, char* last, double value) {
    return portable::fixed(first, last, value, 6);
  };
  for (const double value : sample_doubles()) {
    ASSERT_EQ(text_of(portable_shortest, value), text_of(standard_shortest, value)) << value;
    if (std::fabs(value) < 1e300) {
      ASSERT_EQ(text_of(portable_fixed, value), text_of(standard_fixed, value)) << value;
    }
  }
}

TEST(PortableFloatChars, ReadsTheNearestDouble) {
  std::vector<std::string> texts = {"0", "1e-400", "2.4703282292062328e-324", "2.5e-324",
                                    "1e400", "0.0000000001e400", "179769313486231580793728971405303415079934132710037826936173778980444968292764750946649017977587207096330286416692887910946555547851940402630657488671505820681908902000708383676273854845817711531764475730270069855571366959622842914819860834936475292719074168444365510704342711559699508093042880177904174497791.9999999999999999999999999999999999999999999999999999999999999999999999",
                                    "9007199254740993", "0.1000000000000000055511151231257827021181583404541015625"};
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
    EXPECT_EQ(std::bit_cast<std::uint64_t>(portable), std::bit_cast<std::uint64_t>(standard)) << text;
  }
}

}  // namespace
}  // namespace tarn::json
