// A policy compiled once and evaluated many times.
//
// compile() parses a policy's text, recording where each statement stands; evaluate() runs it
// over a state memory exactly as run_script would run the text (the same texts, the same lineage,
// the same report). A Policy never changes once compiled: copies share it, and any number of
// threads may evaluate one Policy at the same time, each over its own memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tarn/lang/file_access.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/run_state.hpp"
#include "tarn/lang/source_file.hpp"

namespace tarn::lang {

struct Trace;

namespace detail {
struct CompiledPolicy;
struct PolicyShares;
}  // namespace detail

class Policy {
 public:
  /// The name given at compile(): how run errors name the policy's own text.
  const std::string& name() const noexcept;
  /// The text the policy was compiled from.
  std::string_view text() const noexcept;
  /// Its statements, each with the span where it stands in text().
  const Program& program() const noexcept;

 private:
  friend Result<Policy, ParseError> compile(std::string_view text, std::string name,
                                            struct CompileOptions options);
  friend Result<Policy, ParseError> compile(std::shared_ptr<const SourceText> text,
                                            std::string name, struct CompileOptions options);
  friend Result<RunState, RunError> evaluate(const Policy&, RunMemory, const nlohmann::json*,
                                             const struct RunOptions&);
  explicit Policy(std::shared_ptr<const detail::CompiledPolicy> compiled);
  /// The compiled policy, for a run that keeps it in the state it returns (whose log points into
  /// it), counted in this thread's share.
  const std::shared_ptr<const detail::CompiledPolicy>& share() const;

  std::shared_ptr<const detail::CompiledPolicy> compiled_;
  std::shared_ptr<const detail::PolicyShares> shares_;
};

/// How a run may go: the most instructions it may start, the most script text the imports open
/// at one time may hold together, and which files it may import and write its report to (null:
/// the working directory's, as a command-line tool would; see file_access.hpp; the FileAccess
/// must outlive the run); and, when `trace` is set, where to explain each step (trace.hpp; it is
/// cleared first, and filled also when the run fails; a policy compiled without spans is not
/// traced).
struct RunOptions {
  std::uint64_t fuel_limit = kDefaultFuel;
  std::uint64_t open_import_text_limit = kScriptTextLimit;
  const FileAccess* files = nullptr;
  Trace* trace = nullptr;
};

struct CompileOptions {
  /// Record where each statement stands (Program::span), which traces need. Without, a policy
  /// parses faster (the run of W3, 9000 blocks, takes 11% fewer instructions) and its run errors
  /// are still located: the texts are parsed again, with spans, once a run has failed.
  bool spans = true;
};

/// Parses `text` once; `name` names it in the locations of run errors (for example its path).
/// A parse error tells where the failing statement begins (ParseError::statement).
/// **Example**: compile("alias(0, \"amount\")\nassert_bounds(0, 200, \"amount\")", "d1.tarn").
Result<Policy, ParseError> compile(std::string_view text, std::string name = {},
                                   CompileOptions options = {});

/// The same for a text read whole (source_file.hpp), which the policy shares instead of copying
/// it: a large script is then never copied, and the caller still has it for messages.
/// **Example**: compile(std::make_shared<const SourceText>(std::move(*read)), "p.tarn").
Result<Policy, ParseError> compile(std::shared_ptr<const SourceText> text, std::string name = {},
                                   CompileOptions options = {});

/// Runs the policy over `memory` (whose values it changes in place, also when it fails) with an
/// optional JSON context. The result is what run_script gives for the policy's text, and a run
/// error is located at the statement that failed.
/// **Example**: evaluate(policy, {signs, values}, nullptr)->pass.
Result<RunState, RunError> evaluate(const Policy& policy, RunMemory memory,
                                    const nlohmann::json* context,
                                    const RunOptions& options = RunOptions{});

}  // namespace tarn::lang
