// The engine for JavaScript: a small C interface over the library, which index.js calls.
//
// Texts cross in both directions as UTF-8 bytes in the module's memory. index.js writes each
// argument into a buffer of its own and frees it after the call; every call returns an Output,
// which index.js reads and frees. Structured results are JSON texts that index.js parses, so
// nothing here knows about JavaScript values, and each is written by the function that writes
// it for the `tarn` tool: the run result document, the diagnostics (`tarn check --format=json`)
// and the trace (`tarn run --trace=jsonl:FILE`).
//
// Exceptions are not caught in this build (catching them would slow every call). The library
// fails with values, so the only way to throw is running out of memory: that ends the module,
// and index.js starts a fresh one on the next init().
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "run_document.hpp"
#include "tarn/json/object_writer.hpp"
#include "tarn/json/writer.hpp"
#include "tarn/lang/checker.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/format.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/number_syntax.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/lang/trace.hpp"
#include "tarn/memory/state_memory.hpp"
#include "memory_check.hpp"
#include "options.hpp"

namespace {

using tarn::lang::MemoryFiles;
using tarn::lang::ParseError;
using tarn::lang::Policy;

/// A policy and the files its runs import from: texts by name, as its imports write them (none:
/// nothing to import). The module has no files of its own, so a report is never written: the run's
/// result keeps it (report_path, report_text).
struct CompiledPolicy {
  Policy policy;
  MemoryFiles files;
};

/// What one call gives back to index.js.
struct Output {
  enum Status : int {
    kResult = 0,      // the answer: a JSON document or, from tarn_verify, the verifier's output
    kFailure = 1,     // {"error": "...", "diagnostics": [...]}: the policy does not parse or run
    kBadRequest = 2,  // a message: an option value the engine cannot take
  };
  std::string text;
  Status status = kResult;
  CompiledPolicy* policy = nullptr;  // from tarn_compile, owned by index.js once handed over
  std::string trace;  // a traced run's trace, in JSON lines (append_trace_json_lines)
};

Output* bad_request(std::string message) {
  return new Output{.text = std::move(message), .status = Output::kBadRequest};
}

std::string_view view(const char* data, std::size_t size) { return {data, size}; }

/// The diagnostics as the array of their JSON form, for a member of an answer: the
/// "diagnostics" member of the document append_diagnostics_json writes.
std::string diagnostics_array(std::span<const tarn::lang::Diagnostic> diagnostics) {
  constexpr std::string_view kHead = "{\"diagnostics\":";
  constexpr std::string_view kTail = "}\n";
  std::string document;
  tarn::lang::append_diagnostics_json(document, diagnostics);
  return document.substr(kHead.size(), document.size() - kHead.size() - kTail.size());
}

/// The failure of a policy that does not parse or a run that fails, as its diagnostic shows it:
/// {"error": "<engine text>", "diagnostics": [<diagnostic>]}.
Output* failure(const tarn::lang::Diagnostic& diagnostic) {
  auto* output = new Output{.status = Output::kFailure};
  tarn::json::CompactObject document(output->text);
  document.string("error", diagnostic.engine_text.value_or(diagnostic.message));
  document.member("diagnostics") += diagnostics_array({&diagnostic, 1});
  document.close();
  return output;
}

Output* parse_failure(const ParseError& error, std::string_view text, std::string_view name) {
  return failure(tarn::lang::parse_error_diagnostic(error, text, name));
}

/// The files of a request, {"name": "text", ...} (the empty text for none), or nullopt when the
/// request is not such an object.
std::optional<MemoryFiles::Texts> files_of(std::string_view request) {
  MemoryFiles::Texts texts;
  if (request.empty()) return texts;
  const nlohmann::json files = nlohmann::json::parse(request, nullptr, false);
  if (!files.is_object()) return std::nullopt;
  for (const auto& [name, text] : files.items()) {
    if (!text.is_string()) return std::nullopt;
    texts.emplace(name, text.get<std::string>());
  }
  return texts;
}

std::optional<std::string> text_too_large(std::string_view text) {
  if (text.size() <= tarn::lang::kScriptTextLimit) return std::nullopt;
  return "the policy text exceeds " + tarn::lang::limit_text(tarn::lang::kScriptTextLimit);
}

constexpr double kDefaultPayload = 1337.0;  // tarn run's and the verifier's

/// The memory, context and fuel of one run, by the rules of `tarn run`'s options.
struct RunSetup {
  std::vector<std::int8_t> signs{tarn::memory::kDefaultSigns.begin(),
                                 tarn::memory::kDefaultSigns.end()};
  std::vector<double> values;
  bool has_context = false;
  nlohmann::json context;
  std::uint64_t fuel = tarn::lang::kDefaultFuel;
  bool trace = false;
};

/// The setup from the run request that index.js writes, or the message of the first value it
/// cannot take. The request is a JSON object of the options other than the values, every member
/// optional (the empty text when there are none):
///   {"payload": "1337", "signs": [1, -1, -1, 1], "corrupt_index": 1, "fuel": 100000,
///    "context": "<JSON text>", "trace": true}
/// The payload comes as text in the command line's number syntax, so that every double (-0, NaN,
/// the infinities) crosses exactly; the values, when given, come as doubles in `values`.
std::pair<RunSetup, std::string> setup_run(std::string_view request_text,
                                           const std::optional<std::span<const double>>& values) {
  RunSetup setup;
  nlohmann::json request = nlohmann::json::object();
  if (!request_text.empty()) {  // the common case, every default, is not parsed
    request = nlohmann::json::parse(request_text, nullptr, false);
    if (!request.is_object()) return {setup, "malformed run request"};
  }
  if (values) {
    setup.values.assign(values->begin(), values->end());
  } else {
    double payload = kDefaultPayload;
    if (const auto member = request.find("payload"); member != request.end()) {
      const auto parsed = member->is_string() ? tarn::lang::parse_command_line_number(
                                                    member->get_ref<const std::string&>())
                                              : std::nullopt;
      if (!parsed) return {setup, "invalid payload " + member->dump()};
      payload = *parsed;
    }
    const auto encoded = tarn::memory::encode(payload);
    setup.values.assign(encoded.begin(), encoded.end());
  }
  if (const auto member = request.find("signs"); member != request.end()) {
    setup.signs.clear();
    for (const nlohmann::json& sign : *member) {
      if (!sign.is_number_integer() || sign.get<std::int64_t>() < -128 ||
          sign.get<std::int64_t>() > 127) {
        return {setup, "invalid sign " + sign.dump() + ": a sign is an integer from -128 to 127"};
      }
      setup.signs.push_back(static_cast<std::int8_t>(sign.get<std::int64_t>()));
    }
  }
  if (const auto member = request.find("corrupt_index"); member != request.end()) {
    if (!member->is_number_unsigned() || member->get<std::uint64_t>() >= setup.values.size()) {
      return {setup, "corruptIndex " + member->dump() + " is not below the number of values (" +
                         std::to_string(setup.values.size()) + ")"};
    }
    tarn::memory::corrupt(setup.values, member->get<std::uint64_t>());
  }
  if (const auto member = request.find("fuel"); member != request.end()) {
    if (!member->is_number_unsigned()) return {setup, "invalid fuel " + member->dump()};
    setup.fuel = member->get<std::uint64_t>();
  }
  if (const auto member = request.find("context"); member != request.end()) {
    if (!member->is_string()) return {setup, "malformed run request"};
    setup.context = nlohmann::json::parse(member->get_ref<const std::string&>(), nullptr, false);
    if (setup.context.is_discarded()) return {setup, "invalid context JSON"};
    setup.has_context = true;
  }
  if (const auto member = request.find("trace"); member != request.end()) {
    if (!member->is_boolean()) return {setup, "malformed run request"};
    setup.trace = member->get<bool>();
  }
  return {std::move(setup), {}};
}

}  // namespace

