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
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "file_system.hpp"
#include "handlers.hpp"
#include "program_storage.hpp"
#include "tracer.hpp"
#include "tarn/lang/parser.hpp"
#include "interpreter.hpp"
#include "tarn/lang/run_state.hpp"

namespace tarn::lang {
namespace {

// The rest of one instruction list still to run, where it began (`next - 1 - begin` is the
// index of the instruction running), where its statements stand and in which file.
struct Frame {
  const Instruction* next;
  const Instruction* end;
  const Instruction* begin;
  const SourceSpan* spans;        // null: not recorded
  std::uint32_t file;             // in the run's ImportCache; 0: the policy's own text
  bool import_root;               // the top level of an imported file, which it leaves at the end
  std::uint64_t open_text_bytes;  // held by this frame while it runs: non-zero only for an import
};

constexpr std::string_view kOutOfFuel = "Out of fuel (Gas limit exceeded)";

// Where the statements of a run stand, when its program was parsed without their spans: each
// file on the way is read again up to the statement, which is found by the same indices.
// Parsing is pure, so the same text gives the same tree. A run that succeeds never comes here;
// one that fails pays a read of each file it names in the error, up to the place named.
class SpansFoundAgain {
 public:
  SpansFoundAgain(const RunInputs& inputs, const detail::ImportCache& imports)
      : inputs_(inputs), imports_(imports) {}

  /// The span of the instruction frames[k] is running.
  SourceSpan span(const std::vector<Frame>& frames, std::size_t k) const {
    std::size_t start = k;  // the top level of the file that frame k runs
    while (start > 0 && !frames[start].import_root) --start;
    std::vector<std::size_t> path;
    for (std::size_t j = start; j <= k; ++j) {
      path.push_back(static_cast<std::size_t>(frames[j].next - 1 - frames[j].begin));
    }
    return statement_span(text_of(frames[start].file), path).value_or(SourceSpan{});
  }

 private:
  // A file's text is kept while its imports run, when the run locates its errors.
  std::string_view text_of(std::uint32_t file) const {
    if (file == 0) return inputs_.text;
    const detail::ImportedFile& imported = imports_[file];
    return imported.text ? imported.text->view() : std::string_view();
  }

  const RunInputs& inputs_;
  const detail::ImportCache& imports_;
};

// Adds to `error` where it happened: the instruction running in the innermost frame (unless the
// error located itself, as a parse error in an imported file does) and the import statements on
// the way out.
RunError located(RunError error, const std::vector<Frame>& frames, const RunInputs& inputs,
                 const detail::ImportCache& imports) {
  SpansFoundAgain found(inputs, imports);
  const auto location_of = [&](std::size_t k) {
    const Frame& frame = frames[k];
    const auto index = static_cast<std::size_t>(frame.next - 1 - frame.begin);
    const SourceSpan span = frame.spans != nullptr ? frame.spans[index] : found.span(frames, k);
    if (frame.file == 0) return locate(inputs.name, inputs.text, span);
    const detail::ImportedFile& file = imports[frame.file];
    return locate(file.name, file.text ? file.text->view() : std::string_view(), span);
  };
  std::size_t k = frames.size() - 1;
  std::uint32_t file = frames[k].file;
  if (error.location) {
    error.imported_from.push_back(location_of(k));
  } else {
    error.location = location_of(k);
  }
  while (k-- > 0) {
    if (frames[k].file == file) continue;
    file = frames[k].file;
    error.imported_from.push_back(location_of(k));
  }
  return error;
}

}  // namespace

StatementLocation locate(std::string_view file, std::string_view text, SourceSpan span) {
  const LineColumn place = line_column(text, span.offset);
  return StatementLocation{std::string(file), span, place.line, place.column};
}

namespace {

// The loop itself. With kTrace every started instruction is reported to the tracer once its
// handler has answered; without, the loop has no trace code at all (a test per instruction would
// be paid by every verifier run).
template <bool kTrace>
Result<void, RunError> run_loop(const Program& top, RunMemory memory, const RunInputs& inputs,
                                RunState& state, RunSettings& settings) {
  detail::ImportCache imports(detail::files_or_default(inputs.files),
                              inputs.open_import_text_limit, inputs.locate);
  detail::Handlers handlers(memory, inputs, state, settings, imports);
  std::vector<Frame> frames{
      Frame{top.begin(), top.end(), top.begin(), spans_of(top), 0, false, 0}};
  const auto fail_here = [&](RunError error) -> Result<void, RunError> {
    if (!inputs.locate) return fail(std::move(error));
    return fail(located(std::move(error), frames, inputs, imports));
  };
  [[maybe_unused]] std::optional<detail::Tracer> tracer;
  if constexpr (kTrace) tracer.emplace(*inputs.trace, memory, inputs, state, settings, imports);

  while (!frames.empty()) {
    Frame& frame = frames.back();
    if (frame.next == frame.end) {
      if (frame.import_root) imports.leave(frame.file, frame.open_text_bytes);
      frames.pop_back();
      continue;
    }
    const Instruction& instruction = *frame.next++;

    if (state.fuel_used >= inputs.fuel_limit) {
      return fail_here(RunError{RunErrorCode::OutOfFuel, std::string(kOutOfFuel)});
    }
    state.fuel_used += 1;
    detail::Recorder::record(state.executed_commands, instruction);

    // `frame` may dangle after this point: entering a body can grow `frames`.
    detail::Outcome outcome =
        std::visit(handlers, static_cast<const InstructionKind&>(instruction));
    if constexpr (kTrace) {
      const Frame& at = frames.back();
      const auto index = static_cast<std::size_t>(at.next - 1 - at.begin);
      tracer->step(instruction, outcome, at.file,
                   at.spans != nullptr ? at.spans[index] : SourceSpan{}, frames.size() - 1);
    }
    if (auto* error = std::get_if<RunError>(&outcome)) return fail_here(std::move(*error));
    if (auto* enter = std::get_if<detail::EnterBody>(&outcome)) {
      if (enter->file) imports.enter(*enter->file, enter->open_text_bytes);
      const std::span<const Instruction> body = enter->body;
      const std::uint32_t file = enter->file.value_or(frames.back().file);
      frames.push_back(Frame{body.data(), body.data() + body.size(), body.data(), enter->spans,
                             file, enter->file.has_value(), enter->open_text_bytes});
    }
  }
  return {};
}

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
  if (inputs.trace != nullptr) return run_loop<true>(top, memory, inputs, state, settings);
  return run_loop<false>(top, memory, inputs, state, settings);
}

}  // namespace tarn::lang
