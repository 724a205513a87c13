// `tarn check FILE`: parse a script and print the canonical text of each top-level instruction.
#pragma once

#include <string>

#include "tool_output.hpp"

namespace tarn::tool {

/// Reads FILE ("-" reads standard input) whole as UTF-8 and parses it.
ToolOutput check_command(const std::string& file);

}  // namespace tarn::tool
