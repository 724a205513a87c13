// Floating-point <charconv> through one door: the three conversions between doubles and text that
// the number forms and the number scanner make.
//
// Where the standard library has floating-point to_chars and from_chars they are used as they
// are. Emscripten's libc++ (3.1.6) has neither, so the WebAssembly build takes the shortest form
// from its JavaScript host, whose rule is the same (see float_chars.cpp), and the other two from
// the portable forms below, built on the C library's correctly rounded printf and strtod. The
// tests check the portable forms against the standard library on the native build.
#pragma once

#include <charconv>

namespace tarn::json {

namespace portable {

/// std::to_chars(first, last, value, std::chars_format::fixed, precision): the exact binary value
/// rounded to `precision` decimals, ties to even. **Example**: 0.0078125, 6 -> "0.007812".
std::to_chars_result fixed(char* first, char* last, double value, int precision);

/// std::from_chars for a text that the number scanner has validated (digits, an optional "." and
/// digits, an optional exponent): the nearest double. Unlike it, a magnitude beyond the double
/// range is read as infinity and one that rounds to zero as zero, without an error.
std::from_chars_result from_chars(const char* first, const char* last, double& value);

}  // namespace portable

#if defined(__EMSCRIPTEN__)
/// std::to_chars(first, last, value, std::chars_format::scientific) for a finite value.
std::to_chars_result shortest_scientific_chars(char* first, char* last, double value);
inline std::to_chars_result fixed_chars(char* first, char* last, double value, int precision) {
  return portable::fixed(first, last, value, precision);
}
inline std::from_chars_result double_from_chars(const char* first, const char* last,
                                                double& value) {
  return portable::from_chars(first, last, value);
}
#else
/// The shortest digits that read back as `value` (the closest to it when several are as short),
/// in the exponent form. **Example**: 1337.0000000000018 -> "1.3370000000000018e+03".
inline std::to_chars_result shortest_scientific_chars(char* first, char* last, double value) {
  return std::to_chars(first, last, value, std::chars_format::scientific);
}
inline std::to_chars_result fixed_chars(char* first, char* last, double value, int precision) {
  return std::to_chars(first, last, value, std::chars_format::fixed, precision);
}
inline std::from_chars_result double_from_chars(const char* first, const char* last,
                                                double& value) {
  return std::from_chars(first, last, value);
}
#endif

}  // namespace tarn::json
