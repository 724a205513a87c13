// Places in a text as diagnostics give them: line, column, range and the quoted line. Shared by
// the diagnostics of errors and the checker's warnings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/parser.hpp"

namespace tarn::lang::detail {

/// Where the lines of a text begin, for a caller that locates many places in one text: each
/// place then costs a search and its own line, not a count from the start of the text.
class LineIndex {
 public:
  explicit LineIndex(std::string_view text);
  /// What line_column(text, offset) gives.
  LineColumn at(std::size_t offset) const;
  /// Whether this indexes `text` (the same bytes at the same place).
  bool indexes(std::string_view text) const {
    return text.data() == text_.data() && text.size() == text_.size();
  }

 private:
  std::string_view text_;
  std::vector<std::size_t> starts_;
};

/// The line of `text` around byte `offset`, with the characters from there to `end` (on that
/// line) to underline.
SourceExcerpt excerpt_at(std::string_view text, std::size_t offset, std::size_t end);

/// Sets where `diagnostic` stands: from byte `offset` to byte `end` of `text`, whose lines
/// `lines` has indexed when given.
void place(Diagnostic& diagnostic, std::string_view text, std::size_t offset, std::size_t end,
           const LineIndex* lines = nullptr);

/// A related place at byte `offset` of `text`, the file named `file` (whose lines `lines` has
/// indexed when given).
RelatedLocation related_at(std::string_view text, std::string_view file, std::size_t offset,
                           std::string message, const LineIndex* lines = nullptr);

}  // namespace tarn::lang::detail
