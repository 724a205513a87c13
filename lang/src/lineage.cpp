// The lineage record of a run: replay hash, signature, and the record of what ran.
//
// The record's executed commands are the run's CommandLog itself, rendered only when the record is
// written. Before the record is built, the total length of those texts is measured (without
// rendering) and a record beyond 1 GiB is refused: a short script nested deep on a damaged memory
// would otherwise ask for terabytes and take the process down.
#include <bit>
#include <charconv>
#include <cmath>
#include <string>

#include "run_finish.hpp"

namespace tarn::lang {
namespace detail {
namespace {

constexpr std::string_view kSignature = "qrv-sha256:generated_tdo_sig_placeholder";

}  // namespace

std::string replay_hash(double residual) {
  char digits[16];
  const auto bits = std::bit_cast<std::uint64_t>(residual);
  const auto end = std::to_chars(std::begin(digits), std::end(digits), bits, 16).ptr;
  std::string out = "hash_";
  out.append(digits, end);
  return out;
}

Result<void, RunError> build_lineage(RunState& state, std::string_view decision) {
  if (state.executed_commands.text_length_exceeds(kCommandTextLimit)) {
    return fail(RunError{"Lineage record exceeds " + limit_text(kCommandTextLimit) +
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

// Keys in byte order, as the sorted document of lineage_document writes them.
void append_lineage_pretty(std::string& out, const RunState& state, int depth) {
  if (!state.lineage) {
    out += "null";
    return;
  }
  const Lineage& lineage = *state.lineage;
  const CommandLog& log = state.executed_commands;
  PrettyObject object(out, depth);

  object.array("executed_commands", log.size(),
               [&log](std::string& text, std::size_t i) { log.append_json_text(text, i); });
  json::append_json_number(object.member("final_residual"), lineage.final_residual);
  object.member("fuel_used") += std::to_string(lineage.fuel_used);
  json::append_json_string(object.member("gate_state"), lineage.gate_state);
  append_optional_string(object.member("identity"), lineage.identity);
  object.close();
}

}  // namespace detail

void append_lineage_json(std::string& out, const RunState& state, int depth) {
  detail::append_lineage_pretty(out, state, depth);
}

nlohmann::json lineage_document(const RunState& state) {
  if (!state.lineage) return nullptr;
  const Lineage& lineage = *state.lineage;
  nlohmann::json commands = nlohmann::json::array();
  for (std::size_t i = 0; i < state.executed_commands.size(); ++i) {
    commands.push_back(state.executed_commands.text(i));
  }
  nlohmann::json document = nlohmann::json::object();
  document["executed_commands"] = std::move(commands);
  document["final_residual"] = std::isfinite(lineage.final_residual)
                                   ? nlohmann::json(lineage.final_residual)
                                   : nlohmann::json(nullptr);
  document["fuel_used"] = lineage.fuel_used;
  document["gate_state"] = lineage.gate_state;
  document["identity"] =
      lineage.identity ? nlohmann::json(*lineage.identity) : nlohmann::json(nullptr);
  return document;
}

}  // namespace tarn::lang
