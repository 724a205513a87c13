// `tarn run FILE [options]`: run a script with run_script and print the whole run result.
#pragma once

#include <optional>
#include <string>

#include "run_document.hpp"
#include "tool_output.hpp"

namespace tarn::tool {

/// The options as given on the command line; run_command validates them (bad values: status 2).
struct RunCommandOptions {
  std::string file;
  std::optional<std::string> payload;        // --payload=NUMBER
  std::optional<std::string> corrupt_index;  // --corrupt-index=N
  std::optional<std::string> signs;          // --signs=LIST
  std::optional<std::string> values;         // --values=LIST
  std::optional<std::string> context;        // --context=JSONFILE
  std::optional<std::string> fuel;           // --fuel=N
  std::optional<std::string> root;           // --root=DIR
};

ToolOutput run_command(const RunCommandOptions& options);

}  // namespace tarn::tool
