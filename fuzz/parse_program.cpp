// Fuzz target: the parser on arbitrary UTF-8 text.
//
// Oracle: a parse either yields a program whose canonical texts are single lines whose measured
// length matches the rendered one, or a ParseError whose `input` is a suffix of the text (or, for
// an unrecognised name, that name as it stands in the text) and whose diagnostic stands at the
// line and column of the error's offset, its range inside the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "oracle.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/source_file.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!tarn::lang::is_valid_utf8(text)) return 0;  // callers guarantee UTF-8

  auto parsed = tarn::lang::parse_program(text);
  if (parsed) {
    for (const auto& instruction : *parsed) {
      const std::string rendered = tarn::lang::canonical_text(instruction);
      require(rendered.find('\n') == std::string::npos, "canonical text holds a line feed");
      require(tarn::lang::canonical_text_length(instruction) == rendered.size(),
              "canonical_text_length differs from the rendered length");
    }
    return 0;
  }
  const auto& error = parsed.error();
  const bool suffix = text.ends_with(error.input);
  const bool name = error.code == tarn::lang::ParseErrorCode::Tag && !error.input.empty() &&
                    text.find(error.input) != std::string_view::npos;
  require(suffix || name, "ParseError input is neither a suffix of the text nor a name in it");
  require(!tarn::lang::parse_error_text(error).empty(), "empty parse-error text");
  const auto diagnostic = tarn::lang::parse_error_diagnostic(error, text, "f");
  const auto place = tarn::lang::line_column(text, error.offset);
  require(diagnostic.line == place.line && diagnostic.column == place.column,
          "the diagnostic does not stand where parsing failed");
  require(diagnostic.offset == error.offset && !diagnostic.message.empty() &&
              !diagnostic.code.empty(),
          "a diagnostic without its offset, message or code");
  require(std::make_pair(diagnostic.end_line, diagnostic.end_column) >=
              std::make_pair(diagnostic.line, diagnostic.column),
          "the diagnostic's range ends before it begins");
  return 0;
}
