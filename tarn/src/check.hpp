// `tarn check FILE...`: parse policies, follow their imports and warn of what a run or the
// verifier would stumble on, without running anything.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tarn/lang/result.hpp"
#include "tarn/lang/source_file.hpp"
#include "tool_output.hpp"

namespace tarn::tool {

/// Reads a file that a command names, whole as UTF-8, or standard input for "-".
Result<lang::SourceText, lang::ReadError> read_input(const std::string& file);

/// "cannot read 'FILE': REASON".
std::string cannot_read(const std::string& file, const lang::ReadError& error);

/// Reads the script that a command names, as read_input does. A failure is the output that
/// reports it (status 1).
/// **Example**: read_script("missing.tarn").error().err ==
/// "tarn: cannot read 'missing.tarn': No such file or directory\n".
Result<lang::SourceText, ToolOutput> read_script(const std::string& file);

/// The options as given on the command line; check_command validates them (bad values: status 2).
struct CheckCommandOptions {
  std::vector<std::string> files;
  std::optional<std::string> format;  // --format=text|json|sarif
  std::optional<std::string> values;  // --values=LIST: the memory positions are checked against
  bool deny_warnings = false;         // --deny-warnings: a warning fails the check
  bool escape_controls = false;       // standard error is a terminal
};

/// Checks the files. On success standard output holds the canonical text of each file's
/// top-level instructions (under a "==> FILE <==" line each when there are several), or the
/// diagnostics document with --format=json or sarif.
ToolOutput check_command(const CheckCommandOptions& options);

}  // namespace tarn::tool
