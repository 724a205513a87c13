// The engine for JavaScript: a small C interface over the library, which index.js calls.
//
// Texts cross in both directions as UTF-8 bytes in the module's memory. index.js writes each
// argument into a buffer of its own and frees it after the call; every call returns an Output,
// which index.js reads and frees. Structured results are JSON texts that index.js parses, so
// nothing here knows about JavaScript values, and the run result document is written by the
// same function that writes it for `tarn run`.
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
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/format.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/number_syntax.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/memory/state_memory.hpp"
#include "memory_check.hpp"
#include "options.hpp"

namespace {

using tarn::lang::MemoryFiles;
using tarn::lang::ParseError;
using tarn::lang::Policy;
using tarn::lang::RunError;
using tarn::lang::RunErrorCode;

/// A policy and the files its runs import from: texts by name, as its imports write them (none:
/// nothing to import). The module has no files of its own, so a report is never written: the run's
/// result keeps it (report_path, report_text).
struct CompiledPolicy {
  Policy policy;
  MemoryFiles::Texts texts;
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
};

Output* bad_request(std::string message) {
  return new Output{.text = std::move(message), .status = Output::kBadRequest};
}

std::string_view view(const char* data, std::size_t size) { return {data, size}; }

// The location of a diagnostic and its text's two ends. Lines and columns count from 1, a column
// counts characters (code points), as the library's line_column does.
struct Place {
  std::string_view file;
  std::size_t offset = 0;
  tarn::lang::LineColumn start;
  tarn::lang::LineColumn end;
};

/// A related location of a diagnostic: {file, line, column, message}.
struct Note {
  std::string file;
  tarn::lang::LineColumn at;
  std::string message;
};

// Diagnostics in the JSON form the tools use: {file, line, column, end_line, end_column, offset,
// severity, code, message, engine_text, related}. A parse error and a run error each make one
// error, located where the library locates it, whose message is the engine's exact text.
void append_diagnostic(std::string& out, const std::optional<Place>& place, std::string_view code,
                       std::string_view engine_text, const std::vector<Note>& related) {
  tarn::json::CompactObject diagnostic(out);
  if (place) {
    diagnostic.string("file", place->file);
    diagnostic.integer("line", place->start.line);
    diagnostic.integer("column", place->start.column);
    diagnostic.integer("end_line", place->end.line);
    diagnostic.integer("end_column", place->end.column);
    diagnostic.integer("offset", place->offset);
  } else {
    for (const std::string_view key :
         {"file", "line", "column", "end_line", "end_column", "offset"}) {
      diagnostic.member(key) += "null";
    }
  }
  diagnostic.string("severity", "error");
  diagnostic.string("code", code);
  diagnostic.string("message", engine_text);
  diagnostic.string("engine_text", engine_text);
  diagnostic.array("related", related.size(), [&](std::string& text, std::size_t i) {
    tarn::json::CompactObject note(text);
    note.string("file", related[i].file);
    note.integer("line", related[i].at.line);
    note.integer("column", related[i].at.column);
    note.string("message", related[i].message);
    note.close();
  });
  diagnostic.close();
}

bool is_word_byte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

/// Where a parse error is shown: from the place parsing failed over the word that begins there
/// (an unknown name), or else over its one character; nothing at a line's or the text's end.
std::size_t shown_length(std::string_view text, std::size_t offset) {
  std::size_t end = offset;
  while (end < text.size() && is_word_byte(text[end])) ++end;
  if (end > offset || offset >= text.size() || text[offset] == '\n' || text[offset] == '\r') {
    return end - offset;
  }
  ++end;  // one character: its continuation bytes too
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return end - offset;
}

void append_parse_diagnostic(std::string& out, std::string_view file, std::string_view text,
                             const ParseError& error, std::string_view engine_text) {
  const std::size_t offset = std::min(error.offset, text.size());
  const Place place{.file = file,
                    .offset = offset,
                    .start = tarn::lang::line_column(text, offset),
                    .end = tarn::lang::line_column(text, offset + shown_length(text, offset))};
  std::vector<Note> related;
  if (error.open_brace) {
    related.push_back({std::string(file), tarn::lang::line_column(text, *error.open_brace),
                       "the block opened here is not closed"});
  }
  append_diagnostic(out, place, "parse-error", engine_text, related);
}

// The run error codes as the diagnostics name them, in RunErrorCode's order.
constexpr std::string_view kRunErrorCodes[] = {
    "out-of-fuel",        "bounds-assertion",      "unknown-alias",   "no-context",
    "missing-context-key", "position-out-of-range", "memory-shape",    "import-failed",
    "import-too-large",   "import-parse-error",    "parse-error",     "lineage-too-large",
};
static_assert(std::size(kRunErrorCodes) ==
              static_cast<std::size_t>(RunErrorCode::LineageTooLarge) + 1);

void append_run_diagnostic(std::string& out, const CompiledPolicy& compiled,
                           const RunError& error) {
  std::optional<Place> place;
  if (error.location) {
    const tarn::lang::StatementLocation& at = *error.location;
    place = Place{.file = at.file, .offset = at.span.offset, .start = {at.line, at.column}};
    // The policy's own text or the imported file's; a file the host did not give has no span.
    const auto file = compiled.texts.find(at.file);
    const std::string_view text = at.file == compiled.policy.name() ? compiled.policy.text()
                                  : file != compiled.texts.end()    ? std::string_view(file->second)
                                                                    : std::string_view();
    place->end = tarn::lang::line_column(text, at.span.offset + at.span.length);
    if (text.empty()) place->end = place->start;
  }
  std::vector<Note> related;
  for (const tarn::lang::StatementLocation& import : error.imported_from) {
    related.push_back({import.file, {import.line, import.column}, "imported from here"});
  }
  append_diagnostic(out, place, kRunErrorCodes[static_cast<std::size_t>(error.code)],
                    error.message, related);
}

/// {"error": "<engine text>", "diagnostics": [<diagnostic>]}, one diagnostic written by `write`.
template <class WriteDiagnostic>
Output* failure(std::string_view engine_text, WriteDiagnostic&& write) {
  auto* output = new Output{.status = Output::kFailure};
  tarn::json::CompactObject document(output->text);
  document.string("error", engine_text);
  document.array("diagnostics", 1, [&](std::string& text, std::size_t) { write(text); });
  document.close();
  return output;
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
};

/// The setup from the run request that index.js writes, or the message of the first value it
/// cannot take. The request is a JSON object of the options other than the values, every member
/// optional (the empty text when there are none):
///   {"payload": "1337", "signs": [1, -1, -1, 1], "corrupt_index": 1, "fuel": 100000,
///    "context": "<JSON text>"}
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
  return {std::move(setup), {}};
}

}  // namespace

