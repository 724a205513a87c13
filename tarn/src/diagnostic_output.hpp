// How `tarn check` and `tarn run` show diagnostics: the --format forms and where each goes.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tarn/lang/diagnostics.hpp"
#include "tool_output.hpp"

namespace tarn::tool {

enum class OutputFormat { Text, Json, Sarif };

/// A --format= value: "text", "json" or "sarif". **Example**: "json" -> Json, "JSON" -> none.
std::optional<OutputFormat> parse_format(std::string_view text);

/// The name a command gives the script it reads: "<stdin>" for "-", else the path as given.
std::string script_name(const std::string& file);

/// The diagnostic of a file given on the command line that cannot be read (line 0: the whole
/// file). **Example**: code "cannot-read", message "cannot read 'x.tarn': No such file or
/// directory".
lang::Diagnostic cannot_read_diagnostic(const std::string& file, std::string message);

/// Adds `diagnostics` to `output`. The text form goes to standard error, warnings before errors,
/// so that the engine's text of the last error is the last line; with `escape_controls` it shows
/// control characters escaped. The JSON and SARIF forms are the whole of standard output, and
/// each error's engine text still goes to standard error, a line each.
void write_diagnostics(ToolOutput& output, std::span<const lang::Diagnostic> diagnostics,
                       OutputFormat format, bool escape_controls);

}  // namespace tarn::tool
