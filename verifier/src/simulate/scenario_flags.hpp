// The twenty scenario flags and their constant verdict documents.
#pragma once

#include <optional>
#include <span>
#include <string>

namespace qrv {

/// The compact document of the first argument that equals a flag exactly, without a line end;
/// nullopt when no argument is a flag.
/// **Example**: {"--simulate-dpia-gate"} -> {"gate_status":"CLOSED","indices_healed":[],...}
std::optional<std::string> scenario_flag_document(std::span<const std::string> arguments);

}  // namespace qrv
