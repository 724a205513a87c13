// run_script: parse a script, run it over a state memory, and finish the run (final residual and
// equilibrium, decision, lineage, report text and report file).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tarn/lang/file_access.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang {

/// One run. `values` are changed in place and keep the run's changes, even after an error.
/// Prints nothing; a report file is written only when the script asks for one. Imports and the
/// report file go through `files` (file_access.hpp); null: the working directory.
/// **Example**: run_script(signs, values, nullptr, "report()", 100000)->report_text ==
/// "Final Residual: 0.000000, Pass: true" on a balanced memory.
Result<RunState, RunError> run_script(std::span<const std::int8_t> signs, std::span<double> values,
                                      const nlohmann::json* context, std::string_view script,
                                      std::uint64_t fuel_limit,
                                      const FileAccess* files = nullptr);

/// The run's decision: "ESCALATE" when an escalation is recorded, else "ALLOW" when pass, else "DENY".
/// **Example**: escalate("review") on a balanced memory gives "ESCALATE".
std::string_view run_decision(const RunState& state);

}  // namespace tarn::lang
