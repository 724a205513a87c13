// Lines and columns of a place in a script, for messages and error locations.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tarn/lang/parser.hpp"

namespace tarn::lang {

LineColumn line_column(std::string_view text, std::size_t offset) {
  const std::string_view before = text.substr(0, std::min(offset, text.size()));
  const std::size_t line_start = before.rfind('\n') + 1;  // npos + 1 is 0: the first line
  const auto line = 1 + std::count(before.begin(), before.end(), '\n');
  // Every character has one byte that is not a continuation byte (10xxxxxx).
  const auto column = 1 + std::count_if(before.begin() + static_cast<std::ptrdiff_t>(line_start),
                                        before.end(), [](char c) {
                                          return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
                                        });
  return {static_cast<std::uint32_t>(line), static_cast<std::uint32_t>(column)};
}

}  // namespace tarn::lang
