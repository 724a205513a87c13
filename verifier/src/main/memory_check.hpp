// The default mode: encode the payload, optionally damage one value, and judge the memory, or
// hand it to a script run.
#pragma once

#include <string>

#include "options.hpp"

namespace qrv {

/// Appends exactly one verdict to `out`.
void run_state_check(const VerifierOptions& options, std::string& out);

}  // namespace qrv
