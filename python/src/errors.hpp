// How the engine's failures reach Python: tarn.ParseError for a text that does not parse,
// tarn.RunError for a run that fails, and the diagnostic (a dict in the JSON diagnostics form)
// that tarn.check returns for a text that does not parse.
#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

#include "tarn/lang/parser.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::python {

namespace py = pybind11;

/// Adds the exception classes ParseError and RunError to `module`.
void add_exception_types(py::module_& module);

/// The diagnostic of `text`, named `file`, failing to parse with `error`:
/// {file, line, column, end_line, end_column, offset, severity, code, message, engine_text,
/// related}; a block left open is a related place. **Example**: "report()\nfoo" ->
/// {"file": "policy.tarn", "line": 2, "column": 1, ..., "code": "parse-error",
/// "engine_text": "Parse error: Error(Error { input: \"foo\", code: Tag })", "related": []}.
py::dict parse_error_diagnostic(std::string_view text, std::string_view file,
                                const lang::ParseError& error);

/// Raises tarn.ParseError, its members taken from parse_error_diagnostic.
[[noreturn]] void raise_parse_error(std::string_view text, std::string_view file,
                                    const lang::ParseError& error);

/// Raises tarn.RunError with the error's code, message and locations.
[[noreturn]] void raise_run_error(const lang::RunError& error);

}  // namespace tarn::python
