// The state of one script run: what the run records (RunState), the switches a script sets
// (RunSettings), and what is lent to it (RunInputs).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang {

/// A run error: one message, no code, no location. The first one ends the run.
struct RunError {
  std::string message;
  friend bool operator==(const RunError&, const RunError&) = default;
};

/// The record of started instructions, in start order.
///
/// Entries refer to the instructions themselves and their canonical texts are rendered only when
/// asked for: a block's text holds its whole body, so rendering at each start would be quadratic
/// in the nesting depth. The log keeps every program it refers to alive.
class CommandLog {
 public:
  void record(const Instruction& instruction) { entries_.push_back(&instruction); }
  /// Keeps `program` alive as long as the log, so that its entries stay valid.
  void keep(std::shared_ptr<const Program> program) { programs_.push_back(std::move(program)); }

  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }
  const Instruction& operator[](std::size_t i) const { return *entries_[i]; }

  /// The canonical text of entry i.
  std::string text(std::size_t i) const { return canonical_text(*entries_[i]); }
  /// Appends the canonical text of entry i to `out` (no temporary per entry).
  void append_text(std::string& out, std::size_t i) const {
    append_canonical_text(out, *entries_[i]);
  }
  /// Appends the canonical text of entry i to `out` as a JSON string literal, rendered in place.
  /// **Example**: Alias(1, "a") -> "Alias(1, \"a\")" with the quotes.
  void append_json_text(std::string& out, std::size_t i) const;
  /// Room for `count` entries, so that a long run records without regrowing the log.
  void reserve(std::size_t count) { entries_.reserve(count); }
  /// Sum of the lengths of all entries' texts, without rendering them.
  std::uint64_t total_text_length() const;
  /// At least total_text_length(), saturating, and cheap (see canonical_text_length_bound): room
  /// to reserve before the texts are written.
  std::uint64_t text_length_bound() const;
  /// Whether total_text_length() > limit; cheap when the texts are far below the limit. `bound`
  /// is text_length_bound(), for a caller that has it already.
  bool text_length_exceeds(std::uint64_t limit, std::uint64_t bound) const;
  bool text_length_exceeds(std::uint64_t limit) const {
    return text_length_exceeds(limit, text_length_bound());
  }
  /// Every entry's text, in order.
  std::vector<std::string> texts() const;

 private:
  std::vector<const Instruction*> entries_;
  std::vector<std::shared_ptr<const Program>> programs_;
};

/// The lineage record, built at the end of a run when tracking is on. Its executed commands are
/// the run's CommandLog; lineage_document() renders the JSON object.
struct Lineage {
  double final_residual = 0.0;
  std::uint64_t fuel_used = 0;
  std::optional<std::string> identity;
  std::string gate_state;
};

struct RunState {
  std::optional<std::uint64_t> last_healed;
  std::optional<double> revealed;
  std::optional<double> budget_limit;
  std::optional<std::uint64_t> time_window;
  std::optional<double> volatility_limit;
  std::optional<double> max_exposure;
  std::vector<double> residual_log;
  std::vector<std::uint64_t> healed_indices;
  CommandLog executed_commands;
  std::optional<std::string> report_text;
  std::optional<std::string> report_path;
  std::optional<std::string> signature;
  std::optional<std::string> replay_hash;
  std::optional<std::string> identity;
  std::optional<std::string> zk_proof;
  std::optional<std::string> escalation;
  std::optional<Lineage> lineage;
  double residual = 0.0;
  std::uint64_t fuel_used = 0;
  bool pass = true;
};

struct RunSettings {
  double tolerance = 1e-12;
  bool report = false;
  bool json = false;
  std::optional<std::string> report_to;
  bool track_lineage = false;
  std::unordered_map<std::string, std::uint64_t> aliases;
};

/// What a run borrows for its whole length, shared by every nesting level.
struct RunInputs {
  std::span<const std::int8_t> signs;
  std::span<double> values;
  const nlohmann::json* context = nullptr;
  std::uint64_t fuel_limit = kDefaultFuel;
  /// Tests lower it to exercise the guard without writing hundreds of megabytes.
  std::uint64_t open_import_text_limit = kScriptTextLimit;
};

/// Runs `program` under the fuel rule: for each instruction, check fuel, charge one unit, record
/// it, run its handler; the first error ends the run. Blocks and imports nest on an explicit
/// frame stack, never on the call stack. The state's log keeps `program` alive.
/// **Example**: "evolve(0)\nreport()" with fuel_limit 11 fails with "Out of fuel (Gas limit
/// exceeded)" after one recorded instruction and fuel_used 11; with 12 it succeeds.
Result<void, RunError> execute(std::shared_ptr<const Program> program, const RunInputs& inputs,
                               RunState& state, RunSettings& settings);

/// Appends the lineage in the pretty JSON form that json::append_pretty gives lineage_document,
/// its opening brace where `out` ends and `depth` the indentation level of that line ("null"
/// when the run built none). Writes the command texts straight from the log, with no document.
/// **Example**: depth 0 -> "{\n  \"executed_commands\": [\n    \"TrackLineage(true)\"\n  ],\n ...}"
void append_lineage_json(std::string& out, const RunState& state, int depth);

/// The lineage as a JSON object with sorted keys (executed_commands, final_residual, fuel_used,
/// gate_state, identity), or null when the run built none. Renders every command text.
/// **Example**: {"executed_commands":["TrackLineage(true)"],"final_residual":0.0,"fuel_used":1,
/// "gate_state":"ALLOW","identity":null}
nlohmann::json lineage_document(const RunState& state);

}  // namespace tarn::lang
