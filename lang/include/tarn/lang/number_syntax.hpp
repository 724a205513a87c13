// The script's number syntax, read in one place: by the parser, and by the command lines of the
// verifier and `tarn run`, which take numbers in it.
//
//   number   -> sign? mantissa exponent? | special
//   sign     -> "+" | "-"
//   mantissa -> digit+ ("." digit*)? | "." digit+
//   exponent -> ("e" | "E") sign? digit+
//   special  -> "infinity" | "inf" | "nan"      (any letter case, no sign; the longest word wins)
//
// A number is the nearest double to its decimal value (ties to even); a magnitude beyond the
// double range is an infinity with the sign, one below it a zero with the sign. A --payload= value
// (the verifier's and `tarn run`'s) adds one rule of its own: a special word may carry a sign
// ("-INF"), and then stands alone.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "tarn/lang/result.hpp"

namespace tarn::lang {

/// A number read from the front of a text: its value and the bytes it took.
struct ScannedNumber {
  double value = 0.0;
  std::size_t length = 0;
};

/// Why no number could be read.
enum class NumberError {
  NoNumber,               // neither a mantissa nor a special word begins here: "x", ".", "-inf"
  ExponentWithoutDigits,  // a mantissa, then "e" or "E" and perhaps a sign, but no digit: "1e+"
};

/// Reads the longest number at the start of `text`; what follows it is left.
/// **Example**: "1.5e3x" -> {1500.0, 5}; "Infinity)" -> {inf, 8}; "-inf" -> NoNumber;
/// "2e)" -> ExponentWithoutDigits.
Result<ScannedNumber, NumberError> scan_number(std::string_view text);

/// The whole of `text` as one number of the script's syntax, or nullopt.
/// **Example**: "1.e2" -> 100.0, "NaN" -> NaN, "-inf" -> nullopt, "1 " -> nullopt.
std::optional<double> parse_script_number(std::string_view text);

/// The whole of `text` as a command-line number: the script's syntax, except that a special word
/// may carry a sign and stands only alone. Nothing else: no spaces, no hexadecimal form.
/// **Example**: "1e3" -> 1000.0, "-INF" -> -inf, "+nan" -> NaN, "inf5" -> nullopt, " 5" -> nullopt.
std::optional<double> parse_command_line_number(std::string_view text);

}  // namespace tarn::lang
