// Character classification by the pinned Unicode tables, and a strict UTF-8 decoder.
//
// The tables (unicode_tables.hpp) are generated from ICU and checked in, so the classes follow
// one Unicode version whatever the machine has installed, and no character database is linked.
#include "unicode.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <span>

#include "unicode_tables.hpp"

namespace tarn::lang::unicode {
namespace {

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// True when `code_point` lies in one of `ranges`, which are sorted and disjoint. A binary search
// over a few hundred ranges: only non-ASCII characters come here.
bool in_ranges(std::span<const tables::Range> ranges, char32_t code_point) {
  // The first range that starts after the character; only the one before it can hold it.
  const auto after = std::upper_bound(
      ranges.begin(), ranges.end(), code_point,
      [](char32_t c, const tables::Range& range) { return c < range.first; });
  return after != ranges.begin() && code_point <= std::prev(after)->last;
}

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
  return in_ranges(tables::kNeedsEscape, code_point);
}

bool is_identifier_char(char32_t code_point) noexcept {
  return in_ranges(tables::kIdentifierChar, code_point);
}

}  // namespace tarn::lang::unicode
