// The whole verifier as a function: arguments in, the one output out. main() only converts argv
// and writes the result, so tests and the fuzzer run the verifier in-process.
#pragma once

#include <span>
#include <string>

namespace qrv {

/// Chooses the mode (case id, then scenario flags, then the state-memory check) and returns the
/// text to print, line ends included.
std::string run_verifier(std::span<const std::string> arguments);

}  // namespace qrv
