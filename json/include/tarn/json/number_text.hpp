// The four ways this project writes a 64-bit float as text.
//
// All four share one core: the shortest decimal digit string that reads back as the same double
// (std::to_chars), decomposed once into sign, digits and the position of the decimal point.
// Each form is then a short layout rule on top of that decomposition:
//
//   form          1337.0   0.0001   1e-5     1e16                  -0.0   NaN    inf
//   JSON          1337.0   0.0001   1e-5     1e16                  -0.0   null   null
//   display       1337     0.0001   0.00001  10000000000000000     -0    NaN    inf
//   canonical     1337.0   0.0001   1e-5     1e16                  -0.0   NaN    inf
//   six-decimal   1337.000000 (fixed, six places, ties to even)     -0.000000
#pragma once

#include <array>
#include <string>

namespace tarn::json {

/// The powers of ten that a double holds exactly, 10^0 to 10^22: a decimal of at most 15 digits
/// scaled by one of them is one correctly rounded operation away from its nearest double.
inline constexpr std::array<double, 23> kPowersOfTen{
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

/// A finite double as value = (negative ? -1 : 1) * 0.DIGITS * 10^point, where DIGITS is the
/// shortest digit string that round-trips. Zero has digits "0" and point 1.
/// **Example**: 1337.0000000000018 -> {false, "13370000000000018", 4}; 0.00001234 -> {false, "1234", -4}.
struct Decomposed {
  bool negative = false;
  char digits[24] = {};
  int length = 0;  // number of digits
  int point = 0;   // position of the decimal point, as in 0.DIGITS x 10^point
};

/// Decomposes a finite double. Behaviour for NaN and infinities is unspecified; callers test first.
Decomposed decompose(double value);

/// JSON text form: 1.0, 1337.0000000000018, 0.00001234, 1e16, 1.5e300, -0.0; "null" when not finite.
void append_json_number(std::string& out, double value);
std::string json_number(double value);

/// Display form (run-error messages, the "Residual: " line): never an exponent, no forced ".0".
/// **Example**: 1.0 -> "1", 1e-12 -> "0.000000000001", -0.0 -> "-0", NaN -> "NaN", -inf -> "-inf".
void append_display_number(std::string& out, double value);
std::string display_number(double value);

/// Canonical form of instruction operands: exponent below 1e-4 and from 1e16, else at least one
/// fractional digit. **Example**: 1.0 -> "1.0", 0.00001 -> "1e-5", 1.5e17 -> "1.5e17", -0.0 -> "-0.0".
void append_canonical_number(std::string& out, double value);
std::string canonical_number(double value);

/// Six-decimal form: fixed notation, exactly six digits after the point, rounded to nearest with
/// ties to even on the exact binary value. **Example**: -125.87469806587123 -> "-125.874698".
void append_six_decimal(std::string& out, double value);
std::string six_decimal(double value);

}  // namespace tarn::json

