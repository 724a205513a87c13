// The execution loop: one loop over an explicit stack of frames.
//
// A frame is the rest of one instruction list still to run. Branch, IfGreaterThan and Import do
// not call the loop again; their handlers answer "enter this body" and the loop pushes a frame and
// carries on in this same C++ frame, as a Lua call runs in the VM's own loop. So no script depth
// reaches the call stack and only fuel bounds nesting: each level costs at least one unit.
//
// The fuel check, the charge and the recording happen in exactly one place, before the handler
// runs, so that an instruction that fails is recorded too and a block's entry precedes its body's.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "handlers.hpp"
#include "interpreter.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang {
namespace {

struct Frame {
  const Instruction* next;
  const Instruction* end;
  std::uint64_t open_text_bytes;  // held by this frame while it runs: non-zero only for an import
};

constexpr std::string_view kOutOfFuel = "Out of fuel (Gas limit exceeded)";

}  // namespace

Result<void, RunError> execute(std::shared_ptr<const Program> program, RunMemory memory,
                               const RunInputs& inputs, RunState& state, RunSettings& settings) {
  const Program& top = *program;
  detail::Recorder::keep(state.executed_commands, std::move(program));
  // A long flat script records one entry per statement: room for them at once.
  detail::Recorder::reserve(
      state.executed_commands,
      static_cast<std::size_t>(std::min<std::uint64_t>(
          inputs.fuel_limit - std::min(inputs.fuel_limit, state.fuel_used), top.size())));

  detail::ImportState imports;
  detail::Handlers handlers(memory, inputs, state, settings, imports);
  std::vector<Frame> frames{Frame{top.begin(), top.end(), 0}};

  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.end) {
      imports.open_text_bytes -= frame.open_text_bytes;
      frames.pop_back();
      continue;
    }
    const Instruction& instruction = *frame.next++;

    if (state.fuel_used >= inputs.fuel_limit) return fail(RunError{std::string(kOutOfFuel)});
    state.fuel_used += 1;
    detail::Recorder::record(state.executed_commands, instruction);

    // `frame` may dangle after this point: entering a body can grow `frames`.
    detail::Outcome outcome =
        std::visit(handlers, static_cast<const InstructionKind&>(instruction));
    if (auto* error = std::get_if<RunError>(&outcome)) return fail(std::move(*error));
    if (auto* enter = std::get_if<detail::EnterBody>(&outcome)) {
      imports.open_text_bytes += enter->open_text_bytes;
      const std::span<const Instruction> body = enter->body;
      frames.push_back(Frame{body.data(), body.data() + body.size(), enter->open_text_bytes});
    }
  }
  return {};
}

}  // namespace tarn::lang
