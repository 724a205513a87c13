// Places in a text as the protocol counts them: lines from 0, characters in UTF-16 code units
// (a character outside the Basic Multilingual Plane counts two). The library counts lines and
// columns from 1 and columns in characters (code points); both end lines at "\n" alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarn::tool::lsp {

struct Position {
  std::uint32_t line = 0;
  std::uint32_t character = 0;
  friend bool operator==(const Position&, const Position&) = default;
};

/// The lines of one UTF-8 text, indexed once for many conversions. The text must outlive it.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);

  /// The place of byte `offset` (the end of the text for a larger one).
  /// **Example**: in "a\U0001F600b", offset 5 -> {0, 3}.
  Position position(std::size_t offset) const;
  /// The place of the library's line:column (both from 1; 0 means the start of the text).
  /// **Example**: in "\U0001F600x", 1:2 -> {0, 2}.
  Position position(std::uint32_t line, std::uint32_t column) const;
  /// The byte offset of a place; past the end of its line is the line's end, past the last line
  /// the text's end, and inside a character of two code units that character's start.
  std::size_t offset(Position position) const;

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;  // the offset of each line's first byte
};

nlohmann::json to_json(Position position);
/// A range from two places, as {"start": ..., "end": ...}.
nlohmann::json range_json(Position start, Position end);

}  // namespace tarn::tool::lsp
