// `tarn check FILE...`: the checker's verdict on policies.
//
// Success prints one canonical text per top-level instruction, so the output shows exactly how
// a script was understood (and a diff of two outputs shows what an edit changed); warnings go to
// standard error. A parse error is shown located, with the same "Parse error: ..." text a run
// would fail with as the last line. Reading a script, "-" for standard input, is shared with
// `tarn run`.
#include "check.hpp"

#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "diagnostic_output.hpp"
#include "run.hpp"
#include "tarn/lang/checker.hpp"
#include "tarn/lang/diagnostics.hpp"

namespace tarn::tool {
namespace {

ToolOutput usage_error(std::string message) { return {"", "tarn check: " + message + "\n", 2}; }

}  // namespace

Result<lang::SourceText, lang::ReadError> read_input(const std::string& file) {
  return file == "-" ? lang::read_text(STDIN_FILENO) : lang::read_text_file(file);
}

std::string cannot_read(const std::string& file, const lang::ReadError& error) {
  return "cannot read '" + file + "': " + error.reason;
}

Result<lang::SourceText, ToolOutput> read_script(const std::string& file) {
  Result<lang::SourceText, lang::ReadError> text = read_input(file);
  if (!text) {
    return fail(ToolOutput{
        .out = {}, .err = "tarn: " + cannot_read(file, text.error()) + "\n", .status = 1});
  }
  return std::move(*text);
}

ToolOutput check_command(const CheckCommandOptions& options) {
  const auto format = parse_format(options.format.value_or("text"));
  if (!format) return usage_error("invalid --format value '" + *options.format + "'");
  lang::CheckOptions check_options;
  if (options.values) {
    const auto values = parse_value_list(*options.values);
    if (!values) return usage_error("invalid --values value '" + *options.values + "'");
    check_options.value_count = values->size();
    check_options.values_given = true;
  }
  if (std::count(options.files.begin(), options.files.end(), "-") > 1) {
    return usage_error("standard input ('-') can be read only once");
  }

  ToolOutput output;
  std::vector<lang::SourceText> texts;
  std::vector<lang::PolicyFile> files;
  std::vector<lang::Diagnostic> unreadable;
  for (const std::string& file : options.files) {
    auto text = read_input(file);
    if (!text) {
      const std::string message = cannot_read(file, text.error());
      output.err += "tarn: " + message + "\n";
      unreadable.push_back(cannot_read_diagnostic(file, message));
      continue;
    }
    texts.push_back(std::move(*text));
    files.push_back(lang::PolicyFile{script_name(file), texts.back().view()});
  }
  lang::CheckReport report = lang::check_policies(files, check_options);

  bool failed = !unreadable.empty();
  bool warned = false;
  for (const lang::Diagnostic& diagnostic : report.diagnostics) {
    failed = failed || diagnostic.severity == lang::DiagnosticSeverity::Error;
    warned = warned || diagnostic.severity == lang::DiagnosticSeverity::Warning;
  }
  if (*format == OutputFormat::Text) {
    for (const lang::CheckedPolicy& policy : report.policies) {
      if (!policy.program) continue;
      if (options.files.size() > 1) output.out += "==> " + policy.name + " <==\n";
      lang::append_canonical_lines(output.out, *policy.program);
    }
  } else {
    report.diagnostics.insert(report.diagnostics.begin(), unreadable.begin(), unreadable.end());
  }
  write_diagnostics(output, report.diagnostics, *format, options.escape_controls);
  output.status = failed || (warned && options.deny_warnings) ? 1 : 0;
  return output;
}

}  // namespace tarn::tool
