// The Python module tarn._tarn (imported as tarn): the policy engine in process, for conformance
// harnesses and policy tests, with the results the command-line tools print.
//
//   policy = tarn.compile(text)                    # tarn.ParseError when it does not parse
//   result = policy.run(corrupt_index=1)           # `tarn run`'s result document, as a dict
//   verdict = tarn.verify(text, json=True)         # what `qrv-verifier --script=` prints
//
// A run holds the interpreter lock only while it reads its arguments and builds its result: the
// engine itself runs without it, so threads that share one Policy decide in parallel.
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "arguments.hpp"
#include "errors.hpp"
#include "library_json.hpp"
#include "memory_check.hpp"
#include "options.hpp"
#include "run_document.hpp"
#include "tarn/lang/checker.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/format.hpp"
#include "tarn/lang/limits.hpp"
#include "tarn/lang/parser.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/trace.hpp"
#include "tarn/memory/state_memory.hpp"

namespace tarn::python {
namespace {

constexpr const char* kDefaultName = "policy.tarn";

/// What tarn.check returns.
struct CheckResult {
  bool ok = false;
  py::object canonical = py::none();  // what `tarn check` prints; None when the text does not parse
  py::list diagnostics;               // its errors and warnings, as `tarn check --format=json`
};

/// What tarn.compile returns: the policy and the files its runs import from (none: the working
/// directory's files, as the tools use them).
struct CompiledPolicy {
  lang::Policy policy;
  std::shared_ptr<const lang::MemoryFiles> files;
};

// The memory of a run, as `tarn run` builds it from its options: the default signs and the
// encoded payload, or the vectors given, then the damage.
struct RunMemory {
  std::vector<std::int8_t> signs{memory::kDefaultSigns.begin(), memory::kDefaultSigns.end()};
  std::vector<double> values;
};

RunMemory memory_argument(py::handle payload, py::handle corrupt_index, py::handle signs,
                          py::handle values) {
  RunMemory memory;
  const auto encoded = memory::encode(number_argument(payload, "payload"));
  memory.values.assign(encoded.begin(), encoded.end());
  if (!signs.is_none()) memory.signs = signs_argument(signs);
  if (!values.is_none()) memory.values = values_argument(values);
  if (!corrupt_index.is_none()) {
    const std::uint64_t index = count_argument(corrupt_index, "corrupt_index");
    if (index >= memory.values.size()) {
      std::string message = "corrupt_index " + std::to_string(index);
      message += memory.values.empty() ? " names no position: the memory has no values"
                                       : " is outside the memory's positions 0 to " +
                                             std::to_string(memory.values.size() - 1);
      throw py::value_error(message);
    }
    memory::corrupt(memory.values, index);
  }
  return memory;
}

CompiledPolicy compile_policy(const py::object& text, const py::object& name,
                              const py::object& files) {
  const std::string_view source = policy_text_argument(text);
  std::string file(text_argument(name, "name"));
  std::shared_ptr<const lang::MemoryFiles> memory_files;
  if (!files.is_none()) memory_files = std::make_shared<lang::MemoryFiles>(files_argument(files));
  auto policy = [&] {
    py::gil_scoped_release unlocked;
    return lang::compile(source, file);
  }();
  if (!policy) raise_parse_error(lang::parse_error_diagnostic(policy.error(), source, file));
  return CompiledPolicy{std::move(*policy), std::move(memory_files)};
}

std::string format_text(const py::object& text, const py::object& name) {
  const std::string_view source = policy_text_argument(text);
  auto formatted = lang::format_policy(source);
  if (!formatted) {
    raise_parse_error(
        lang::parse_error_diagnostic(formatted.error(), source, text_argument(name, "name")));
  }
  return std::move(*formatted);
}

/// How imports are read: from `files` when given, else as the tools read them.
lang::ReadSource import_reader(const lang::MemoryFiles* files) {
  return files != nullptr ? lang::read_through(*files) : lang::ReadSource(lang::read_imported_file);
}

CheckResult check_text(const py::object& text, const py::object& files, const py::object& name) {
  const lang::PolicyFile policy{std::string(text_argument(name, "name")),
                                policy_text_argument(text)};
  std::optional<lang::MemoryFiles> memory_files;
  if (!files.is_none()) memory_files.emplace(files_argument(files));
  lang::CheckReport report;
  {
    py::gil_scoped_release unlocked;
    report = lang::check_policies({&policy, 1},
                                  {.read = import_reader(memory_files ? &*memory_files : nullptr)});
  }
  CheckResult result;
  result.ok = !report.has_errors();
  if (const auto& program = report.policies.front().program) {
    std::string canonical;
    lang::append_canonical_lines(canonical, *program);
    result.canonical = py::str(canonical);
  }
  result.diagnostics = diagnostics_value(report.diagnostics);
  return result;
}

py::dict run_policy(const CompiledPolicy& compiled, const py::object& payload,
                    const py::object& corrupt_index, const py::object& signs,
                    const py::object& values, const py::object& context, const py::object& fuel,
                    const py::object& trace) {
  RunMemory memory = memory_argument(payload, corrupt_index, signs, values);
  const bool has_context = !context.is_none();
  const nlohmann::json context_document = has_context ? context_argument(context) : nullptr;
  lang::Trace steps;
  const bool traced = flag_argument(trace, "trace");
  const lang::RunOptions options{.fuel_limit = count_argument(fuel, "fuel"),
                                 .files = compiled.files.get(),
                                 .trace = traced ? &steps : nullptr};

  bool omit_commands = false;
  std::optional<lang::Diagnostic> failure;
  auto run = [&] {
    py::gil_scoped_release unlocked;
    auto state = lang::evaluate(compiled.policy, {memory.signs, memory.values},
                                has_context ? &context_document : nullptr, options);
    if (!state) {
      // Located as `tarn run` shows it; an imported file is read again for its lines.
      failure = lang::run_error_diagnostic(state.error(), compiled.policy.name(),
                                           compiled.policy.text(),
                                           import_reader(compiled.files.get()));
    }
    // As in `tarn run`: the texts of a deep run can total many gigabytes.
    omit_commands = state && state->executed_commands.text_length_exceeds(lang::kCommandTextLimit);
    return state;
  }();
  if (!run) {
    raise_run_error(run.error(), *failure,
                    traced ? py::object(trace_value(steps)) : py::object(py::none()));
  }
  py::dict document = run_document(*run, memory.values, omit_commands);
  if (traced) document["trace"] = trace_value(steps);
  return document;
}

std::string verify_text(const py::object& text, const py::object& payload,
                        const py::object& corrupt_index, const py::object& json) {
  qrv::VerifierOptions options;
  options.payload = number_argument(payload, "payload");
  // As on the command line, a position past the memory is taken and damages nothing.
  if (!corrupt_index.is_none()) {
    options.corrupt_index = count_argument(corrupt_index, "corrupt_index");
  }
  options.emit_json = flag_argument(json, "json");
  options.script_text = std::string(text_argument(text, "text"));
  std::string out;
  {
    py::gil_scoped_release unlocked;
    qrv::run_state_check(options, out);
  }
  return out;
}

std::string check_result_repr(const CheckResult& result) {
  return "CheckResult(ok=" + std::string(result.ok ? "True" : "False") +
         ", canonical=" + py::repr(result.canonical).cast<std::string>() +
         ", diagnostics=" + py::repr(result.diagnostics).cast<std::string>() + ")";
}

}  // namespace
}  // namespace tarn::python

