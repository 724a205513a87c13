// Character classification by ICU's character database, and a strict UTF-8 decoder.
//
// The categories are tested through ICU's category numbers rather than its mask macros, which
// are written with C casts that our warning flags reject.
#include "unicode.hpp"

#include <unicode/uchar.h>

#include <cstdint>

namespace tarn::lang::unicode {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

UChar32 to_icu(char32_t code_point) { return static_cast<UChar32>(code_point); }

}  // namespace

Decoded decode_utf8(std::string_view text) noexcept {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return {lead, 1};
  // The lead byte fixes the length, the payload bits it carries and the smallest value that
  // length may encode (anything below is an overlong form).
  std::size_t length = 4;
  char32_t code_point = lead & 0x07u;
  char32_t minimum = 0x10000;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead < 0xF0 || lead > 0xF4) {
    return {kReplacement, 1};
  }
  if (text.size() < length) return {kReplacement, 1};
  for (std::size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (!is_continuation(byte)) return {kReplacement, 1};
    code_point = (code_point << 6) | (byte & 0x3Fu);
  }
  // Surrogates and values past U+10FFFF are not characters.
  if (code_point < minimum || (code_point >= 0xD800 && code_point <= 0xDFFF) ||
      code_point > 0x10FFFF) {
    return {kReplacement, 1};
  }
  return {code_point, length};
}

bool needs_escape(char32_t code_point) noexcept {
  const UChar32 c = to_icu(code_point);
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

bool is_identifier_char(char32_t code_point) noexcept {
  if (code_point == U'_') return true;
  const UChar32 c = to_icu(code_point);
  switch (static_cast<UCharCategory>(u_charType(c))) {
    case U_DECIMAL_DIGIT_NUMBER:  // Nd
    case U_LETTER_NUMBER:         // Nl
    case U_OTHER_NUMBER:          // No
      return true;
    default:
      return u_hasBinaryProperty(c, UCHAR_ALPHABETIC) != 0;
  }
}

}  // namespace tarn::lang::unicode
