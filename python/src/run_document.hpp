// The run result document of `tarn run`, built as Python values straight from the run state.
//
// The dict has the document's members, in its order, with the values json.loads gives for the
// document's text: a float for a JSON number with a point or an exponent, an int for an integer,
// None for null (so also for a number that is not finite). Building it directly instead of
// writing and parsing the JSON text keeps a decision in a few microseconds.
#pragma once

#include <pybind11/pybind11.h>

#include <span>

#include "tarn/lang/run_state.hpp"

namespace tarn::python {

namespace py = pybind11;

/// Makes the member names, once, when the module is imported.
void make_member_names();

/// The whole result of a run whose memory ends as `values`: every member always there. With
/// `omit_commands` (the command texts pass their limit) the texts give way to their count,
/// executed_commands_omitted, as in `tarn run`.
/// **Example**: a run of "report()" -> {"budget_limit": None, "decision": "ALLOW", ...,
/// "report_text": "Final Residual: 0.000000, Pass: true", ...}.
py::dict run_document(const lang::RunState& state, std::span<const double> values,
                      bool omit_commands);

}  // namespace tarn::python
