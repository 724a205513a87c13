// Diagnostics: what is wrong with a policy, or looks wrong, located in its file and worded for a
// person, in the forms compilers, editors and code-scanning services read.
//
// A parse error or a run error carries the engine's own terms (`Error(Error { input: "...",
// code: Tag })`); a Diagnostic adds the line and column, a message that says what was expected
// and what was found, notes at related places (the "{" of a block left open, each import on the
// way to an imported file), and keeps the engine's exact text beside it, since scripts match on
// it. Three renderers lay diagnostics out: the compilers' text form, a JSON document, SARIF 2.1.0.
//
//   auto policy = tarn::lang::compile(text, "p.tarn");
//   if (!policy) {
//     tarn::lang::Diagnostic d = tarn::lang::parse_error_diagnostic(policy.error(), text, "p.tarn");
//     std::string out;
//     tarn::lang::append_diagnostic_text(out, d);
//     // p.tarn:8:13: error: unknown keyword `asert_bounds`; did you mean `assert_bounds`? ...
//   }
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/lang/file_access.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"
#include "tarn/lang/source_file.hpp"

namespace tarn::lang {

enum class DiagnosticSeverity { Error, Warning, Note };

/// The line of text around a place, as the text form shows it under a message.
struct SourceExcerpt {
  /// The line without its line end; a long line is cut around the place, with "..." where cut.
  std::string text;
  std::uint32_t caret = 0;  // the column of the place in `text`, from 1; 0: no excerpt
  std::uint32_t width = 1;  // how many characters from the caret to underline
};

/// Another place that explains a diagnostic.
struct RelatedLocation {
  std::string file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::string message;
  SourceExcerpt excerpt;  // shown by the text form only
};

/// One diagnostic. Lines and columns count from 1 (a column counts characters, a tab as one); the
/// end is the place just after the range. Line and column 0: the diagnostic concerns the file as
/// a whole (it cannot be read) or a run that failed after its last statement.
struct Diagnostic {
  std::string file;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  std::uint32_t end_line = 0;
  std::uint32_t end_column = 0;
  std::size_t offset = 0;  // the byte offset of line:column in the file
  DiagnosticSeverity severity = DiagnosticSeverity::Error;
  std::string code;  // stable: see diagnostic_codes()
  std::string message;
  /// The engine's exact text of an error (what the verifier hides behind SILENCE); none for
  /// warnings.
  std::optional<std::string> engine_text;
  std::vector<RelatedLocation> related;
  SourceExcerpt excerpt;  // shown by the text form only
};

/// A code and what it means, as a code-scanning service lists its rules.
struct DiagnosticCode {
  std::string_view code;
  std::string_view summary;
};

/// Every code a diagnostic can carry: parse errors, then run errors, then the checker's warnings
/// (some run errors serve as warnings too: unknown-alias, position-out-of-range, ...).
std::span<const DiagnosticCode> diagnostic_codes();

/// How diagnostics and the checker read an imported file: by its path as the import names it.
using ReadSource = std::function<Result<SourceText, ReadError>(const std::string& path)>;

/// Reads an imported file as a run reads it: relative to the working directory.
Result<SourceText, ReadError> read_imported_file(const std::string& path);

/// Reads imported files through `files`, as a run given RunOptions::files = &files reads them
/// (`files` must outlive the reader). **Example**: check_policies(policies, {.read =
/// read_through(memory_files)}) checks imports held in memory.
ReadSource read_through(const FileAccess& files);

/// The parse error of `text`, the file named `file`, from a parse with spans (compile() and
/// parse_program's default keep them), with engine_text "Parse error: " and the error's text.
/// **Example**: for "foo(1)\n" -> p.tarn:1:1, code "unknown-keyword".
Diagnostic parse_error_diagnostic(const ParseError& error, std::string_view text,
                                  std::string_view file);

/// A run error of the policy named `policy_name` whose text is `policy_text`, located where the
/// run failed, with a note at each import on the way. Imported files are read again through
/// `read` for the lines the text form quotes and, for one that does not parse, for its parse
/// error. engine_text is the error's message.
Diagnostic run_error_diagnostic(const RunError& error, std::string_view policy_name,
                                std::string_view policy_text,
                                const ReadSource& read = read_imported_file);

/// The word of `candidates` nearest to `word` (letter case aside), when it is near enough to be
/// the one meant. **Example**: "asert_bounds" -> "assert_bounds", "Report" -> "report",
/// "frobnicate" -> none.
std::optional<std::string_view> nearest_word(std::string_view word,
                                             std::span<const std::string_view> candidates);

/// `text` with its control characters shown as the canonical text shows them (`\u{1b}`, `\r`,
/// `\0`), except line feed and tab, and bytes that are not UTF-8 as `\xff`: what a terminal
/// may be shown without obeying a script's escape sequences.
std::string escape_control_characters(std::string_view text);

struct DiagnosticTextOptions {
  /// Show control characters escaped (escape_control_characters), keeping the caret in place.
  bool escape_controls = false;
};

/// The text form, as compilers print it:
///
///   p.tarn:8:13: error: unknown keyword `asert_bounds`; did you mean `assert_bounds`?
///       8 | asert_bounds(50, 150, "reserve")
///         |             ^
///   p.tarn:8:1: note: the statement begins here
///   Parse error: Error(Error { input: ", 150, \"reserve\")\n", code: Tag })
///
/// The engine's text, when there is one, is the last line.
void append_diagnostic_text(std::string& out, const Diagnostic& diagnostic,
                            const DiagnosticTextOptions& options = {});

/// `{"diagnostics": [...]}` on one line and a line feed; each diagnostic's members in the order of
/// the struct (file, line, column, end_line, end_column, offset, severity, code, message,
/// engine_text, related), each related place as {file, line, column, message}.
void append_diagnostics_json(std::string& out, std::span<const Diagnostic> diagnostics);

/// The same as a SARIF 2.1.0 log of one run of the tool `tool_name` (columns in code points), on
/// one line and a line feed.
void append_diagnostics_sarif(std::string& out, std::span<const Diagnostic> diagnostics,
                              std::string_view tool_name, std::string_view tool_version);

}  // namespace tarn::lang
