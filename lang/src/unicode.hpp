// The two Unicode questions the front end asks, and a UTF-8 decoder to ask them with.
//
// This is the only unit that classifies characters, so the Unicode version the project follows
// is fixed in one place: the generated tables of unicode_tables.hpp. Callers handle ASCII
// themselves and come here only for other characters, which keeps the table search off the
// common path.
#pragma once

#include <cstddef>
#include <string_view>

namespace tarn::lang::unicode {

/// What an ill-formed sequence decodes as, with length 1 (the character itself takes three bytes).
inline constexpr char32_t kReplacement = 0xFFFD;

/// One decoded character and the number of bytes it took. An ill-formed sequence decodes as
/// U+FFFD of length 1, so a caller always makes progress even on bytes that are not UTF-8.
struct Decoded {
  char32_t code_point;
  std::size_t length;
};

/// Decodes the character at the start of `text`, which must not be empty.
/// **Example**: decode_utf8("\xC3\xA9t\xC3\xA9") -> {U+00E9, 2}.
Decoded decode_utf8(std::string_view text) noexcept;

/// True when a text operand must show `code_point` as \u{hex}: a control character, a character
/// that is not printable (general category Cc, Cf, Cs, Co, Cn, Zl, Zp, or Zs other than U+0020)
/// or a grapheme extender. **Example**: U+0301 (combining acute) -> true, U+00E9 -> false.
bool needs_escape(char32_t code_point) noexcept;

/// True when `code_point` may stand in an identifier: Alphabetic, a number (Nd, Nl, No) or "_".
/// **Example**: U+00E9 -> true, U+00B2 (superscript two, No) -> true, U+00A0 -> false.
bool is_identifier_char(char32_t code_point) noexcept;

}  // namespace tarn::lang::unicode
