// The one layout of policy text, as `tarn fmt` writes it.
//
// The formatter moves white space and nothing else: numbers, strings and comments keep their
// exact bytes, so the formatted text always parses to the same instructions as the original, and
// formatting formatted text changes nothing. It works from the parse of the text (the span of
// every statement), so it only ever formats a text that parses.
#pragma once

#include <string>
#include <string_view>

#include "tarn/lang/parser.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang {

/// The text in the standard layout, or the text's parse error:
/// - one statement per line; a block's "{" on its statement's line, the statements inside
///   indented by two spaces per level, its "}" on a line of its own;
/// - no space before "(", one space after each ",";
/// - a comment on its own line stays on its own line, a comment after a statement stays after
///   it (with one space before the "//"); comments are only ever written between top-level
///   statements, where the language allows them;
/// - a run of blank lines becomes one blank line; blank lines at the start and end of the text,
///   and next to a block's braces, go;
/// - no trailing white space (except inside a string, which keeps its bytes), and a final line
///   feed unless the text holds nothing but white space (which formats to the empty text).
/// **Example**: format_policy("if_broken{evolve(1)}  // heal\n\n\n\nassert_bounds(0,1,\"x\")") ->
/// "if_broken {\n  evolve(1)\n} // heal\n\nassert_bounds(0, 1, \"x\")\n".
Result<std::string, ParseError> format_policy(std::string_view text);

}  // namespace tarn::lang