extern "C" {

/// What index.js reads of an Output, in one call: the address and size of its text, its status,
/// its policy, and the address and size of its trace, written to `fields` as six 32-bit words.
void tarn_output_fields(const Output* output, std::uint32_t* fields) {
  const auto address = [](const void* data) {
    return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(data));
  };
  fields[0] = address(output->text.data());
  fields[1] = static_cast<std::uint32_t>(output->text.size());
  fields[2] = static_cast<std::uint32_t>(output->status);
  fields[3] = address(output->policy);
  fields[4] = address(output->trace.data());
  fields[5] = static_cast<std::uint32_t>(output->trace.size());
}
void tarn_output_free(Output* output) { delete output; }
void tarn_policy_free(CompiledPolicy* policy) { delete policy; }

/// check(text, name, files): what `tarn check --format=json` finds in the policy and the files it
/// imports (`files` as for tarn_compile), with what `tarn check` prints:
/// {"ok": <no error>, "canonical": "<the canonical texts>" or null, "diagnostics": [...]}.
Output* tarn_check(const char* text_data, std::size_t text_size, const char* name_data,
                   std::size_t name_size, const char* files_data, std::size_t files_size) {
  const std::string_view text = view(text_data, text_size);
  if (auto message = text_too_large(text)) return bad_request(std::move(*message));
  auto texts = files_of(view(files_data, files_size));
  if (!texts) return bad_request("malformed files");
  const MemoryFiles files(std::move(*texts));
  const tarn::lang::PolicyFile policy{std::string(view(name_data, name_size)), text};
  const tarn::lang::CheckReport report =
      tarn::lang::check_policies({&policy, 1}, {.read = tarn::lang::read_through(files)});
  const bool ok = !report.has_errors();

  auto* output = new Output;
  tarn::json::CompactObject document(output->text);
  document.boolean("ok", ok);
  if (const auto& program = report.policies.front().program) {
    std::string canonical;
    tarn::lang::append_canonical_lines(canonical, *program);
    document.string("canonical", canonical);
  } else {
    document.member("canonical") += "null";
  }
  document.member("diagnostics") += diagnostics_array(report.diagnostics);
  document.close();
  return output;
}

