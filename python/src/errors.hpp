// How the engine's failures reach Python: tarn.ParseError for a text that does not parse and
// tarn.RunError for a run that fails, each carrying the library's diagnostic of the failure.
#pragma once

#include <pybind11/pybind11.h>

#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::python {

namespace py = pybind11;

/// Adds the exception classes ParseError and RunError to `module`.
void add_exception_types(py::module_& module);

/// Raises tarn.ParseError, its members taken from `diagnostic` (parse_error_diagnostic's).
[[noreturn]] void raise_parse_error(const lang::Diagnostic& diagnostic);

/// Raises tarn.RunError for `error`, whose diagnostic (run_error_diagnostic's) is `diagnostic`,
/// with `trace` (a trace_value, or None) as its trace.
[[noreturn]] void raise_run_error(const lang::RunError& error, const lang::Diagnostic& diagnostic,
                                  py::object trace);

}  // namespace tarn::python
