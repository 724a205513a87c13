// The whole verifier as a function: arguments in, the one output out. main() only converts argv
// and writes the result, so tests and the fuzzer run the verifier in-process.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

namespace qrv {

/// Chooses the mode (case id, then scenario flags, then the state-memory check) and returns the
/// text to print, line ends included.
/// **Example**: {} -> "--- QRV Verifier Output ---\nPass: true\nStatus: OPEN\nResidual: 0\n..."
std::string run_verifier(std::span<const std::string> arguments);

/// The position of the first argument that is not well-formed UTF-8, or nullopt when all are.
/// Arguments are matched as UTF-8 bytes, so main() refuses to run on anything else.
/// **Example**: {"--emit=json", "\xff"} -> 1.
std::optional<std::size_t> find_invalid_argument(std::span<const std::string> arguments);

}  // namespace qrv
