// The steps that finish a successful run: lineage record and report text (the report file is
// the run's FileAccess's). runner.cpp puts them in order; lineage.cpp and run_report.cpp hold them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tarn/lang/limits.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang::detail {


/// "hash_" + the residual's bit pattern in lower-case hex without leading zeros.
/// **Example**: 0.0 -> "hash_0", -0.0 -> "hash_8000000000000000", 1.0 -> "hash_3ff0000000000000".
std::string replay_hash(double residual);

/// Sets replay_hash, signature and lineage, or fails (touching nothing) when the executed-command
/// texts exceed kCommandTextLimit. Measures the texts; renders none.
Result<void, RunError> build_lineage(RunState& state, std::string_view decision);

/// The report text: the pretty JSON form when json and track_lineage are both on, else the line
/// "Final Residual: {six decimals}, Pass: {true|false}" without a line end.
std::string report_text(const RunState& state, const RunSettings& settings,
                        std::string_view decision);

}  // namespace tarn::lang::detail
