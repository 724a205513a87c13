// The instruction handlers and what they tell the execution loop.
//
// One overload per instruction and no catch-all: std::visit over an Instruction fails to compile
// when a variant has no handler. A handler never runs a body itself; it answers "done", "failed"
// or "enter this body", and the loop in interpreter.cpp pushes a frame. That keeps script nesting
// off the call stack.
#pragma once

#include <cstdint>
#include <span>
#include <optional>
#include <variant>

#include "import_cache.hpp"
#include "interpreter.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang::detail {

/// The instruction is finished; the loop goes on with the next one.
struct Proceed {};

/// Run `body` next, then go on after the instruction that asked for it. `spans` says where its
/// statements stand (null: not recorded). An import also names the file the body comes from (in
/// the run's ImportCache) and states how many bytes of script text it holds open until its body
/// ends.
struct EnterBody {
  std::span<const Instruction> body;
  const SourceSpan* spans = nullptr;
  std::optional<std::uint32_t> file;  // none: the file of the instruction that entered it
  std::uint64_t open_text_bytes = 0;
};

/// A handler's answer. A RunError ends the whole run with that text.
using Outcome = std::variant<Proceed, EnterBody, RunError>;

class Handlers {
 public:
  Handlers(RunMemory memory, const RunInputs& inputs, RunState& state, RunSettings& settings,
           ImportCache& imports)
      : memory_(memory), inputs_(inputs), state_(state), settings_(settings), imports_(imports) {}

  Outcome operator()(const Harmony& instruction);
  Outcome operator()(const RequireEquilibrium& instruction);
  Outcome operator()(const Evolve& instruction);
  Outcome operator()(const Data& instruction);
  Outcome operator()(const Corrupt& instruction);
  Outcome operator()(const Residual& instruction);
  Outcome operator()(const Report& instruction);
  Outcome operator()(const ReportCompact& instruction);
  Outcome operator()(const ReportVerbose& instruction);
  Outcome operator()(const ReportTo& instruction);
  Outcome operator()(const ReportJson& instruction);
  Outcome operator()(const LogLevel& instruction);
  Outcome operator()(const Branch& instruction);
  Outcome operator()(const BudgetLimit& instruction);
  Outcome operator()(const TimeWindow& instruction);
  Outcome operator()(const VolatilityLimit& instruction);
  Outcome operator()(const MaxExposure& instruction);
  Outcome operator()(const AssertBounds& instruction);
  Outcome operator()(const AssertBoundsNamed& instruction);
  Outcome operator()(const LinkIdentity& instruction);
  Outcome operator()(const TrackLineage& instruction);
  Outcome operator()(const Bind& instruction);
  Outcome operator()(const Alias& instruction);
  Outcome operator()(const BindAll& instruction);
  Outcome operator()(const IfGreaterThan& instruction);
  Outcome operator()(const Escalate& instruction);
  Outcome operator()(const Import& instruction);
  Outcome operator()(const GenerateZkProof& instruction);

 private:
  /// Enters a block's body, in the file of the block.
  EnterBody enter(const Body& body) const;

  RunMemory memory_;
  const RunInputs& inputs_;
  RunState& state_;
  RunSettings& settings_;
  ImportCache& imports_;
};

}  // namespace tarn::lang::detail