extern "C" {

/// What index.js reads of an Output, in one call: the address and size of its text, its status and
/// its policy, written to `fields` as four 32-bit words.
void tarn_output_fields(const Output* output, std::uint32_t* fields) {
  fields[0] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(output->text.data()));
  fields[1] = static_cast<std::uint32_t>(output->text.size());
  fields[2] = static_cast<std::uint32_t>(output->status);
  fields[3] = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(output->policy));
}
void tarn_output_free(Output* output) { delete output; }
void tarn_policy_free(CompiledPolicy* policy) { delete policy; }

/// check(text): {"ok": true, "canonical": "<what tarn check prints>", "diagnostics": []}, or
/// {"ok": false, "canonical": null, "diagnostics": [...]}.
Output* tarn_check(const char* text_data, std::size_t text_size, const char* name_data,
                   std::size_t name_size) {
  const std::string_view text = view(text_data, text_size);
  if (auto message = text_too_large(text)) return bad_request(std::move(*message));
  auto program = tarn::lang::parse_program(text);
  auto* output = new Output;
  tarn::json::CompactObject document(output->text);
  document.boolean("ok", program.has_value());
  if (program) {
    std::string canonical;
    for (const tarn::lang::Instruction& instruction : *program) {
      tarn::lang::append_canonical_text(canonical, instruction);
      canonical += '\n';
    }
    document.string("canonical", canonical);
    document.member("diagnostics") += "[]";
  } else {
    document.member("canonical") += "null";
    const std::string engine_text = "Parse error: " + parse_error_text(program.error());
    document.array("diagnostics", 1, [&](std::string& out, std::size_t) {
      append_parse_diagnostic(out, view(name_data, name_size), text, program.error(), engine_text);
    });
  }
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
  if (!formatted) {
    const std::string engine_text = "Parse error: " + parse_error_text(formatted.error());
    return failure(engine_text, [&](std::string& out) {
      append_parse_diagnostic(out, view(name_data, name_size), text, formatted.error(),
                              engine_text);
    });
  }
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
  if (!compiled) {
    // The text a run of this policy fails with (run_script's).
    const std::string engine_text = "Parse error: " + parse_error_text(compiled.error());
    return failure(engine_text, [&](std::string& out) {
      append_parse_diagnostic(out, name, text, compiled.error(), engine_text);
    });
  }
  MemoryFiles files(*texts);
  return new Output{.policy = new CompiledPolicy{std::move(*compiled), std::move(*texts),
                                                 std::move(files)}};
}

/// One run of a compiled policy: the `tarn run` result document, or the run's failure. The memory's
/// values are the `value_count` doubles at `values`, or the encoded payload for a count of -1.
/// With `decision_only`, the decision ("ALLOW", "DENY" or "ESCALATE") in place of the document.
Output* tarn_run(const CompiledPolicy* policy, const char* request_data, std::size_t request_size,
                 const double* values, std::int32_t value_count, bool decision_only) {
  std::optional<std::span<const double>> given_values;
  if (value_count >= 0) given_values.emplace(values, static_cast<std::size_t>(value_count));
  auto [setup, problem] = setup_run(view(request_data, request_size), given_values);
  if (!problem.empty()) return bad_request(std::move(problem));
  const nlohmann::json* context = setup.has_context ? &setup.context : nullptr;
  const auto run = tarn::lang::evaluate(
      policy->policy, {setup.signs, setup.values}, context,
      tarn::lang::RunOptions{.fuel_limit = setup.fuel, .files = &policy->files});
  if (!run) {
    return failure(run.error().message, [&](std::string& out) {
      append_run_diagnostic(out, *policy, run.error());
    });
  }
  if (decision_only) return new Output{.text = std::string(tarn::lang::run_decision(*run))};
  // Past the limit of executed-command text the document gives their count instead, as `tarn
  // run`'s does.
  return new Output{.text = tarn::tool::run_result_document(*run, setup.values)};
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
