// Fuzz target: the formatter on arbitrary UTF-8 text.
//
// Oracle: a text that does not parse is refused with the parser's own error; a text that parses
// formats to a text that parses to the same canonical texts, that formatting again leaves as it
// is, that ends with one line feed (or is empty), and that holds the word "corrupt" as often as
// the original (the verifier refuses a script by that word, so formatting must neither hide it
// nor add it).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "oracle.hpp"
#include "tarn/lang/format.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/source_file.hpp"

namespace {

std::size_t occurrences(std::string_view text, std::string_view word) {
  std::size_t count = 0;
  for (std::size_t at = text.find(word); at != std::string_view::npos;
       at = text.find(word, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!tarn::lang::is_valid_utf8(text)) return 0;  // callers guarantee UTF-8

  const auto program = tarn::lang::parse_program(text);
  const auto formatted = tarn::lang::format_policy(text);
  if (!program) {
    require(!formatted && formatted.error() == program.error(),
            "a text that does not parse is refused with its parse error");
    return 0;
  }
  require(formatted.has_value(), "a text that parses is formatted");
  const auto reparsed = tarn::lang::parse_program(*formatted);
  require(reparsed.has_value(), "the formatted text parses");
  require(tarn::lang::canonical_lines(*reparsed) == tarn::lang::canonical_lines(*program),
          "the formatted text has the original's canonical text");
  const auto again = tarn::lang::format_policy(*formatted);
  require(again && *again == *formatted, "formatting formatted text changes nothing");
  require(formatted->empty() || (formatted->ends_with('\n') && !formatted->ends_with("\n\n")),
          "the formatted text ends with exactly one line feed");
  require(occurrences(*formatted, "corrupt") == occurrences(text, "corrupt"),
          "the formatted text holds \"corrupt\" as often as the original");
  return 0;
}
