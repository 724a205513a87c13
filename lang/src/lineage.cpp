// The lineage record of a run: replay hash, signature, and the record of what ran; and the one
// writer of its JSON object, which the run's report and `tarn run` both embed.
//
// The record's executed commands are the run's CommandLog itself, rendered only when the record is
// written. Before the record is built, the total length of those texts is measured (without
// rendering) and a record beyond 1 GiB is refused: a short script nested deep on a damaged memory
// would otherwise ask for terabytes and take the process down.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "run_finish.hpp"
#include "tarn/json/object_writer.hpp"

namespace tarn::lang {
namespace detail {
namespace {

constexpr std::string_view kSignature = "qrv-sha256:generated_tdo_sig_placeholder";

}  // namespace

std::string replay_hash(double residual) {
  char digits[16];
  std::uint64_t bits = 0;  // std::bit_cast, which Emscripten's libc++ (3.1.6) does not have
  std::memcpy(&bits, &residual, sizeof bits);
  const auto end = std::to_chars(std::begin(digits), std::end(digits), bits, 16).ptr;
  std::string out = "hash_";
  out.append(digits, end);
  return out;
}

Result<void, RunError> build_lineage(RunState& state, std::string_view decision) {
  if (state.executed_commands.text_length_exceeds(kCommandTextLimit)) {
    return fail(RunError{RunErrorCode::LineageTooLarge, "Lineage record exceeds " +
                                                            limit_text(kCommandTextLimit) +
                                                            " of executed-command text"});
  }
  state.replay_hash = replay_hash(state.residual);
  state.signature = std::string(kSignature);
  state.lineage = Lineage{.final_residual = state.residual,
                          .fuel_used = state.fuel_used,
                          .identity = state.identity,
                          .gate_state = std::string(decision)};
  return {};
}

}  // namespace detail

void append_lineage_json(std::string& out, const RunState& state, std::size_t depth) {
  if (!state.lineage) {
    out += "null";
    return;
  }
  const Lineage& lineage = *state.lineage;
  const CommandLog& log = state.executed_commands;
  json::SortedPrettyObject object(out, depth);
  object.array("executed_commands", log.size(),
               [&log](std::string& text, std::size_t i) { log.append_json_text(text, i); });
  object.number("final_residual", lineage.final_residual);
  object.integer("fuel_used", lineage.fuel_used);
  object.string("gate_state", lineage.gate_state);
  object.or_null("identity", lineage.identity);
  object.close();
}

}  // namespace tarn::lang
