// The engine's failures as Python exceptions and diagnostics.
//
// Both exception classes carry the engine's exact text, so a harness that compares it with what
// the command-line tools print keeps working, and the parts a program should branch on (a code,
// a line and column) as attributes of their own.
#include "errors.hpp"

#include <string>

namespace tarn::python {
namespace {

// Created once when the module is imported and never freed: an extension module stays loaded
// until the process ends.
PyObject* parse_error_type = nullptr;
PyObject* run_error_type = nullptr;

constexpr const char* kParseErrorDoc =
    "The policy text does not parse. Attributes: file, line, column (from 1; a column counts "
    "characters), offset (in the text's UTF-8 bytes), code, message, engine_text (what the "
    "command-line tools print) and diagnostics.";
constexpr const char* kRunErrorDoc =
    "A run failed. Attributes: code, message (the engine's exact text), location (None or a dict "
    "{file, line, column, offset, length} of the statement that failed) and imported_from (the "
    "import statements on the way to it, innermost first).";

/// The stable name of a run error's code, as a diagnostic's "code" member spells it.
const char* run_error_code(lang::RunErrorCode code) {
  using lang::RunErrorCode;
  switch (code) {
    case RunErrorCode::OutOfFuel: return "out-of-fuel";
    case RunErrorCode::BoundsAssertion: return "bounds-assertion";
    case RunErrorCode::UnknownAlias: return "unknown-alias";
    case RunErrorCode::NoContext: return "no-context";
    case RunErrorCode::MissingContextKey: return "missing-context-key";
    case RunErrorCode::PositionOutOfRange: return "position-out-of-range";
    case RunErrorCode::MemoryShape: return "memory-shape";
    case RunErrorCode::ImportFailed: return "import-failed";
    case RunErrorCode::ImportTooLarge: return "import-too-large";
    case RunErrorCode::ImportParseError: return "import-parse-error";
    case RunErrorCode::ParseError: return "parse-error";
    case RunErrorCode::LineageTooLarge: return "lineage-too-large";
  }
  return "run-error";
}

py::object location_dict(const lang::StatementLocation& location) {
  py::dict place;
  place["file"] = location.file;
  place["line"] = location.line;
  place["column"] = location.column;
  place["offset"] = location.span.offset;
  place["length"] = location.span.length;
  return place;
}

/// Raises an exception of `type` whose text is `text`, with `members` as its attributes.
[[noreturn]] void raise_with(PyObject* type, const std::string& text, const py::dict& members) {
  const py::object error = py::reinterpret_borrow<py::object>(type)(text);
  for (const auto& [name, value] : members) py::setattr(error, name, value);
  PyErr_SetObject(type, error.ptr());
  throw py::error_already_set();
}

}  // namespace

void add_exception_types(py::module_& module) {
  parse_error_type = PyErr_NewExceptionWithDoc("tarn.ParseError", kParseErrorDoc, nullptr, nullptr);
  run_error_type = PyErr_NewExceptionWithDoc("tarn.RunError", kRunErrorDoc, nullptr, nullptr);
  if (parse_error_type == nullptr || run_error_type == nullptr) throw py::error_already_set();
  module.attr("ParseError") = py::handle(parse_error_type);
  module.attr("RunError") = py::handle(run_error_type);
}

// Until the library reports diagnostics of its own, a parse error is this one diagnostic: its
// place, the engine's text as the message, and the "{" of a block left open as a related place.
py::dict parse_error_diagnostic(std::string_view text, std::string_view file,
                                const lang::ParseError& error) {
  const lang::LineColumn at = lang::line_column(text, error.offset);
  const std::string engine_text = "Parse error: " + lang::parse_error_text(error);
  py::list related;
  if (error.open_brace) {
    const lang::LineColumn brace = lang::line_column(text, *error.open_brace);
    py::dict place;
    place["file"] = file;
    place["line"] = brace.line;
    place["column"] = brace.column;
    place["message"] = "the block opened here is not closed";
    related.append(std::move(place));
  }
  py::dict diagnostic;
  diagnostic["file"] = file;
  diagnostic["line"] = at.line;
  diagnostic["column"] = at.column;
  diagnostic["end_line"] = at.line;
  diagnostic["end_column"] = at.column;
  diagnostic["offset"] = error.offset;
  diagnostic["severity"] = "error";
  diagnostic["code"] = "parse-error";
  diagnostic["message"] = engine_text;
  diagnostic["engine_text"] = engine_text;
  diagnostic["related"] = std::move(related);
  return diagnostic;
}

void raise_parse_error(std::string_view text, std::string_view file,
                       const lang::ParseError& error) {
  const py::dict diagnostic = parse_error_diagnostic(text, file, error);
  py::dict members;
  for (const char* name : {"file", "line", "column", "offset", "code", "message", "engine_text"}) {
    members[name] = diagnostic[name];
  }
  py::list diagnostics;
  diagnostics.append(diagnostic);
  members["diagnostics"] = std::move(diagnostics);
  // Read as compilers write a diagnostic: FILE:LINE:COLUMN: then the engine's text.
  const std::string text_of_error = std::string(file) + ":" +
                                    py::str(diagnostic["line"]).cast<std::string>() + ":" +
                                    py::str(diagnostic["column"]).cast<std::string>() + ": " +
                                    diagnostic["engine_text"].cast<std::string>();
  raise_with(parse_error_type, text_of_error, members);
}

void raise_run_error(const lang::RunError& error) {
  py::dict members;
  members["code"] = run_error_code(error.code);
  members["message"] = error.message;
  members["location"] = error.location ? location_dict(*error.location) : py::none();
  py::list imported_from;
  for (const lang::StatementLocation& place : error.imported_from) {
    imported_from.append(location_dict(place));
  }
  members["imported_from"] = std::move(imported_from);
  raise_with(run_error_type, error.message, members);
}

}  // namespace tarn::python
