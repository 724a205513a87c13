// What each of the 28 instructions does to the memory, the run state and the settings.
//
// The loop has already checked and charged one unit of fuel and recorded the instruction. Every
// position that script text names is checked against the vectors before it is used: a script can
// name any position, and a bad one ends the run with a run error instead of touching memory
// outside the vectors. Floats in messages use the display form (1 not 1.0, no exponent).
#include "handlers.hpp"
#include "interpreter.hpp"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tarn/evolution/evolution.hpp"
#include "tarn/json/number_text.hpp"
#include "program_storage.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/source_file.hpp"
#include "tarn/memory/state_memory.hpp"

namespace tarn::lang::detail {
namespace {

constexpr std::string_view kZkProof = "zk:disabled_rebuild_with_--features_zk";
constexpr std::uint64_t kEvolveExtraFuel = 10;

/// Builds a run error's message from pieces: text, positions (decimal) and floats (display form).
class Message {
 public:
  explicit Message(RunErrorCode code) : code_(code) {}
  Message& operator<<(std::string_view text) {
    text_ += text;
    return *this;
  }
  template <std::unsigned_integral Count>
  Message& operator<<(Count position_or_count) {
    text_ += std::to_string(position_or_count);
    return *this;
  }
  Message& operator<<(double value) {
    json::append_display_number(text_, value);
    return *this;
  }
  operator RunError() const { return RunError{code_, text_}; }  // NOLINT(google-explicit-constructor)

 private:
  RunErrorCode code_;
  std::string text_;
};

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return a > std::numeric_limits<std::uint64_t>::max() - b
             ? std::numeric_limits<std::uint64_t>::max()
             : a + b;
}

}  // namespace

std::optional<double> context_number(const nlohmann::json& value) {
  switch (value.type()) {
    case nlohmann::json::value_t::number_unsigned:
      return static_cast<double>(value.get<std::uint64_t>());
    case nlohmann::json::value_t::number_integer:
      return static_cast<double>(value.get<std::int64_t>());
    case nlohmann::json::value_t::number_float:
      return value.get<double>();
    default:
      return std::nullopt;
  }
}

// A path as run errors show it: a NUL byte, which no file name can hold, is written \0.
// **Example**: "inc.tarn", NUL, "/x" -> "inc.tarn\0/x".
std::string path_text(std::string_view path) {
  std::string text;
  for (const char c : path) {
    if (c == '\0') {
      text += "\\0";
    } else {
      text += c;
    }
  }
  return text;
}

// --- Equilibrium and memory -----------------------------------------------------------------

Outcome Handlers::operator()(const Harmony& instruction) {
  settings_.tolerance = instruction.tolerance;
  state_.pass = memory::in_equilibrium(memory_.signs, memory_.values, instruction.tolerance);
  return Proceed{};
}

// Deliberately the same as Harmony: it refreshes `pass` and never stops the run.
Outcome Handlers::operator()(const RequireEquilibrium& instruction) {
  return (*this)(Harmony{instruction.tolerance});
}

Outcome Handlers::operator()(const Evolve& instruction) {
  // Charged before anything is checked, like the loop's own unit: an Evolve that fails still paid.
  state_.fuel_used = saturating_add(state_.fuel_used, kEvolveExtraFuel);
  const std::uint64_t i = instruction.index;
  const std::size_t n = memory_.values.size();
  const std::size_t m = memory_.signs.size();
  if (i >= n || i >= m) {
    return Message(RunErrorCode::PositionOutOfRange)
           << "Evolve: position " << i << " out of range (" << n << " values, " << m << " signs)";
  }
  if (m < n) {
    return Message(RunErrorCode::MemoryShape)
           << "Evolve: memory needs a sign for every value (" << m << " signs, " << n
           << " values)";
  }
  evolution::heal(memory_.signs, memory_.values, i);
  state_.last_healed = i;
  state_.healed_indices.push_back(i);
  state_.residual = memory::residual(memory_.signs, memory_.values);
  return Proceed{};
}

// The operand is parsed and recorded but has no effect.
Outcome Handlers::operator()(const Data&) {
  if (!memory::has_four_pairs(memory_.signs, memory_.values)) {
    return Message(RunErrorCode::MemoryShape)
           << "Data: memory needs at least 4 signs and 4 values (" << memory_.signs.size()
           << " signs, " << memory_.values.size() << " values)";
  }
  state_.revealed = memory::reveal(memory_.signs, memory_.values);
  return Proceed{};
}

Outcome Handlers::operator()(const Corrupt& instruction) {
  if (instruction.index >= memory_.values.size()) {
    return Message(RunErrorCode::PositionOutOfRange)
           << "Corrupt: position " << instruction.index << " out of range ("
           << memory_.values.size() << " values)";
  }
  memory::corrupt(memory_.values, instruction.index);
  state_.residual = memory::residual(memory_.signs, memory_.values);
  state_.pass = memory::in_equilibrium(memory_.signs, memory_.values, settings_.tolerance);
  return Proceed{};
}

