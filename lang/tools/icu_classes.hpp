// The language's two character classes as ICU defines them: the reference that
// tarn-unicode-tables writes lang/src/unicode_tables.hpp from, and that the table check compares
// the library against. Neither the library nor the tools link ICU.
//
// The categories are tested through ICU's category numbers rather than its mask macros, which
// are written with C casts that our warning flags reject.
#pragma once

#include <unicode/uchar.h>

namespace tarn::lang::unicode::icu {

/// Control, format, surrogate, private-use, unassigned, line and paragraph separators, the space
/// separators but U+0020, and the grapheme extenders. **Example**: U+0301 -> true.
inline bool needs_escape(char32_t code_point) {
  const auto c = static_cast<UChar32>(code_point);
  switch (static_cast<UCharCategory>(u_charType(c))) {
    case U_CONTROL_CHAR:          // Cc
    case U_FORMAT_CHAR:           // Cf
    case U_SURROGATE:             // Cs
    case U_PRIVATE_USE_CHAR:      // Co
    case U_UNASSIGNED:            // Cn
    case U_LINE_SEPARATOR:        // Zl
    case U_PARAGRAPH_SEPARATOR:   // Zp
      return true;
    case U_SPACE_SEPARATOR:       // Zs: the plain space alone is printable
      return code_point != U' ';
    default:
      return u_hasBinaryProperty(c, UCHAR_GRAPHEME_EXTEND) != 0;
  }
}

/// Alphabetic, a number (Nd, Nl, No) or "_". **Example**: U+00B2 (superscript two) -> true.
inline bool is_identifier_char(char32_t code_point) {
  if (code_point == U'_') return true;
  const auto c = static_cast<UChar32>(code_point);
  switch (static_cast<UCharCategory>(u_charType(c))) {
    case U_DECIMAL_DIGIT_NUMBER:  // Nd
    case U_LETTER_NUMBER:         // Nl
    case U_OTHER_NUMBER:          // No
      return true;
    default:
      return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) != 0;
  }
}

}  // namespace tarn::lang::unicode::icu
