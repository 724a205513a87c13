// The run result document that `tarn run` prints, written straight from a run's state. The tool,
// `tarn test` and the JavaScript package all take it from here, so none shows a run differently.
#pragma once

#include <span>
#include <string>

#include "tarn/lang/run_state.hpp"

namespace tarn::tool {

/// The run result as `tarn run` prints it (pretty JSON, every member always there, without the
/// final line feed) for a run that left the memory's values at `values`. Past the limit of
/// executed-command text, the texts give way to their count (executed_commands_omitted) and
/// `commands_omitted` is set. `tarn test` compares its expectations with this document, so that
/// the two commands cannot disagree on a member.
std::string run_result_document(const lang::RunState& state, std::span<const double> values,
                                bool* commands_omitted = nullptr);

}  // namespace tarn::tool