// The operand is parsed and recorded but has no effect.
Outcome Handlers::operator()(const Residual&) {
  state_.residual_log.push_back(memory::residual(memory_.signs, memory_.values));
  return Proceed{};
}

// --- Report switches and bookkeeping ----------------------------------------------------------

// The report has one text form, so the compact and verbose variants only switch it on too.
Outcome Handlers::operator()(const Report&) {
  settings_.report = true;
  return Proceed{};
}
Outcome Handlers::operator()(const ReportCompact&) { return (*this)(Report{}); }
Outcome Handlers::operator()(const ReportVerbose&) { return (*this)(Report{}); }

Outcome Handlers::operator()(const ReportTo& instruction) {
  settings_.report_to = std::string(instruction.target.view());
  return Proceed{};
}

// Asks for the JSON form; the run end uses it only when lineage tracking is on by then.
Outcome Handlers::operator()(const ReportJson&) {
  settings_.report = true;
  settings_.json = true;
  return Proceed{};
}

// Accepted for compatibility; the system has no logging.
Outcome Handlers::operator()(const LogLevel&) { return Proceed{}; }

// The four limits are recorded for the result only; nothing in the run consults them.
Outcome Handlers::operator()(const BudgetLimit& instruction) {
  state_.budget_limit = instruction.limit;
  return Proceed{};
}
Outcome Handlers::operator()(const TimeWindow& instruction) {
  state_.time_window = instruction.window;
  return Proceed{};
}
Outcome Handlers::operator()(const VolatilityLimit& instruction) {
  state_.volatility_limit = instruction.limit;
  return Proceed{};
}
Outcome Handlers::operator()(const MaxExposure& instruction) {
  state_.max_exposure = instruction.limit;
  return Proceed{};
}

Outcome Handlers::operator()(const LinkIdentity& instruction) {
  state_.identity = std::string(instruction.identity.view());
  return Proceed{};
}

// Only the value at the end of the run matters.
Outcome Handlers::operator()(const TrackLineage& instruction) {
  settings_.track_lineage = instruction.enabled;
  return Proceed{};
}

// The run goes on; the decision at its end becomes "ESCALATE" whatever the equilibrium.
Outcome Handlers::operator()(const Escalate& instruction) {
  state_.escalation = std::string(instruction.reason.view());
  return Proceed{};
}

Outcome Handlers::operator()(const GenerateZkProof& instruction) {
  if (instruction.enabled) {
    state_.zk_proof = std::string(kZkProof);
  } else {
    state_.zk_proof.reset();
  }
  return Proceed{};
}

// The position is not validated here but where the alias is used.
Outcome Handlers::operator()(const Alias& instruction) {
  settings_.aliases.insert_or_assign(std::string(instruction.name()), instruction.index());
  return Proceed{};
}

// --- Bounds assertions ------------------------------------------------------------------------

// Both bounds inclusive; a NaN value passes because both comparisons are false.
Outcome Handlers::operator()(const AssertBounds& instruction) {
  const std::uint64_t i = instruction.index();
  if (i >= memory_.values.size()) {
    return Message(RunErrorCode::PositionOutOfRange)
           << "AssertBounds: position " << i << " out of range (" << memory_.values.size()
           << " values)";
  }
  const double v = memory_.values[static_cast<std::size_t>(i)];
  if (v < instruction.min() || v > instruction.max()) {
    state_.pass = false;
    return Message(RunErrorCode::BoundsAssertion)
           << "Bounds assertion failed at index " << i << ": value " << v << " not in ["
           << instruction.min() << ", " << instruction.max() << "]";
  }
  return Proceed{};
}

Outcome Handlers::operator()(const AssertBoundsNamed& instruction) {
  const auto alias = settings_.aliases.find(instruction.name());
  if (alias == settings_.aliases.end()) {
    return Message(RunErrorCode::UnknownAlias)
           << "AssertBounds: Unknown alias '" << instruction.name() << "'";
  }
  const std::uint64_t i = alias->second;
  if (i >= memory_.values.size()) {
    return Message(RunErrorCode::PositionOutOfRange)
           << "AssertBounds: position " << i << " out of range (" << memory_.values.size()
           << " values)";
  }
  const double v = memory_.values[static_cast<std::size_t>(i)];
  if (v < instruction.min() || v > instruction.max()) {
    state_.pass = false;
    return Message(RunErrorCode::BoundsAssertion)
           << "Bounds assertion failed for '" << instruction.name() << "' (index "
           << i << "): value " << v << " not in [" << instruction.min() << ", " << instruction.max()
           << "]";
  }
  return Proceed{};
}

// --- Conditional blocks -----------------------------------------------------------------------

// Tested once, when the block starts; what the body does to the memory does not re-run the test.
Outcome Handlers::operator()(const Branch& instruction) {
  if (memory::in_equilibrium(memory_.signs, memory_.values, settings_.tolerance)) return Proceed{};
  return enter(instruction.body);
}

