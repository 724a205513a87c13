// Places in a text as diagnostics give them: line, column, range and the quoted line. Shared by
// the diagnostics of errors and the checker's warnings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "tarn/lang/diagnostics.hpp"

namespace tarn::lang::detail {

/// The line of `text` around byte `offset`, with the characters from there to `end` (on that
/// line) to underline.
SourceExcerpt excerpt_at(std::string_view text, std::size_t offset, std::size_t end);

/// Sets where `diagnostic` stands: from byte `offset` to byte `end` of `text`.
void place(Diagnostic& diagnostic, std::string_view text, std::size_t offset, std::size_t end);

/// A related place at byte `offset` of `text`, the file named `file`.
RelatedLocation related_at(std::string_view text, std::string_view file, std::size_t offset,
                           std::string message);

}  // namespace tarn::lang::detail
