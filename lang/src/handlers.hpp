// The instruction handlers and what they tell the execution loop.
//
// One overload per instruction and no catch-all: std::visit over an Instruction fails to compile
// when a variant has no handler. A handler never runs a body itself; it answers "done", "failed"
// or "enter this body", and the loop in interpreter.cpp pushes a frame. That keeps script nesting
// off the call stack.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "tarn/lang/instruction.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang::detail {

/// The instruction is finished; the loop goes on with the next one.
struct Proceed {};

/// Run `body` next, then go on after the instruction that asked for it. An import also states how
/// many bytes of script text it holds open until its body ends.
struct EnterBody {
  std::span<const Instruction> body;
  std::uint64_t open_text_bytes = 0;
};

/// A handler's answer. A RunError ends the whole run with that text.
using Step = std::variant<Proceed, EnterBody, RunError>;

/// What Import needs across one run: parsed programs shared by identical texts (a file that imports
/// itself is parsed once, not once per level) and the bytes of text held by the imports now open.
// Looks texts up by view, so that finding an imported text costs no copy of it.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
  }
};

struct ImportState {
  std::unordered_map<std::string, std::shared_ptr<const Program>, TextHash, std::equal_to<>>
      parsed_by_text;
  std::uint64_t open_text_bytes = 0;
};

class Handlers {
 public:
  Handlers(const RunInputs& inputs, RunState& state, RunSettings& settings, ImportState& imports)
      : inputs_(inputs), state_(state), settings_(settings), imports_(imports) {}

  Step operator()(const Harmony& instruction);
  Step operator()(const RequireEquilibrium& instruction);
  Step operator()(const Evolve& instruction);
  Step operator()(const Data& instruction);
  Step operator()(const Corrupt& instruction);
  Step operator()(const Residual& instruction);
  Step operator()(const Report& instruction);
  Step operator()(const ReportCompact& instruction);
  Step operator()(const ReportVerbose& instruction);
  Step operator()(const ReportTo& instruction);
  Step operator()(const ReportJson& instruction);
  Step operator()(const LogLevel& instruction);
  Step operator()(const Branch& instruction);
  Step operator()(const BudgetLimit& instruction);
  Step operator()(const TimeWindow& instruction);
  Step operator()(const VolatilityLimit& instruction);
  Step operator()(const MaxExposure& instruction);
  Step operator()(const AssertBounds& instruction);
  Step operator()(const AssertBoundsNamed& instruction);
  Step operator()(const LinkIdentity& instruction);
  Step operator()(const TrackLineage& instruction);
  Step operator()(const Bind& instruction);
  Step operator()(const Alias& instruction);
  Step operator()(const BindAll& instruction);
  Step operator()(const IfGreaterThan& instruction);
  Step operator()(const Escalate& instruction);
  Step operator()(const Import& instruction);
  Step operator()(const GenerateZkProof& instruction);

 private:
  const RunInputs& inputs_;
  RunState& state_;
  RunSettings& settings_;
  ImportState& imports_;
};

}  // namespace tarn::lang::detail