// The alias is looked up even when the body is empty; the test is strict and false for NaN.
Outcome Handlers::operator()(const IfGreaterThan& instruction) {
  const auto alias = settings_.aliases.find(instruction.name());
  if (alias == settings_.aliases.end()) {
    return Message(RunErrorCode::UnknownAlias)
           << "IfGreaterThan: Unknown alias '" << instruction.name() << "'";
  }
  const std::uint64_t i = alias->second;
  if (i >= memory_.values.size()) {
    return Message(RunErrorCode::PositionOutOfRange)
           << "IfGreaterThan: position " << i << " out of range (" << memory_.values.size()
           << " values)";
  }
  if (memory_.values[static_cast<std::size_t>(i)] > instruction.threshold()) {
    return enter(instruction.body());
  }
  return Proceed{};
}

// --- Context bindings -------------------------------------------------------------------------

Outcome Handlers::operator()(const Bind& instruction) {
  const nlohmann::json* context = inputs_.context;
  if (context == nullptr) {
    return RunError{RunErrorCode::NoContext, "Bind failed: no JSON context provided"};
  }
  std::optional<double> number;
  if (context->is_object()) {
    const auto member = context->find(instruction.key());
    if (member != context->end()) number = context_number(*member);
  }
  if (!number) {
    return Message(RunErrorCode::MissingContextKey)
           << "Bind failed: key '" << instruction.key()
           << "' not found in context or not a number";
  }
  // Checked only now: a missing key is reported as such whatever the position.
  if (instruction.index() >= memory_.values.size()) {
    return Message(RunErrorCode::PositionOutOfRange)
           << "Bind: position " << instruction.index() << " out of range (" << memory_.values.size()
           << " values)";
  }
  memory_.values[static_cast<std::size_t>(instruction.index())] = *number;
  return Proceed{};
}

// nlohmann::json objects are ordered maps, so members come in ascending byte order of their
// names, and of two aliases at one position the name that sorts last wins.
Outcome Handlers::operator()(const BindAll&) {
  const nlohmann::json* context = inputs_.context;
  if (context == nullptr || !context->is_object() || settings_.aliases.empty()) return Proceed{};
  for (const auto& [name, value] : context->items()) {
    const auto alias = settings_.aliases.find(name);
    if (alias == settings_.aliases.end()) continue;
    const std::optional<double> number = context_number(value);
    if (!number) continue;
    if (alias->second >= memory_.values.size()) {
      return Message(RunErrorCode::PositionOutOfRange)
             << "BindAll: position " << alias->second << " out of range ("
             << memory_.values.size() << " values)";
    }
    memory_.values[static_cast<std::size_t>(alias->second)] = *number;
  }
  return Proceed{};
}

// --- Import -----------------------------------------------------------------------------------

// An import finds the file as it is now: one changed since it was last parsed is read and parsed
// again, one unchanged is not (import_cache.hpp). Programs stay alive in the command log, which
// refers to their instructions. The guard bounds the text that nested imports hold open at one
// time, each import counting its file's whole size.
Outcome Handlers::operator()(const Import& instruction) {
  const std::string path(instruction.path.view());
  const auto too_large = [&] {
    return Message(RunErrorCode::ImportTooLarge)
           << "Import failed for '" << std::string_view(path_text(path))
           << "': open imports exceed " << limit_text(kScriptTextLimit) << " of script text";
  };
  // Reading stops where the guard would fail anyway, so that an endless device such as /dev/zero
  // meets the guard instead of exhausting memory.
  const std::uint64_t room = inputs_.open_import_text_limit - imports_.open_text_bytes();
  const auto max_bytes = static_cast<std::size_t>(std::min<std::uint64_t>(room, SIZE_MAX));
  std::optional<FileText> fresh;
  auto found = imports_.find(path, max_bytes, fresh);
  if (!found) {
    if (found.error().too_large) return too_large();
    return Message(RunErrorCode::ImportFailed)
           << "Import failed for '" << std::string_view(path_text(path))
           << "': " << std::string_view(found.error().reason);
  }
  std::uint32_t file = *found;
  if (file == 0) {
    auto parsed = parse_program(fresh->text, ParseOptions{.spans = inputs_.spans});
    if (!parsed) {
      RunError error = Message(RunErrorCode::ImportParseError)
                       << "Parse error in imported file: "
                       << std::string_view(parse_error_text(parsed.error()));
      // Located in the imported file, where parsing failed; the loop adds the import itself.
      if (inputs_.locate) {
        error.location = locate(path, fresh->text.view(),
                                SourceSpan{saturate_u32(parsed.error().offset), 0});
      }
      return error;
    }
    auto program = std::make_shared<const Program>(std::move(*parsed));
    Recorder::keep(state_.executed_commands, program);
    file = imports_.add(path, std::move(*fresh), std::move(program));
  }
  const ImportedFile& imported = imports_[file];
  if (imported.size > room) return too_large();
  const Program& program = *imported.program;
  return EnterBody{{program.begin(), program.size()}, spans_of(program), file, imported.size};
}

EnterBody Handlers::enter(const Body& body) const {
  const BodyRecord* record = record_of(body);
  return EnterBody{{body.begin(), body.size()}, record != nullptr ? record->spans : nullptr,
                   std::nullopt, 0};
}

}  // namespace tarn::lang::detail
