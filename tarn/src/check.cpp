// `tarn check FILE`: the parser's verdict on a script, as text.
//
// Success prints one canonical text per top-level instruction, so the output shows exactly how
// the script was understood (and a diff of two outputs shows what an edit changed). A failure
// prints the same "Parse error: ..." text a run would fail with.
#include "check.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "tarn/lang/parser.hpp"
#include "tarn/lang/source_file.hpp"

namespace tarn::tool {
namespace {

// Standard input read to its end, with the same size limit and UTF-8 rule as a file.
Result<lang::SourceText, lang::ReadError> read_standard_input() {
  std::string text;
  std::array<char, 64 * 1024> chunk;
  while (true) {
    const ssize_t count = ::read(STDIN_FILENO, chunk.data(), chunk.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return fail(lang::ReadError{std::strerror(errno)});
    }
    if (count == 0) break;
    if (static_cast<std::size_t>(count) > lang::kMaxScriptBytes - text.size()) {
      return fail(lang::ReadError{
          "text exceeds " + std::to_string(lang::kMaxScriptBytes) + " bytes", true});
    }
    text.append(chunk.data(), static_cast<std::size_t>(count));
  }
  if (!lang::is_valid_utf8(text)) {
    return fail(lang::ReadError{"stream did not contain valid UTF-8"});
  }
  return lang::SourceText(std::move(text));
}

}  // namespace

ToolOutput check_command(const std::string& file) {
  Result<lang::SourceText, lang::ReadError> text =
      file == "-" ? read_standard_input() : lang::read_text_file(file);
  if (!text) {
    return {.out = {}, .err = "tarn: cannot read '" + file + "': " + text.error().reason + "\n",
            .status = 1};
  }
  Result<lang::Program, lang::ParseError> program = lang::parse_program(*text);
  if (!program) {
    return {.out = {}, .err = "Parse error: " + lang::parse_error_text(program.error()) + "\n",
            .status = 1};
  }
  ToolOutput output;
  for (const lang::Instruction& instruction : *program) {
    lang::append_canonical_text(output.out, instruction);
    output.out += '\n';
  }
  return output;
}

}  // namespace tarn::tool