/// format(text, name): the text in the standard layout (what `tarn fmt` prints), or the failure of
/// its parse.
Output* tarn_format(const char* text_data, std::size_t text_size, const char* name_data,
                    std::size_t name_size) {
  const std::string_view text = view(text_data, text_size);
  if (auto message = text_too_large(text)) return bad_request(std::move(*message));
  auto formatted = tarn::lang::format_policy(text);
  if (!formatted) return parse_failure(formatted.error(), text, view(name_data, name_size));
  return new Output{.text = std::move(*formatted)};
}

/// compile(text, name, files): the policy (tarn_output_policy), or the failure of its parse.
/// `files` is {"name": "text", ...}, the texts its imports read (the empty text for none).
Output* tarn_compile(const char* text_data, std::size_t text_size, const char* name_data,
                     std::size_t name_size, const char* files_data, std::size_t files_size) {
  const std::string_view text = view(text_data, text_size);
  if (auto message = text_too_large(text)) return bad_request(std::move(*message));
  auto texts = files_of(view(files_data, files_size));
  if (!texts) return bad_request("malformed files");
  const std::string_view name = view(name_data, name_size);
  auto compiled = tarn::lang::compile(text, std::string(name));
  if (!compiled) return parse_failure(compiled.error(), text, name);
  return new Output{
      .policy = new CompiledPolicy{std::move(*compiled), MemoryFiles(std::move(*texts))}};
}

/// One run of a compiled policy: the `tarn run` result document, or the run's failure. The memory's
/// values are the `value_count` doubles at `values`, or the encoded payload for a count of -1.
/// With `decision_only`, the decision ("ALLOW", "DENY" or "ESCALATE") in place of the document.
/// A request with "trace": true adds the run's trace, also to a failure.
Output* tarn_run(const CompiledPolicy* policy, const char* request_data, std::size_t request_size,
                 const double* values, std::int32_t value_count, bool decision_only) {
  std::optional<std::span<const double>> given_values;
  if (value_count >= 0) given_values.emplace(values, static_cast<std::size_t>(value_count));
  auto [setup, problem] = setup_run(view(request_data, request_size), given_values);
  if (!problem.empty()) return bad_request(std::move(problem));
  const nlohmann::json* context = setup.has_context ? &setup.context : nullptr;
  tarn::lang::Trace trace;
  const auto run = tarn::lang::evaluate(
      policy->policy, {setup.signs, setup.values}, context,
      tarn::lang::RunOptions{.fuel_limit = setup.fuel,
                             .files = &policy->files,
                             .trace = setup.trace ? &trace : nullptr});
  Output* output = nullptr;
  if (!run) {
    output = failure(tarn::lang::run_error_diagnostic(run.error(), policy->policy.name(),
                                                      policy->policy.text(),
                                                      tarn::lang::read_through(policy->files)));
  } else if (decision_only) {
    output = new Output{.text = std::string(tarn::lang::run_decision(*run))};
  } else {
    // Past the limit of executed-command text the document gives their count instead, as `tarn
    // run`'s does.
    output = new Output{.text = tarn::tool::run_result_document(*run, setup.values)};
  }
  if (setup.trace) tarn::lang::append_trace_json_lines(output->trace, trace);
  return output;
}

/// verify(text, payload, files, corrupt_index, emit_json): what `qrv-verifier --script=FILE` prints
/// for a FILE that holds `text`, with --payload=PAYLOAD (the command line's number syntax; the
/// empty text for none, and a malformed one is ignored, as there), --corrupt-index (-1 for none)
/// and --emit=json, and the files beside it that `files` holds (as for tarn_compile).
Output* tarn_verify(const char* text_data, std::size_t text_size, const char* payload_data,
                    std::size_t payload_size, const char* files_data, std::size_t files_size,
                    double corrupt_index, bool emit_json) {
  auto texts = files_of(view(files_data, files_size));
  if (!texts) return bad_request("malformed files");
  const MemoryFiles files(std::move(*texts));
  qrv::VerifierOptions options;
  options.files = &files;
  const std::string_view payload = view(payload_data, payload_size);
  if (const auto number = tarn::lang::parse_command_line_number(payload)) options.payload = *number;
  // index.js gives a whole number; as on the command line, one past the memory damages nothing.
  if (corrupt_index >= 0) options.corrupt_index = static_cast<std::uint64_t>(corrupt_index);
  options.emit_json = emit_json;
  options.script_text = std::string(view(text_data, text_size));
  auto* output = new Output;
  qrv::run_state_check(options, output->text);
  return output;
}

}  // extern "C"
