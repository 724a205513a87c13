// The double <-> text conversions for standard libraries without floating-point <charconv>.
#include "tarn/json/float_chars.hpp"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

#if defined(__EMSCRIPTEN__)
#include <emscripten.h>

// JavaScript's exponent form of a finite double, written as ASCII into `out` (32 bytes are
// enough: "-1.2345678901234567e-308"); returns its length. toExponential() without digits gives
// the shortest digits that read back as the value; V8, SpiderMonkey and JavaScriptCore take the
// closest of those, ties to even, which is the rule of std::to_chars.
// clang-format off
EM_JS(int, javascript_exponent_form, (double value, char* out), {
  const text = value.toExponential();
  for (let i = 0; i < text.length; ++i) HEAPU8[out + i] = text.charCodeAt(i);
  return text.length;
});
// clang-format on
#endif

namespace tarn::json {
namespace {

std::to_chars_result copy_out(char* first, char* last, const char* text, std::size_t size) {
  if (static_cast<std::size_t>(last - first) < size) return {last, std::errc::value_too_large};
  std::memcpy(first, text, size);
  return {first + size, std::errc{}};
}

}  // namespace

#if defined(__EMSCRIPTEN__)
// Calling the host costs a fraction of a microsecond; finding the shortest digits with printf and
// strtod costs up to seventeen rounds of both, about 20 us a number here, which made a run's result
// document (four values of seventeen digits) take 120 us instead of 15 us.
std::to_chars_result shortest_scientific_chars(char* first, char* last, double value) {
  std::array<char, 40> text{};
  const auto size = static_cast<std::size_t>(javascript_exponent_form(value, text.data()));
  // "1.5e+2" -> "1.5e+02": two exponent digits at least, as std::to_chars writes them.
  const char* e = static_cast<const char*>(std::memchr(text.data(), 'e', size));
  const std::size_t exponent_digits = size - static_cast<std::size_t>(e - text.data()) - 2;
  if (exponent_digits != 1) return copy_out(first, last, text.data(), size);
  std::array<char, 40> padded{};
  const std::size_t head = size - 1;
  std::memcpy(padded.data(), text.data(), head);
  padded[head] = '0';
  padded[head + 1] = text[head];
  return copy_out(first, last, padded.data(), size + 1);
}
#endif

namespace portable {

std::to_chars_result fixed(char* first, char* last, double value, int precision) {
  // The largest double has 309 integer digits.
  std::array<char, 400> buffer{};
  const int size = std::snprintf(buffer.data(), buffer.size(), "%.*f", precision, value);
  return copy_out(first, last, buffer.data(), static_cast<std::size_t>(size));
}

std::from_chars_result from_chars(const char* first, const char* last, double& value) {
  const std::string text(first, last);  // strtod needs the end marked
  const int saved = errno;
  value = std::strtod(text.c_str(), nullptr);
  errno = saved;
  return {last, std::errc{}};
}

}  // namespace portable
}  // namespace tarn::json
