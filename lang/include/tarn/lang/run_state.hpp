// The state of one script run: what the run records (RunState), the switches a script sets
// (RunSettings), the memory it changes (RunMemory), and how a run fails (RunError).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang {

namespace detail {
class Recorder;
}  // namespace detail

/// What ended a run. The codes are stable: a host switches on them instead of matching messages.
enum class RunErrorCode {
  OutOfFuel,           // "Out of fuel (Gas limit exceeded)"
  BoundsAssertion,     // "Bounds assertion failed at index ..." / "... for '...' (index ...) ..."
  UnknownAlias,        // "AssertBounds: Unknown alias '...'", "IfGreaterThan: Unknown alias '...'"
  NoContext,           // "Bind failed: no JSON context provided"
  MissingContextKey,   // "Bind failed: key '...' not found in context or not a number"
  PositionOutOfRange,  // "Evolve: position 7 out of range (4 values, 4 signs)" and the like
  MemoryShape,         // "Data: memory needs at least 4 signs and 4 values ...", Evolve's sign rule
  ImportFailed,        // "Import failed for '...': <the platform's reason>"
  ImportTooLarge,      // "Import failed for '...': open imports exceed 256 MiB of script text"
  ImportParseError,    // "Parse error in imported file: ..."
  ParseError,          // "Parse error: ..." (the policy's own text)
  LineageTooLarge,     // "Lineage record exceeds 1 GiB of executed-command text"
};

/// Where a statement stands: the file (a policy's name for its own text, or an imported file's
/// path as its import names it), the statement's span in that file's text, and the line and
/// column of the span's first byte (from 1; a column counts characters, a tab as one).
struct StatementLocation {
  std::string file;
  SourceSpan span;
  std::uint32_t line = 0;
  std::uint32_t column = 0;
  friend bool operator==(const StatementLocation&, const StatementLocation&) = default;
};

/// A run error. The first one ends the run.
struct RunError {
  RunError() = default;
  RunError(RunErrorCode error_code, std::string error_message)
      : code(error_code), message(std::move(error_message)) {}

  RunErrorCode code = RunErrorCode::OutOfFuel;
  /// The message, exactly as the verifier's and the tools' outputs have always shown it.
  std::string message;
  /// Where the run failed: the statement that failed or, for a file that does not parse, the
  /// place in it where parsing failed (a span of length 0). None when the run failed after its
  /// last statement (LineageTooLarge), or when the text was parsed without spans.
  std::optional<StatementLocation> location;
  /// The imports on the way to `location`, innermost first: each import statement.
  std::vector<StatementLocation> imported_from;
  friend bool operator==(const RunError&, const RunError&) = default;
};

/// The record of started instructions, in start order.
///
/// Entries refer to the instructions themselves and their canonical texts are rendered only when
/// asked for: a block's text holds its whole body, so rendering at each start would be quadratic
/// in the nesting depth. The log keeps every program it refers to alive.
class CommandLog {
 public:
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
  friend class detail::Recorder;  // the run loop records entries and keeps their programs alive

  std::vector<const Instruction*> entries_;
  std::vector<std::shared_ptr<const Program>> programs_;
};

/// The lineage record, built at the end of a run when tracking is on. Its executed commands are
/// the run's CommandLog; append_lineage_json() writes the JSON object.
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

/// Looks texts up by view, so that finding one costs no copy of it.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

struct RunSettings {
  double tolerance = 1e-12;
  bool report = false;
  bool json = false;
  std::optional<std::string> report_to;
  bool track_lineage = false;
  std::unordered_map<std::string, std::uint64_t, TextHash, std::equal_to<>> aliases;
};

/// The state memory a run works on, borrowed for its whole length: the signs are read, the
/// values changed in place (the caller sees the changes, also after a run error).
struct RunMemory {
  std::span<const std::int8_t> signs;
  std::span<double> values;
};

/// Appends the lineage as a pretty JSON object with sorted keys (executed_commands,
/// final_residual, fuel_used, gate_state, identity), its opening brace where `out` ends and `depth`
/// the nesting level of that line ("null" when the run built none). The command texts are written
/// straight from the log, with no document in between.
/// **Example**: depth 0 -> {"executed_commands": ["TrackLineage(true)"], "final_residual": 0.0,
/// "fuel_used": 1, "gate_state": "ALLOW", "identity": null}, one member or item a line.
void append_lineage_json(std::string& out, const RunState& state, std::size_t depth);

}  // namespace tarn::lang
