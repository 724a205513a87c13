// The portable double <-> text conversions, for standard libraries without floating-point
// <charconv>. Speed is secondary here: only the WebAssembly build uses them, and only for numbers
// that the number forms' fast paths do not take.
#include "tarn/json/float_chars.hpp"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace tarn::json::portable {
namespace {

// Enough for "-d.dddddddddddddddde-308" and for a fixed form of the largest double with a few
// decimals (309 integer digits).
constexpr std::size_t kBufferSize = 400;
using Buffer = std::array<char, kBufferSize>;

double read_back(const char* text) { return std::strtod(text, nullptr); }

// Writes the exponent part "e+NN" (at least two digits, as printf and to_chars write it) over
// the text from position `e` on.
void set_exponent(std::string& text, std::size_t e, int exponent) {
  std::array<char, 16> tail{};
  std::snprintf(tail.data(), tail.size(), "e%c%02d", exponent < 0 ? '-' : '+',
                exponent < 0 ? -exponent : exponent);
  text.replace(e, std::string::npos, tail.data());
}

// Steps the digits of a "%.*e" text by one unit in the last place, up or down in magnitude, to
// the next text of as many digits: "1.25e+03" -> "1.26e+03" or "1.24e+03"; across a power of ten,
// "9.99e+03" up -> "1.00e+04" and "1.00e+04" down -> "9.99e+03".
void step_last_digit(std::string& text, bool up) {
  const std::size_t e = text.find('e');
  const std::size_t lead = text[0] == '-' ? 1 : 0;
  const int exponent = std::atoi(text.c_str() + e + 1);
  for (std::size_t i = e; i-- > lead;) {
    char& c = text[i];
    if (c == '.') continue;
    if (up ? c != '9' : c != '0') {
      c = static_cast<char>(up ? c + 1 : c - 1);
      break;
    }
    c = up ? '0' : '9';
  }
  // The first digit is 0 only after a carry out of it ("9.99" up gave "0.00") or a borrow from it
  // ("1.00" down gave "0.99"): 10.00 x 10^n is 1.000 x 10^(n+1), 0.999 x 10^n is 9.99 x 10^(n-1).
  if (text[lead] == '0') {
    text[lead] = up ? '1' : '9';
    set_exponent(text, e, exponent + (up ? 1 : -1));
  }
}

std::to_chars_result copy_out(char* first, char* last, const std::string& text) {
  if (static_cast<std::size_t>(last - first) < text.size()) {
    return {last, std::errc::value_too_large};
  }
  std::memcpy(first, text.data(), text.size());
  return {first + text.size(), std::errc{}};
}

}  // namespace

// Among the texts of the fewest digits that read back as the value, the shortest form takes the
// one closest to it. With p + 1 digits that is the correctly rounded "%.{p}e" text when it reads
// back; when it does not, the only other candidate is its neighbour on the far side of the value
// (a double's rounding interval is lopsided at a power of two), and when neither reads back no
// text of p + 1 digits does. Seventeen digits always read back.
std::to_chars_result shortest_scientific(char* first, char* last, double value) {
  Buffer buffer{};
  std::string text;
  for (int precision = 0; precision <= 16; ++precision) {
    std::snprintf(buffer.data(), buffer.size(), "%.*e", precision, value);
    text = buffer.data();
    const double rounded = read_back(text.c_str());
    if (rounded == value || value != value) break;  // NaN and the infinities read back as such
    step_last_digit(text, (rounded < value) != (value < 0));
    if (read_back(text.c_str()) == value) break;
  }
  return copy_out(first, last, text);
}

std::to_chars_result fixed(char* first, char* last, double value, int precision) {
  Buffer buffer{};
  std::snprintf(buffer.data(), buffer.size(), "%.*f", precision, value);
  return copy_out(first, last, buffer.data());
}

std::from_chars_result from_chars(const char* first, const char* last, double& value) {
  const std::string text(first, last);  // strtod needs the end marked
  const int saved = errno;
  value = std::strtod(text.c_str(), nullptr);
  errno = saved;
  return {last, std::errc{}};
}

}  // namespace tarn::json::portable
