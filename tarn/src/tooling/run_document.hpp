// The run result document that `tarn run` prints, written straight from a run's state. The tool
// and the JavaScript package both write it here, so the two can never show a run differently.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "tarn/lang/run_state.hpp"

namespace tarn::tool {

/// Appends the whole run result as one pretty JSON object with sorted keys; every member is always
/// there, null when the run has no value for it. `values` is the memory after the run.
/// **Example**: a run of "report()" -> {"budget_limit": null, "decision": "ALLOW", ...}.
void append_result(std::string& out, const lang::RunState& state, std::span<const double> values);

/// Room for the whole result (capped), so that a long one is written without regrowing the
/// output; `text_bound` is state.executed_commands.text_length_bound().
std::size_t result_size_bound(const lang::RunState& state, std::uint64_t text_bound,
                              std::size_t value_count);

}  // namespace tarn::tool
