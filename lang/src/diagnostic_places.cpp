// Places in a text as diagnostics give them: see diagnostic_places.hpp.
#include "diagnostic_places.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tarn::lang {
namespace detail {
namespace {

std::uint32_t characters(std::string_view text) {
  return static_cast<std::uint32_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;  // not a continuation byte
  }));
}

// The start of the character that holds byte `at` (moved back over continuation bytes).
std::size_t character_start(std::string_view text, std::size_t at) {
  while (at > 0 && at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) --at;
  return at;
}

// Lines longer than this are cut around the place, so that a script written on one long line
// does not print megabytes under its message.
constexpr std::size_t kLongestExcerpt = 240;
constexpr std::size_t kExcerptBefore = 80;

}  // namespace

SourceExcerpt excerpt_at(std::string_view text, std::size_t offset, std::size_t end) {
  offset = std::min(offset, text.size());
  const std::size_t line_start = text.substr(0, offset).rfind('\n') + 1;  // npos + 1 is 0
  std::size_t line_end = text.find('\n', offset);
  if (line_end == std::string_view::npos) line_end = text.size();
  if (line_end > line_start && text[line_end - 1] == '\r') --line_end;
  std::size_t from = line_start;
  std::size_t to = line_end;
  std::string prefix;
  std::string suffix;
  if (to - from > kLongestExcerpt) {
    if (offset - from > kExcerptBefore) {
      from = character_start(text, offset - kExcerptBefore);
      prefix = "...";
    }
    if (to - from > kLongestExcerpt) {
      to = character_start(text, from + kLongestExcerpt);
      suffix = "...";
    }
  }
  SourceExcerpt excerpt;
  if (from == to) return excerpt;  // an empty line (the end of the text) shows nothing
  excerpt.text = prefix + std::string(text.substr(from, to - from)) + suffix;
  excerpt.caret = static_cast<std::uint32_t>(prefix.size()) +
                  characters(text.substr(from, offset - from)) + 1;
  const std::size_t underline_end = std::clamp(end, offset, to);
  excerpt.width = std::max<std::uint32_t>(1, characters(text.substr(offset, underline_end - offset)));
  return excerpt;
}

LineIndex::LineIndex(std::string_view text) : text_(text), starts_{0} {
  for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    starts_.push_back(i + 1);
  }
}

LineColumn LineIndex::at(std::size_t offset) const {
  offset = std::min(offset, text_.size());
  const auto after = std::upper_bound(starts_.begin(), starts_.end(), offset);
  const std::size_t start = *(after - 1);
  return {static_cast<std::uint32_t>(after - starts_.begin()),
          characters(text_.substr(start, offset - start)) + 1};
}

void place(Diagnostic& diagnostic, std::string_view text, std::size_t offset, std::size_t end,
           const LineIndex* lines) {
  offset = std::min(offset, text.size());
  end = std::clamp(end, offset, text.size());
  const LineColumn start = lines != nullptr ? lines->at(offset) : line_column(text, offset);
  const LineColumn stop = lines != nullptr ? lines->at(end) : line_column(text, end);
  diagnostic.line = start.line;
  diagnostic.column = start.column;
  diagnostic.end_line = stop.line;
  diagnostic.end_column = stop.column;
  diagnostic.offset = offset;
  diagnostic.excerpt = excerpt_at(text, offset, end);
}

RelatedLocation related_at(std::string_view text, std::string_view file, std::size_t offset,
                           std::string message, const LineIndex* lines) {
  const LineColumn at = lines != nullptr ? lines->at(offset) : line_column(text, offset);
  return RelatedLocation{std::string(file), at.line, at.column, std::move(message),
                         excerpt_at(text, offset, offset)};
}

}  // namespace detail

}  // namespace tarn::lang
