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

/// run_verifier for a host that holds the script as text (a browser has no files): the script is
/// `script_text`, judged as a file holding exactly those bytes would be, in place of any
/// "--script=" argument, so the output is byte for byte what the command line prints for it.
/// **Example**: ({"--corrupt-index=1", "--emit=json"}, "if_broken { evolve(1) }") -> the success
/// document with "indices_healed":[1].
std::string run_verifier_on_text(std::span<const std::string> arguments, std::string script_text);

/// The position of the first argument that is not well-formed UTF-8, or nullopt when all are.
/// Arguments are matched as UTF-8 bytes, so main() refuses to run on anything else.
/// **Example**: {"--emit=json", "\xff"} -> 1.
std::optional<std::size_t> find_invalid_argument(std::span<const std::string> arguments);

}  // namespace qrv