PYBIND11_MODULE(_tarn, module) {
  namespace py = pybind11;
  using namespace tarn::python;
  using py::arg;
  module.doc() =
      "The tarn policy engine in process: check, compile and run policies, and the "
      "verifier's verdict, with the results the command-line tools print.";
  add_exception_types(module);
  make_member_names();

  py::class_<CheckResult>(module, "CheckResult",
                          "What check() found: ok, canonical (what `tarn check` prints, None "
                          "when the text does not parse) and diagnostics (a list of dicts).")
      .def_readonly("ok", &CheckResult::ok)
      .def_readonly("canonical", &CheckResult::canonical)
      .def_readonly("diagnostics", &CheckResult::diagnostics)
      .def("__repr__", &check_result_repr);

  py::class_<CompiledPolicy>(module, "Policy",
                                 "A compiled policy (from compile()). It never changes: any "
                                 "number of threads may run one Policy at the same time.")
      .def_property_readonly(
          "name", [](const CompiledPolicy& compiled) { return compiled.policy.name(); },
                             "The name run errors give the policy's own text.")
      .def("run", &run_policy, py::kw_only(), arg("payload") = 1337,
           arg("corrupt_index") = py::none(), arg("signs") = py::none(), arg("values") = py::none(),
           arg("context") = py::none(), arg("fuel") = tarn::lang::kDefaultFuel,
           arg("trace") = false,
           "Runs the policy over a state memory and returns the result document of `tarn run` "
           "as a dict (with trace=True, and its trace); raises RunError when the run fails.")
      .def("__repr__", [](const CompiledPolicy& compiled) {
        return "<tarn.Policy " + py::repr(py::str(compiled.policy.name())).cast<std::string>() +
               ">";
      });

  module.def("compile", &compile_policy, arg("text"), py::kw_only(), arg("name") = kDefaultName,
             arg("files") = py::none(),
             "Parses a policy once, for many runs; raises ParseError when it does not parse. "
             "`name` names the text in error locations; `files` (a dict of names to texts) is "
             "what its runs import, and keeps their reports in the result.");
  module.def("format", &format_text, arg("text"), py::kw_only(), arg("name") = kDefaultName,
             "The text in the standard layout, as `tarn fmt` prints it; raises ParseError when "
             "it does not parse.");
  module.def("check", &check_text, arg("text"), py::kw_only(), arg("files") = py::none(),
             arg("name") = kDefaultName,
             "Checks a policy and the files it imports, as `tarn check` does, and runs nothing: "
             "CheckResult(ok, canonical, diagnostics). `files` (a dict of names to texts) is what "
             "its imports read; without, they are read from the working directory.");
  module.def("verify", &verify_text, arg("text"), py::kw_only(), arg("payload") = 1337,
             arg("corrupt_index") = py::none(), arg("json") = false,
             "Exactly what `qrv-verifier --script=FILE` prints for a FILE holding `text`, with "
             "--payload, --corrupt-index and --emit=json as given.");
}
