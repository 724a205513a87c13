// Places in a text as the protocol counts them: see positions.hpp.
#include "positions.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarn::tool::lsp {
namespace {

// The bytes of the character that begins with `lead` (a stray continuation byte: one).
std::size_t character_bytes(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

// Its UTF-16 code units: two for a character beyond U+FFFF, whose UTF-8 takes four bytes.
std::uint32_t utf16_units(unsigned char lead) { return lead >= 0xF0 ? 2 : 1; }

}  // namespace

LineIndex::LineIndex(std::string_view text) : text_(text) {
  starts_.push_back(0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') starts_.push_back(i + 1);
  }
}

Position LineIndex::position(std::size_t offset) const {
  offset = std::min(offset, text_.size());
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const auto line = static_cast<std::size_t>(after - starts_.begin()) - 1;
  std::uint32_t character = 0;
  for (std::size_t i = starts_[line]; i < offset;) {
    const auto lead = static_cast<unsigned char>(text_[i]);
    character += utf16_units(lead);
    i += character_bytes(lead);
  }
  return {static_cast<std::uint32_t>(line), character};
}

Position LineIndex::position(std::uint32_t line, std::uint32_t column) const {
  if (line == 0) return {};
  const std::size_t index = std::min<std::size_t>(line - 1, starts_.size() - 1);
  std::size_t i = starts_[index];
  std::uint32_t character = 0;
  for (std::uint32_t passed = 1; passed < column && i < text_.size() && text_[i] != '\n';
       ++passed) {
    const auto lead = static_cast<unsigned char>(text_[i]);
    character += utf16_units(lead);
    i += character_bytes(lead);
  }
  return {static_cast<std::uint32_t>(index), character};
}

std::size_t LineIndex::offset(Position position) const {
  if (position.line >= starts_.size()) return text_.size();
  std::size_t i = starts_[position.line];
  for (std::uint32_t units = 0; i < text_.size() && text_[i] != '\n';) {
    const auto lead = static_cast<unsigned char>(text_[i]);
    units += utf16_units(lead);
    if (units > position.character) break;
    i += character_bytes(lead);
  }
  return std::min(i, text_.size());
}

nlohmann::json to_json(Position position) {
  return {{"line", position.line}, {"character", position.character}};
}

nlohmann::json range_json(Position start, Position end) {
  return {{"start", to_json(start)}, {"end", to_json(end)}};
}

}  // namespace tarn::tool::lsp
