// `tarn run FILE`: run a policy script the way the verifier would, but show everything.
//
// The verifier reduces a run to a verdict; a policy author needs to see why. So this compiles and
// evaluates the script as run_script would, without the verifier's "corrupt" refusal or payload
// guards, over a memory the options can reshape, and prints the whole run result as one pretty
// JSON document; an error is shown where it happened, and --trace explains every step. Every
// option value is validated here, and a bad one is a usage error (status 2) that names it.
#include "run.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <memory>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <variant>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "check.hpp"
#include "diagnostic_output.hpp"
#include "run_document.hpp"
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/number_syntax.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/lang/trace.hpp"
#include "tarn/lang/source_file.hpp"
#include "tarn/memory/state_memory.hpp"

namespace tarn::tool {
namespace {

constexpr double kDefaultPayload = 1337.0;

ToolOutput usage_error(std::string message) { return {"", "tarn run: " + message + "\n", 2}; }

/// ASCII digits only, at most 2^64 - 1. **Example**: "12" -> 12, "+1" -> nullopt, "" -> nullopt.
std::optional<std::uint64_t> parse_count(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

/// Splits "a,b,c" at commas; the empty text is the empty list (so "--values=" gives no values).
std::vector<std::string_view> split_list(std::string_view text) {
  std::vector<std::string_view> items;
  if (text.empty()) return items;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    items.push_back(text.substr(start, comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return items;
}

/// A sign: optional "+" or "-", ASCII digits, -128 to 127. **Example**: "-1" -> -1, "128" ->
/// nullopt.
std::optional<std::int8_t> parse_sign(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const std::optional<std::uint64_t> magnitude = parse_count(text);
  if (!magnitude || *magnitude > (negative ? 128U : 127U)) return std::nullopt;
  const auto value = static_cast<std::int64_t>(*magnitude);
  return static_cast<std::int8_t>(negative ? -value : value);
}

// An error message quotes at most this many bytes of the context's text.
constexpr std::size_t kQuotedTextLimit = 200;

/// The JSON library's document builder (the one its parse() uses), which keeps the message of
/// the error that stops it instead of throwing it. The library quotes the token it stopped at
/// whole, so a number of a million digits would be echoed whole; the message keeps the token's
/// first kQuotedTextLimit bytes.
class ContextBuilder : public nlohmann::detail::json_sax_dom_parser<nlohmann::json> {
 public:
  explicit ContextBuilder(nlohmann::json& document) : json_sax_dom_parser(document) {}

  template <class Exception>
  bool parse_error(std::size_t /*position*/, const std::string& token, const Exception& error) {
    message = error.what();
    const std::string quoted = "'" + token + "'";
    const std::size_t at = message.find(quoted);
    if (token.size() > kQuotedTextLimit && at != std::string::npos) {
      std::size_t cut = kQuotedTextLimit;  // not inside a UTF-8 sequence
      while (cut > 0 && (static_cast<unsigned char>(token[cut]) & 0xC0) == 0x80) --cut;
      message.replace(at + 1, token.size(), token.substr(0, cut) + "...");
    }
    return false;
  }

  std::string message;
};

/// Parses the context document into `document`; the reason it is not one JSON document, or
/// nullopt. Only white space may follow the document. The library takes a NUL byte for the end
/// of its input, so a NUL anywhere is refused first: the bytes after it would be dropped unread.
/// **Example**: "{\"a\":1}\0garbage" -> "NUL byte at offset 7".
std::optional<std::string> parse_context(std::string_view text, nlohmann::json& document) {
  if (const std::size_t nul = text.find('\0'); nul != std::string_view::npos) {
    return "NUL byte at offset " + std::to_string(nul);
  }
  ContextBuilder builder(document);
  try {
    if (!nlohmann::json::sax_parse(text, &builder)) return std::move(builder.message);
  } catch (const std::bad_alloc&) {
    // The library takes a document apart on a stack as long as its longest array, and memory
    // has just run out: destroying the part built so far would end the process in an abort.
    // It is parked where it is never destroyed; the process, which ends now, returns its memory.
    alignas(nlohmann::json) static std::byte parked[sizeof(nlohmann::json)];
    ::new (static_cast<void*>(parked)) nlohmann::json(std::move(document));
    throw;
  }
  return std::nullopt;
}

/// Where --trace sends the trace: the text form to standard error, or JSON lines to a file
/// ("-": standard error).
struct TraceTarget {
  bool json_lines = false;
  std::string file;
};

/// A --trace value: "text" or "jsonl:FILE". **Example**: "jsonl:t.jsonl" -> {true, "t.jsonl"}.
std::optional<TraceTarget> parse_trace(std::string_view text) {
  if (text == "text") return TraceTarget{};
  constexpr std::string_view kJsonLines = "jsonl:";
  if (text.starts_with(kJsonLines) && text.size() > kJsonLines.size()) {
    return TraceTarget{true, std::string(text.substr(kJsonLines.size()))};
  }
  return std::nullopt;
}

/// The memory and limits a run uses, after the options have been checked.
struct RunSetup {
  std::vector<std::int8_t> signs{memory::kDefaultSigns.begin(), memory::kDefaultSigns.end()};
  std::vector<double> values;
  // A flag beside a document rather than std::optional<json>, which g++ -O3 misreads as
  // maybe-uninitialised.
  bool has_context = false;
  nlohmann::json context;
  std::uint64_t fuel = lang::kDefaultFuel;
  std::optional<lang::ConfinedFiles> root;  // none: the working directory
  OutputFormat format = OutputFormat::Text;
  std::optional<TraceTarget> trace;
};

/// Checks every option; the first bad one is a usage error.
std::variant<RunSetup, ToolOutput> setup_run(const RunCommandOptions& options) {
  RunSetup setup;
  double payload = kDefaultPayload;
  if (options.payload) {
    const auto parsed = lang::parse_command_line_number(*options.payload);
    if (!parsed) return usage_error("invalid --payload value '" + *options.payload + "'");
    payload = *parsed;
  }
  const auto encoded = memory::encode(payload);
  setup.values.assign(encoded.begin(), encoded.end());

  if (options.signs) {
    setup.signs.clear();
    for (const std::string_view item : split_list(*options.signs)) {
      const auto sign = parse_sign(item);
      if (!sign) return usage_error("invalid --signs value '" + *options.signs + "'");
      setup.signs.push_back(*sign);
    }
  }
  if (options.values) {
    auto values = parse_value_list(*options.values);
    if (!values) return usage_error("invalid --values value '" + *options.values + "'");
    setup.values = std::move(*values);
  }
  if (options.corrupt_index) {
    const auto index = parse_count(*options.corrupt_index);
    if (!index)
      return usage_error("invalid --corrupt-index value '" + *options.corrupt_index + "'");
    if (*index >= setup.values.size()) {
      return usage_error("--corrupt-index=" + *options.corrupt_index +
                         " is not below the number of values (" +
                         std::to_string(setup.values.size()) + ")");
    }
    memory::corrupt(setup.values, *index);
  }
  if (options.fuel) {
    const auto fuel = parse_count(*options.fuel);
    if (!fuel) return usage_error("invalid --fuel value '" + *options.fuel + "'");
    setup.fuel = *fuel;
  }
  if (options.root) {
    auto root = lang::ConfinedFiles::open(*options.root);
    if (!root) {
      return usage_error("cannot open --root '" + *options.root + "': " + root.error().reason);
    }
    setup.root.emplace(std::move(*root));
  }
  if (options.format) {
    const auto format = parse_format(*options.format);
    if (!format) return usage_error("invalid --format value '" + *options.format + "'");
    setup.format = *format;
  }
  if (options.trace) {
    setup.trace = parse_trace(*options.trace);
    if (!setup.trace) return usage_error("invalid --trace value '" + *options.trace + "'");
  }
  if (options.context) {
    if (*options.context == "-" && options.file == "-") {
      return usage_error("standard input ('-') can be read only once");
    }
    const auto text = read_input(*options.context);
    if (!text) {
      return usage_error("cannot read context '" + *options.context + "': " + text.error().reason);
    }
    if (auto error = parse_context(text->view(), setup.context)) {
      return usage_error("invalid context JSON in '" + *options.context + "': " + *error);
    }
    setup.has_context = true;
  }
  return setup;
}

// Writes the trace where --trace sends it: the text form or JSON lines to standard error
// (`err`), or JSON lines to a file. Returns why the file could not be written, or nothing.
std::string write_trace(const lang::Trace& trace, const TraceTarget& target, std::string& err) {
  if (!target.json_lines) {
    lang::append_trace_text(err, trace);
    return {};
  }
  if (target.file == "-") {
    lang::append_trace_json_lines(err, trace);
    return {};
  }
  std::string lines;
  lang::append_trace_json_lines(lines, trace);
  std::ofstream file(target.file, std::ios::binary | std::ios::trunc);
  file << lines;
  file.close();
  if (!file) return "cannot write the trace to '" + target.file + "': " + std::strerror(errno);
  return {};
}

}  // namespace

std::optional<std::vector<double>> parse_value_list(std::string_view text) {
  std::vector<double> values;
  for (const std::string_view item : split_list(text)) {
    const auto value = lang::parse_script_number(item);
    if (!value) return std::nullopt;
    values.push_back(*value);
  }
  return values;
}

ToolOutput run_command(const RunCommandOptions& options) {
  auto setup_or_error = setup_run(options);
  if (auto* error = std::get_if<ToolOutput>(&setup_or_error)) return std::move(*error);
  RunSetup& setup = std::get<RunSetup>(setup_or_error);

  auto script = read_input(options.file);
  if (!script) {
    const std::string message = cannot_read(options.file, script.error());
    ToolOutput output{"", "tarn: " + message + "\n", 1};
    if (setup.format != OutputFormat::Text) {
      const lang::Diagnostic diagnostic = cannot_read_diagnostic(options.file, message);
      write_diagnostics(output, {&diagnostic, 1}, setup.format, options.escape_controls);
    }
    return output;
  }
  ToolOutput output;
  const auto failed = [&](const lang::Diagnostic& diagnostic) {
    write_diagnostics(output, {&diagnostic, 1}, setup.format, options.escape_controls);
    output.status = 1;
    return std::move(output);
  };
  // The places of the statements are recorded only for a trace: a run without them is the
  // verifier's, 11% cheaper on W3, and its errors are located all the same. The policy shares
  // the text read rather than copying it (a copy cost W3 1.5% more instructions).
  const std::string name = script_name(options.file);
  const auto text = std::make_shared<const lang::SourceText>(std::move(*script));
  const auto policy = lang::compile(text, name, {.spans = setup.trace.has_value()});
  if (!policy) return failed(lang::parse_error_diagnostic(policy.error(), *text, name));

  const nlohmann::json* context = setup.has_context ? &setup.context : nullptr;
  lang::Trace trace;
  const lang::RunOptions run_options{.fuel_limit = setup.fuel,
                                     .files = setup.root ? &*setup.root : nullptr,
                                     .trace = setup.trace ? &trace : nullptr};
  const auto run = lang::evaluate(*policy, {setup.signs, setup.values}, context, run_options);
  if (setup.trace) {
    if (auto written = write_trace(trace, *setup.trace, output.err); !written.empty()) {
      return {"", "tarn run: " + written + "\n", 1};
    }
  }
  if (!run) return failed(lang::run_error_diagnostic(run.error(), name, policy->text()));
  bool commands_omitted = false;
  ToolOutput result;
  result.out = run_result_document(*run, setup.values, &commands_omitted);
  result.out += '\n';
  result.err = output.err;
  if (commands_omitted) {
    result.err += "tarn run: executed-command text exceeds " +
                  lang::limit_text(lang::kCommandTextLimit) +
                  "; the result gives only its count, executed_commands_omitted\n";
  }
  return result;
}

}  // namespace tarn::tool
