// `tarn check FILE`: parse a script and print the canonical text of each top-level instruction.
#pragma once

#include <string>

#include "tarn/lang/result.hpp"
#include "tarn/lang/source_file.hpp"
#include "tool_output.hpp"

namespace tarn::tool {

/// Reads the script that a command names: FILE whole as UTF-8, or standard input for "-". A
/// failure is the output that reports it (status 1).
/// **Example**: read_script("missing.tarn").error().err ==
/// "tarn: cannot read 'missing.tarn': No such file or directory\n".
Result<lang::SourceText, ToolOutput> read_script(const std::string& file);

/// Reads FILE ("-" reads standard input) whole as UTF-8 and parses it.
ToolOutput check_command(const std::string& file);

}  // namespace tarn::tool
