// How `tarn check` and `tarn run` show diagnostics: see diagnostic_output.hpp.
#include "diagnostic_output.hpp"

#include <string>
#include <string_view>
#include <utility>

namespace tarn::tool {

std::optional<OutputFormat> parse_format(std::string_view text) {
  if (text == "text") return OutputFormat::Text;
  if (text == "json") return OutputFormat::Json;
  if (text == "sarif") return OutputFormat::Sarif;
  return std::nullopt;
}

std::string script_name(const std::string& file) { return file == "-" ? "<stdin>" : file; }

lang::Diagnostic cannot_read_diagnostic(const std::string& file, std::string message) {
  lang::Diagnostic diagnostic;
  diagnostic.file = file;
  diagnostic.code = "cannot-read";
  diagnostic.message = std::move(message);
  return diagnostic;
}

void write_diagnostics(ToolOutput& output, std::span<const lang::Diagnostic> diagnostics,
                       OutputFormat format, bool escape_controls) {
  const auto is_error = [](const lang::Diagnostic& diagnostic) {
    return diagnostic.severity == lang::DiagnosticSeverity::Error;
  };
  if (format == OutputFormat::Text) {
    const lang::DiagnosticTextOptions options{.escape_controls = escape_controls};
    for (const bool errors : {false, true}) {
      for (const lang::Diagnostic& diagnostic : diagnostics) {
        if (is_error(diagnostic) == errors) {
          lang::append_diagnostic_text(output.err, diagnostic, options);
        }
      }
    }
    return;
  }
  if (format == OutputFormat::Json) {
    lang::append_diagnostics_json(output.out, diagnostics);
  } else {
    lang::append_diagnostics_sarif(output.out, diagnostics, "tarn", TARN_VERSION);
  }
  for (const lang::Diagnostic& diagnostic : diagnostics) {
    if (is_error(diagnostic) && diagnostic.engine_text) output.err += *diagnostic.engine_text + "\n";
  }
}

}  // namespace tarn::tool
