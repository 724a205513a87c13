// The default mode: encode the payload, optionally damage one value, and judge the memory, or
// hand it to a script run.
#pragma once

#include <string>

#include "options.hpp"

namespace qrv {

/// Appends exactly one verdict to `out`: the report of this check, or, when a script path is
/// given (or a script text), whatever the script verdict prints.
/// **Example**: payload -0.5 -> the DENY report with reason "negative_budget_residual";
/// corrupt index 0 without a script -> DENY "equilibrium_lost".
void run_state_check(const VerifierOptions& options, std::string& out);

}  // namespace qrv
