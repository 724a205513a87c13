// The engine's failures as Python exceptions.
//
// Both exception classes carry the engine's exact text, so a harness that compares it with what
// the command-line tools print keeps working, the parts a program should branch on (a code, a
// line and column) as attributes of their own, and the diagnostic `tarn` prints for the failure.
#include "errors.hpp"

#include <string>
#include <utility>

#include "library_json.hpp"

namespace tarn::python {
namespace {

// Created once when the module is imported and never freed: an extension module stays loaded
// until the process ends.
PyObject* parse_error_type = nullptr;
PyObject* run_error_type = nullptr;

constexpr const char* kParseErrorDoc =
    "The policy text does not parse. Attributes: file, line, column (from 1; a column counts "
    "characters), offset (in the text's UTF-8 bytes), code, message (what is wrong, for a "
    "person), engine_text (what the command-line tools print last) and diagnostics.";
constexpr const char* kRunErrorDoc =
    "A run failed. Attributes: code, message (the engine's exact text), location (None or a dict "
    "{file, line, column, offset, length} of the statement that failed), imported_from (the "
    "import statements on the way to it, innermost first), diagnostics (what `tarn run` shows) "
    "and trace (the run's trace up to the failure, when it was asked for; else None).";

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

void raise_parse_error(const lang::Diagnostic& diagnostic) {
  const std::string& engine_text = diagnostic.engine_text.value();
  py::dict members;
  members["file"] = diagnostic.file;
  members["line"] = diagnostic.line;
  members["column"] = diagnostic.column;
  members["offset"] = diagnostic.offset;
  members["code"] = diagnostic.code;
  members["message"] = diagnostic.message;
  members["engine_text"] = engine_text;
  members["diagnostics"] = diagnostics_value({&diagnostic, 1});
  // Read as compilers write a diagnostic: FILE:LINE:COLUMN: then the engine's text.
  const std::string text = diagnostic.file + ":" + std::to_string(diagnostic.line) + ":" +
                           std::to_string(diagnostic.column) + ": " + engine_text;
  raise_with(parse_error_type, text, members);
}

void raise_run_error(const lang::RunError& error, const lang::Diagnostic& diagnostic,
                     py::object trace) {
  py::dict members;
  members["code"] = diagnostic.code;
  members["message"] = error.message;
  members["location"] = error.location ? location_dict(*error.location) : py::none();
  py::list imported_from;
  for (const lang::StatementLocation& place : error.imported_from) {
    imported_from.append(location_dict(place));
  }
  members["imported_from"] = std::move(imported_from);
  members["diagnostics"] = diagnostics_value({&diagnostic, 1});
  members["trace"] = std::move(trace);
  raise_with(run_error_type, error.message, members);
}

}  // namespace tarn::python
