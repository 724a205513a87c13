// Messages about a place in a file, in the form compilers use: "FILE:LINE:COLUMN: error: ...".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tarn/lang/parser.hpp"

namespace tarn::tool {

/// How a file named on the command line is called in messages: "-" is "<stdin>".
std::string display_name(std::string_view file);

/// **Example**: located_error("a.test.toml", 3, 1, "unknown key 'expct'") ->
/// "a.test.toml:3:1: error: unknown key 'expct'".
std::string located_error(std::string_view file, std::uint32_t line, std::uint32_t column,
                          std::string_view message);

/// A parse error at its place in `text`, without a line end.
/// **Example**: "a.tarn:2:8: error: Error(Error { input: \" )\", code: Tag })".
std::string parse_diagnostic(std::string_view file, std::string_view text,
                             const lang::ParseError& error);

}  // namespace tarn::tool
