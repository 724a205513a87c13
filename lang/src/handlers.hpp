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
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "tarn/lang/instruction.hpp"
#include "interpreter.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang::detail {

/// The instruction is finished; the loop goes on with the next one.
struct Proceed {};

/// Run `body` next, then go on after the instruction that asked for it. `spans` says where its
/// statements stand (null: not recorded). An import also names the file the body comes from and
/// states how many bytes of script text it holds open until its body ends.
struct EnterBody {
  std::span<const Instruction> body;
  const SourceSpan* spans = nullptr;
  std::optional<std::uint32_t> file;  // none: the file of the instruction that entered it
  std::uint64_t open_text_bytes = 0;
};

/// A file whose statements run: the policy's own text (file 0) or an imported one.
struct RunFile {
  std::string name;
  std::string_view text;
};

/// A handler's answer. A RunError ends the whole run with that text.
using Outcome = std::variant<Proceed, EnterBody, RunError>;

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
  /// Every imported file whose statements ran, as file 1, 2, ... (file 0 is the program's own
  /// text); an import of the same path and text reuses its entry.
  std::vector<RunFile> files;
  std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>> file_by_name;
};

/// A context member's value as bind and bind_all take it: integers to the nearest double (ties to
/// even), floats unchanged; anything that is not a number gives nothing.
std::optional<double> context_number(const nlohmann::json& value);

class Handlers {
 public:
  Handlers(RunMemory memory, const RunInputs& inputs, RunState& state, RunSettings& settings,
           ImportState& imports)
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
  /// The id of the file an import runs: its path, with the text it was read as.
  std::uint32_t file_of(const std::string& path, std::string_view text);

  RunMemory memory_;
  const RunInputs& inputs_;
  RunState& state_;
  RunSettings& settings_;
  ImportState& imports_;
};

}  // namespace tarn::lang::detail
