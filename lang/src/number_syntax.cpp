// The number scanner: one pass over the text that both validates the syntax and gathers what the
// conversion needs.
//
// Scripts are made of short numbers ("0", "200", "0.001"), so the scan keeps the first fifteen
// significant digits as an integer while it validates them; a number without exponent that fits
// is then one exact division (Clinger's fast path). Everything else goes to from_chars,
// which is exact but rejects a leading "+" and refuses results outside the double range instead
// of returning an infinity or a zero; both are mended here.
#include "tarn/lang/number_syntax.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

#include "tarn/json/float_chars.hpp"
#include "tarn/json/number_text.hpp"

namespace tarn::lang {
namespace {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A number of at most this many significant digits is an integer below 2^53, exact as a double.
constexpr std::int64_t kExactDigits = 15;

// The mantissa's digits as the scan meets them.
struct MantissaDigits {
  std::uint64_t leading = 0;     // the first kExactDigits significant digits, as an integer
  std::int64_t significant = 0;  // significant digits, from the first non-zero one
  std::int64_t fraction = 0;     // digits after the point

  // digit* from `from`; the count taken.
  std::size_t take(std::string_view text, std::size_t from, bool after_point) {
    std::size_t i = from;
    for (; i < text.size() && is_digit(text[i]); ++i) {
      const auto digit = static_cast<std::uint64_t>(text[i] - '0');
      fraction += after_point ? 1 : 0;
      if (significant == 0 && digit == 0) continue;
      if (++significant <= kExactDigits) leading = leading * 10 + digit;
    }
    return i - from;
  }
};

// What scan_decimal found: a number of `length` bytes, or none (length 0) and why.
struct DecimalScan {
  double value = 0.0;
  std::size_t length = 0;
  NumberError error = NumberError::NoNumber;
};

// The magnitude of an unsigned decimal that the fast path does not take. `power` is the power of
// ten of its first non-zero digit, exponent included and saturated; unused when every digit is 0.
double convert_slow(std::string_view unsigned_text, bool zero, std::int64_t power) {
  double magnitude = 0.0;
  const auto result = json::double_from_chars(unsigned_text.data(),
                                              unsigned_text.data() + unsigned_text.size(),
                                              magnitude);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars refuses only results that round to zero or beyond the largest double, so the
    // magnitude's order alone tells which: at least 1 overflows, below 1 underflows. The mantissa
    // alone is not enough: "0.0000000001e400" overflows.
    magnitude = !zero && power >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return magnitude;
}

// sign? mantissa exponent?
DecimalScan scan_decimal(std::string_view text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) ++i;
  const std::size_t body = i;
  MantissaDigits digits;
  const std::size_t integer = digits.take(text, i, false);
  const std::int64_t integer_significant = digits.significant;
  i += integer;
  std::size_t fraction = 0;
  if (i < text.size() && text[i] == '.') {
    fraction = digits.take(text, i + 1, true);
    if (integer + fraction > 0) i += 1 + fraction;
  }
  if (integer + fraction == 0) return {};

  bool has_exponent = false;
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    // Saturated far beyond the double range: only the out-of-range decision reads it.
    constexpr std::int64_t kSaturation = std::int64_t{1} << 52;
    std::size_t j = i + 1;
    const bool exponent_negative = j < text.size() && text[j] == '-';
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    const std::size_t first_digit = j;
    for (; j < text.size() && is_digit(text[j]); ++j) {
      exponent = std::min(exponent * 10 + (text[j] - '0'), kSaturation);
    }
    if (j == first_digit) return {.error = NumberError::ExponentWithoutDigits};
    if (exponent_negative) exponent = -exponent;
    has_exponent = true;
    i = j;
  }

  double magnitude = 0.0;
  if (!has_exponent && digits.significant <= kExactDigits &&
      digits.fraction < static_cast<std::int64_t>(json::kPowersOfTen.size())) {
    // At most 15 digits are below 2^53 and 10^f up to 10^22 is exact, so the one correctly
    // rounded division is the nearest double, exactly what from_chars returns.
    magnitude = static_cast<double>(digits.leading) /
                json::kPowersOfTen[static_cast<std::size_t>(digits.fraction)];
  } else {
    // The first non-zero digit's power: "123" -> 2; "0.05" -> -2, as every fraction digit from
    // that one on is significant.
    const std::int64_t leading_power = integer_significant > 0
                                           ? integer_significant - 1
                                           : digits.significant - digits.fraction - 1;
    magnitude = convert_slow(text.substr(body, i - body), digits.significant == 0,
                             leading_power + exponent);
  }
  return {.value = negative ? -magnitude : magnitude, .length = i};
}

bool starts_with_ignoring_case(std::string_view text, std::string_view lower_word) {
  if (text.size() < lower_word.size()) return false;
  for (std::size_t i = 0; i < lower_word.size(); ++i) {
    const char c = text[i];
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != lower_word[i]) return false;
  }
  return true;
}

// special -> "infinity" | "inf" | "nan"      (any letter case, the longest word first)
std::optional<ScannedNumber> scan_special_word(std::string_view text) {
  struct Word {
    std::string_view lower;
    double value;
  };
  static constexpr std::array<Word, 3> kWords{{
      {"infinity", std::numeric_limits<double>::infinity()},
      {"inf", std::numeric_limits<double>::infinity()},
      {"nan", std::numeric_limits<double>::quiet_NaN()},
  }};
  for (const Word& word : kWords) {
    if (starts_with_ignoring_case(text, word.lower)) {
      return ScannedNumber{word.value, word.lower.size()};
    }
  }
  return std::nullopt;
}

}  // namespace

Result<ScannedNumber, NumberError> scan_number(std::string_view text) {
  // A decimal begins with a digit, a sign or a point; only a special word may begin otherwise,
  // so a sign before one is no number.
  const char first = text.empty() ? '\0' : text.front();
  if (is_digit(first) || first == '+' || first == '-' || first == '.') {
    const DecimalScan decimal = scan_decimal(text);
    if (decimal.length == 0) return fail(decimal.error);
    return ScannedNumber{decimal.value, decimal.length};
  }
  if (const std::optional<ScannedNumber> word = scan_special_word(text)) return *word;
  return fail(NumberError::NoNumber);
}

std::optional<double> parse_script_number(std::string_view text) {
  const Result<ScannedNumber, NumberError> number = scan_number(text);
  if (!number || number->length != text.size()) return std::nullopt;
  return number->value;
}

std::optional<double> parse_command_line_number(std::string_view text) {
  const bool negative = text.starts_with('-');
  const std::string_view unsigned_text =
      negative || text.starts_with('+') ? text.substr(1) : text;
  if (const std::optional<ScannedNumber> word = scan_special_word(unsigned_text);
      word && word->length == unsigned_text.size()) {
    // The sign applies to the infinities; a NaN stays the one quiet NaN.
    return negative && !std::isnan(word->value) ? -word->value : word->value;
  }
  const DecimalScan decimal = scan_decimal(text);
  if (decimal.length == 0 || decimal.length != text.size()) return std::nullopt;
  return decimal.value;
}

}  // namespace tarn::lang
