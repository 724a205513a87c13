// The four number text forms.
//
// Every form starts from one decomposition (sign, shortest round-trip digits, point position) and
// differs only in where it puts the point, zeros and exponent; each of those choices is a small
// predicate below with examples. The writers append straight into the caller's string because
// they run for every number of every report and canonical text, often in long loops.
#include "tarn/json/number_text.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "tarn/json/float_chars.hpp"

namespace tarn::json {
namespace {

// ---------------------------------------------------------------------------------------------
// Layout predicates on a decomposition with n digits and point p (value = 0.DIGITS x 10^p).

// Every digit lies before the point: 1337 {"1337", 4}, 1e15 {"1", 16}, 0 {"0", 1}.
constexpr bool is_integral(const Decomposed& d) { return d.point >= d.length; }

// JSON writes integral values up to sixteen integer digits positionally:
// 1000000000000000.0 {"1", 16} yes; 1e16 {"1", 17} no.
constexpr bool json_integral_fits(const Decomposed& d) { return is_integral(d) && d.point <= 16; }

// JSON puts the point inside the digits when there are one to sixteen integer digits:
// 1337.0000000000018 {"13370000000000018", 4}, -21.383029 {"21383029", 2}.
constexpr bool json_point_inside(const Decomposed& d) { return d.point > 0 && d.point <= 16; }

// JSON writes small magnitudes with up to four zeros after the point:
// 0.0001 {"1", -3} and 0.00001234 {"1234", -4} yes; 1e-6 {"1", -5} no (exponent form).
constexpr bool json_leading_zeros_fit(const Decomposed& d) { return d.point > -5 && d.point <= 0; }

// Canonical operands switch to the exponent form below 0.0001 and from 1e16, never for zero:
// 0.00001 -> 1e-5, 1e16 -> 1e16, but 0.0001 -> 0.0001 and 9999999999999998.0 stays positional.
// The thresholds are compared as doubles, so the double nearest 0.0001 is positional.
bool canonical_uses_exponent(double magnitude) {
  return magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 1e16);
}

// ---------------------------------------------------------------------------------------------
// Shared pieces of the layouts. All append to `out`; none allocates beyond `out` itself.

void append_digits(std::string& out, const Decomposed& d, int from, int to) {
  out.append(d.digits + from, static_cast<std::size_t>(to - from));
}

void append_zeros(std::string& out, int count) {
  if (count > 0) {
    out.append(static_cast<std::size_t>(count), '0');
  }
}

// Positional form without forcing a fraction: 1337 -> "1337", 1e20 -> "100000000000000000000",
// 1.5 -> "1.5", 1e-12 -> "0.000000000001".
void append_positional(std::string& out, const Decomposed& d) {
  if (is_integral(d)) {
    append_digits(out, d, 0, d.length);
    append_zeros(out, d.point - d.length);
  } else if (d.point > 0) {
    append_digits(out, d, 0, d.point);
    out.push_back('.');
    append_digits(out, d, d.point, d.length);
  } else {
    out.append("0.");
    append_zeros(out, -d.point);
    append_digits(out, d, 0, d.length);
  }
}

// Exponent form shared by JSON and canonical text: 1e16, 1e-6, 1.5e300, 4.9e-324 (no "+", no
// leading zeros in the exponent).
void append_exponent_form(std::string& out, const Decomposed& d) {
  out.push_back(d.digits[0]);
  if (d.length > 1) {
    out.push_back('.');
    append_digits(out, d, 1, d.length);
  }
  out.push_back('e');
  std::array<char, 8> exponent{};
  const auto written = std::to_chars(exponent.data(), exponent.data() + exponent.size(), d.point - 1);
  out.append(exponent.data(), written.ptr);
}

void append_sign(std::string& out, const Decomposed& d) {
  if (d.negative) {
    out.push_back('-');
  }
}

// Integral values below 2^53 in magnitude, the common case (0, 5, 200, 1337): their shortest
// round-trip digits are the integer's own digits, so every form that writes them positionally
// can take the digits from the integer and skip the decomposition. 2^53 < 1e16, so none of these
// is in an exponent range. False for NaN and the infinities.
bool is_small_integral(double value) {
  return std::fabs(value) < 9007199254740992.0 && value == std::trunc(value);
}

// "-" for a negative value (also -0.0), then the integer's digits: -0.0 -> "-0", 200.0 -> "200".
void append_small_integral(std::string& out, double value) {
  if (std::signbit(value)) {
    out.push_back('-');
  }
  std::array<char, 20> digits{};
  const auto written = std::to_chars(digits.data(), digits.data() + digits.size(),
                                     static_cast<std::uint64_t>(std::fabs(value)));
  out.append(digits.data(), written.ptr);
}

// NaN, inf and -inf as the display, canonical and six-decimal forms write them. The sign of a NaN
// is not shown: it carries no meaning and differs between platforms.
void append_non_finite(std::string& out, double value) {
  if (std::isnan(value)) {
    out.append("NaN");
  } else {
    out.append(value < 0 ? "-inf" : "inf");
  }
}

// The usual number in a script or report has a few decimals ("0.001", "2.5", "1e-12"). When the
// value is exactly what the decimal m / 10^k parses to, with m below 10^15, the digits of m are its
// shortest form: two different decimals of at most 15 significant digits never parse to the same
// (normal) double, so no shorter one can. Finding m this way costs a few multiplications instead
// of the general shortest conversion.
std::optional<Decomposed> decompose_short_decimal(double magnitude) {
  constexpr std::size_t kMaxScale = 15;  // m / 10^k for k up to 15
  constexpr double kLimit = 1e15;
  if (!(magnitude > 0.0)) return std::nullopt;
  for (std::size_t k = 0; k <= kMaxScale; ++k) {
    const double scaled = magnitude * kPowersOfTen[k];
    if (!(scaled < kLimit)) return std::nullopt;
    // Any m will do as a candidate: the division below, exact operands rounded once as a parse
    // rounds, decides whether m / 10^k really is the value.
    const auto m = static_cast<std::uint64_t>(scaled + 0.5);
    if (m == 0 || static_cast<double>(m) / kPowersOfTen[k] != magnitude) continue;
    std::array<char, 20> buffer{};
    const char* end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), m).ptr;
    const auto count = static_cast<int>(end - buffer.data());
    Decomposed d;
    d.point = count - static_cast<int>(k);
    while (end[-1] == '0') --end;  // m > 0, so a non-zero digit stops this
    d.length = static_cast<int>(end - buffer.data());
    std::copy(static_cast<const char*>(buffer.data()), end, d.digits);
    return d;
  }
  return std::nullopt;
}

}  // namespace

