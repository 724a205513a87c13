// The provenance signature that the verifier's verdicts carry: the report's "Signature:" line and
// "provenance_signature" member, and the documents that the scenario catalogue builds.
#pragma once

#include <string_view>

namespace qrv {

inline constexpr std::string_view kProvenanceSignature = "ed25519:authentic_core";

}  // namespace qrv
