// `tarn run FILE [options]`: run a script with run_script and print the whole run result.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
  std::optional<std::string> format;         // --format=text|json|sarif: how errors are shown
  std::optional<std::string> trace;          // --trace ("text") or --trace=jsonl:FILE
  bool escape_controls = false;              // standard error is a terminal
};

/// Runs the script and prints the run result document; a parse or run error is shown located,
/// its engine text last on standard error (status 1).
ToolOutput run_command(const RunCommandOptions& options);

/// A --values= list: numbers in the script's syntax separated by commas; the empty text is the
/// empty list. **Example**: "1,2.5,nan" -> {1.0, 2.5, NaN}; "1, 2" -> none.
std::optional<std::vector<double>> parse_value_list(std::string_view text);

}  // namespace tarn::tool