Decomposed decompose(double value) {
  if (std::optional<Decomposed> d = decompose_short_decimal(std::fabs(value))) {
    d->negative = std::signbit(value);
    return *d;
  }
  // Scientific shortest form: "1.3370000000000018e+03", "5e-324", "0e+00".
  std::array<char, 32> buffer{};
  const auto written =
      shortest_scientific_chars(buffer.data(), buffer.data() + buffer.size(), std::fabs(value));
  Decomposed d;
  d.negative = std::signbit(value);
  const char* p = buffer.data();
  for (; p != written.ptr && *p != 'e'; ++p) {
    if (*p != '.') {
      d.digits[d.length++] = *p;
    }
  }
  int exponent = 0;
  if (p != written.ptr) {
    const char* first = p + 1;
    if (*first == '+') {
      ++first;  // from_chars takes "-" but not "+"
    }
    std::from_chars(first, written.ptr, exponent);
  }
  d.point = exponent + 1;
  return d;
}

void append_json_number(std::string& out, double value) {
  if (is_small_integral(value)) {
    append_small_integral(out, value);
    out.append(".0");
    return;
  }
  if (!std::isfinite(value)) {
    out.append("null");
    return;
  }
  const Decomposed d = decompose(value);
  append_sign(out, d);
  if (json_integral_fits(d)) {
    append_positional(out, d);
    out.append(".0");
  } else if (json_point_inside(d) || json_leading_zeros_fit(d)) {
    append_positional(out, d);
  } else {
    append_exponent_form(out, d);
  }
}

std::string json_number(double value) {
  std::string out;
  append_json_number(out, value);
  return out;
}

void append_display_number(std::string& out, double value) {
  if (is_small_integral(value)) {
    append_small_integral(out, value);
    return;
  }
  if (!std::isfinite(value)) {
    append_non_finite(out, value);
    return;
  }
  const Decomposed d = decompose(value);
  append_sign(out, d);
  append_positional(out, d);
}

std::string display_number(double value) {
  std::string out;
  append_display_number(out, value);
  return out;
}

void append_canonical_number(std::string& out, double value) {
  if (is_small_integral(value)) {
    append_small_integral(out, value);
    out.append(".0");
    return;
  }
  if (!std::isfinite(value)) {
    append_non_finite(out, value);
    return;
  }
  const Decomposed d = decompose(value);
  append_sign(out, d);
  if (canonical_uses_exponent(std::fabs(value))) {
    append_exponent_form(out, d);
    return;
  }
  append_positional(out, d);
  if (is_integral(d)) {
    out.append(".0");  // 1 -> 1.0, 100 -> 100.0, -0.0 -> -0.0
  }
}

std::string canonical_number(double value) {
  std::string out;
  append_canonical_number(out, value);
  return out;
}

void append_six_decimal(std::string& out, double value) {
  if (!std::isfinite(value)) {
    append_non_finite(out, value);
    return;
  }
  // A fixed form with a precision rounds the exact binary value, ties to even, as required:
  // 0.0078125 -> "0.007812", 0.0234375 -> "0.023438". The largest double needs 309 integer digits.
  std::array<char, 330> buffer{};
  const auto written = fixed_chars(buffer.data(), buffer.data() + buffer.size(), value, 6);
  out.append(buffer.data(), written.ptr);
}

std::string six_decimal(double value) {
  std::string out;
  append_six_decimal(out, value);
  return out;
}

}  // namespace tarn::json
