// `tarn check FILE`: the parser's verdict on a script, as text.
//
// Success prints one canonical text per top-level instruction, so the output shows exactly how
// the script was understood (and a diff of two outputs shows what an edit changed). A failure
// prints the same "Parse error: ..." text a run would fail with. Reading the script, "-" for
// standard input, is shared with `tarn run`.
#include "check.hpp"

#include <unistd.h>

#include <string>
#include <utility>

#include "tarn/lang/parser.hpp"

namespace tarn::tool {

Result<lang::SourceText, ToolOutput> read_script(const std::string& file) {
  Result<lang::SourceText, lang::ReadError> text =
      file == "-" ? lang::read_text(STDIN_FILENO) : lang::read_text_file(file);
  if (!text) {
    return fail(ToolOutput{
        .out = {}, .err = "tarn: cannot read '" + file + "': " + text.error().reason + "\n",
        .status = 1});
  }
  return std::move(*text);
}

ToolOutput check_command(const std::string& file) {
  Result<lang::SourceText, ToolOutput> text = read_script(file);
  if (!text) return std::move(text.error());
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
