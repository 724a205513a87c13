// The library's JSON forms of diagnostics and traces as Python values.
//
// The library writes them for the `tarn` tool (`tarn check --format=json`, `tarn run
// --trace=jsonl:FILE`); Python's own json module reads that text, so a harness gets every member
// the tool prints, in its order and with its values, and there is no second writer to drift.
#pragma once

#include <pybind11/pybind11.h>

#include <span>

#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/trace.hpp"

namespace tarn::python {

namespace py = pybind11;

/// The diagnostics as the list the JSON form holds: a dict each, {file, line, column, end_line,
/// end_column, offset, severity, code, message, engine_text, related}.
py::list diagnostics_value(std::span<const lang::Diagnostic> diagnostics);

/// The trace as {"steps": [...], "end": {...}}: each line of the JSON-lines form as a dict,
/// without its "kind" member (whether a line is a step or the end is said by where it stands).
py::dict trace_value(const lang::Trace& trace);

}  // namespace tarn::python
