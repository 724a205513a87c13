// `tarn test`: policy tests run by the engine itself.
//
// A case is run in process, the way `tarn run` runs a script: the policy compiled once per test
// file (lang::compile), each case evaluated over its own memory (lang::evaluate), and its
// expectations compared with the very document `tarn run` prints (run_result_document), parsed
// back; so a member means the same in both commands and no table of members can drift. The
// verifier's expectations run the verifier's own code (qrv::run_verifier with --script=), also in
// process.
//
// Paths in a test file are relative to its folder, and so are the paths its policies name
// (imports, report files): the cases of a file run with that folder as the working directory
// (WorkingFolder), entered once per file.
//
// Coverage: a run's log refers to the very instructions of the compiled policy, so the address of
// each logged instruction names the statement that started; statements are matched across test
// files by their place in the policy's text. A run that fails returns no log, and counts only the
// statement where it failed.
#include "test_runner.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "located_error.hpp"
#include "run.hpp"
#include "tarn/json/writer.hpp"
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/source_file.hpp"
#include "tarn/memory/state_memory.hpp"
#include "test_file.hpp"
#include "test_reports.hpp"
#include "verifier.hpp"

namespace tarn::tool {
namespace {

namespace fs = std::filesystem;
using Members = std::set<std::string, std::less<>>;

constexpr std::string_view kTestFileSuffix = ".test.toml";

/// The members of the run result document: those of any run's document, since every member is
/// always there (null when the run has no value for it).
Members result_members() {
  const lang::RunState empty;
  const nlohmann::json document = nlohmann::json::parse(run_result_document(empty, {}));
  Members members;
  for (const auto& [member, value] : document.items()) members.insert(member);
  return members;
}

/// The test files under `paths`, sorted: the *.test.toml files in each folder and below, and
/// each file named directly. A path that names nothing is kept, so that reading it fails.
std::vector<std::string> find_test_files(const std::vector<std::string>& paths) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    std::error_code error;
    if (!fs::is_directory(path, error)) {
      files.push_back(fs::path(path).lexically_normal().string());
      continue;
    }
    for (fs::recursive_directory_iterator entry(
             path, fs::directory_options::skip_permission_denied, error), end;
         !error && entry != end; entry.increment(error)) {
      const std::string name = entry->path().filename().string();
      if (name.size() > kTestFileSuffix.size() && name.ends_with(kTestFileSuffix) &&
          entry->is_regular_file(error)) {
        files.push_back(entry->path().lexically_normal().string());
      }
    }
  }
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

/// The working directory moved to a folder for the lifetime of the scope, and back.
/// TODO(FileAccess): give the runs a file access rooted at the folder instead, once the library
/// has one; the test file's folder then also confines what its policies may read and write.
class WorkingFolder {
 public:
  explicit WorkingFolder(const fs::path& folder)
      : saved_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    entered_ = saved_ >= 0 && ::chdir(folder.c_str()) == 0;
  }
  ~WorkingFolder() {
    if (saved_ < 0) return;
    [[maybe_unused]] const int restored = ::fchdir(saved_);
    ::close(saved_);
  }
  WorkingFolder(const WorkingFolder&) = delete;
  WorkingFolder& operator=(const WorkingFolder&) = delete;
  bool entered() const { return entered_; }

 private:
  int saved_;
  bool entered_ = false;
};

/// Calls visit(instruction, span) for every statement of `program`, bodies too, in text order;
/// bodies on an explicit stack, since they nest as deep as the text does.
template <class Visit>
void for_each_statement(const lang::Program& program, Visit visit) {
  struct Open {
    const lang::Body* body;
    std::size_t next;
  };
  std::vector<Open> open;
  for (std::size_t i = 0; i < program.size(); ++i) {
    visit(program[i], program.span(i));
    if (const lang::Body* body = lang::body_of(program[i])) open.push_back({body, 0});
    while (!open.empty()) {
      Open& top = open.back();
      if (top.next == top.body->size()) {
        open.pop_back();
        continue;
      }
      const std::size_t j = top.next++;
      const lang::Body* body = top.body;
      visit((*body)[j], body->span(j));
      if (const lang::Body* inner = lang::body_of((*body)[j])) open.push_back({inner, 0});
    }
  }
}

/// A policy as the cases of one test file use it: compiled once, and tied to its coverage.
struct LoadedPolicy {
  std::optional<lang::Policy> policy;
  std::optional<std::string> read_error;   // the file could not be read
  std::optional<std::string> parse_error;  // the run error of a policy that does not parse
  PolicyCoverage* coverage = nullptr;
  std::unordered_map<const lang::Instruction*, std::size_t> statement_of;  // into coverage
};

std::string compact(const nlohmann::json& value) { return json::to_compact(value); }

/// A number as the verifier's --payload= reads it back exactly.
std::string payload_text(double payload) {
  if (std::isinf(payload) && payload < 0) return "-1e999";  // "-inf" is not a payload
  char buffer[64];
  const auto written = std::to_chars(buffer, buffer + sizeof buffer, payload);
  return std::string(buffer, written.ptr);
}

/// The value of the verifier's text report line "NAME: VALUE", if it has one.
std::optional<std::string> report_line(std::string_view report, std::string_view name) {
  const std::string prefix = "\n" + std::string(name) + ": ";
  const std::size_t at = report.find(prefix);
  if (at == std::string_view::npos) return std::nullopt;
  const std::size_t start = at + prefix.size();
  return std::string(report.substr(start, report.find('\n', start) - start));
}

std::string duration_text(double seconds) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f ms", seconds * 1000.0);
  return buffer;
}

/// Where a run error happened, when it names a place: " (at FILE:LINE:COLUMN)".
std::string error_place(const lang::RunError& error) {
  if (!error.location) return {};
  return " (at " + error.location->file + ":" + std::to_string(error.location->line) + ":" +
         std::to_string(error.location->column) + ")";
}

class Runner {
 public:
  explicit Runner(const std::optional<std::regex>& filter)
      : filter_(filter), members_(result_members()) {}

  FileResult run_file(const std::string& path) {
    FileResult result{path, std::nullopt, {}};
    auto text = lang::read_text_file(path);
    if (!text) {
      result.error = path + ": error: cannot read the test file: " + text.error().reason;
      return result;
    }
    auto cases = parse_test_file(*text, members_);
    if (!cases) {
      const TestFileError& error = cases.error();
      result.error = located_error(path, error.line, error.column, error.message);
      return result;
    }
    const fs::path folder = fs::path(path).parent_path();
    const WorkingFolder working(folder.empty() ? fs::path(".") : folder);
    if (!working.entered()) {
      result.error = path + ": error: cannot enter the test file's folder";
      return result;
    }
    // The cases' imports and report files stay beneath the test file's folder.
    auto confined = lang::ConfinedFiles::open(".");
    if (!confined) {
      result.error =
          path + ": error: cannot open the test file's folder: " + confined.error().reason;
      return result;
    }
    files_.emplace(std::move(*confined));
    policies_.clear();
    folder_ = folder;
    for (const TestCase& test : *cases) {
      if (filter_ && !std::regex_search(test.name, *filter_)) continue;
      const auto start = std::chrono::steady_clock::now();
      CaseResult outcome{test.name, 0.0, {}};
      if (test.checks_run()) check_run(test, outcome.differences);
      if (test.checks_verifier()) check_verifier(test, outcome.differences);
      outcome.seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      result.cases.push_back(std::move(outcome));
    }
    return result;
  }

  /// The coverage of every policy the cases ran, by file name.
  std::vector<const PolicyCoverage*> coverage() const {
    std::vector<const PolicyCoverage*> list;
    for (const auto& [key, policy] : coverage_) list.push_back(&policy);
    std::sort(list.begin(), list.end(),
              [](const PolicyCoverage* a, const PolicyCoverage* b) { return a->file < b->file; });
    return list;
  }

 private:
  LoadedPolicy& load(const std::string& script) {
    auto [found, inserted] = policies_.try_emplace(script);
    LoadedPolicy& loaded = found->second;
    if (!inserted) return loaded;
    const std::string name = (folder_ / script).lexically_normal().string();
    auto text = lang::read_text_file(script);
    if (!text) {
      loaded.read_error = "cannot read the policy '" + name + "': " + text.error().reason;
      return loaded;
    }
    auto policy = lang::compile(*text, name);
    if (!policy) {
      loaded.parse_error = "Parse error: " + lang::parse_error_text(policy.error());
      return loaded;
    }
    loaded.policy = std::move(*policy);

    // Statements are matched by their place in the text: another test file's compilation of
    // the same file has other addresses but the same spans.
    std::error_code ignored;
    const std::string key = fs::weakly_canonical(fs::absolute(script, ignored), ignored).string();
    auto [entry, fresh] = coverage_.try_emplace(key);
    PolicyCoverage& coverage = entry->second;
    if (fresh) {
      coverage.file = name;
      coverage.text = std::string(loaded.policy->text());
      for_each_statement(loaded.policy->program(),
                         [&](const lang::Instruction&, lang::SourceSpan span) {
                           coverage.statements.push_back(span);
                         });
      coverage.started.assign(coverage.statements.size(), false);
    }
    if (coverage.text == loaded.policy->text()) {
      loaded.coverage = &coverage;
      std::size_t index = 0;
      for_each_statement(loaded.policy->program(),
                         [&](const lang::Instruction& instruction, lang::SourceSpan) {
                           loaded.statement_of.emplace(&instruction, index++);
                         });
    }
    return loaded;
  }

  /// Marks the statement of the policy where a run failed: the failing statement itself, or the
  /// import that led to it.
  static void mark_failure(LoadedPolicy& loaded, const lang::RunError& error) {
    if (loaded.coverage == nullptr || !error.location) return;
    const lang::StatementLocation& place =
        error.imported_from.empty() ? *error.location : error.imported_from.back();
    const auto& statements = loaded.coverage->statements;
    const auto found = std::find(statements.begin(), statements.end(), place.span);
    if (found != statements.end()) {
      loaded.coverage->started[static_cast<std::size_t>(found - statements.begin())] = true;
    }
  }

  void check_run(const TestCase& test, std::vector<std::string>& differences) {
    LoadedPolicy& loaded = load(test.script);
    if (loaded.read_error) {
      differences.push_back(*loaded.read_error);
      return;
    }
    std::vector<std::int8_t> signs(memory::kDefaultSigns.begin(), memory::kDefaultSigns.end());
    if (test.signs) signs = *test.signs;
    std::vector<double> values;
    if (test.values) {
      values = *test.values;
    } else {
      const auto encoded = memory::encode(test.payload);
      values.assign(encoded.begin(), encoded.end());
    }
    if (test.corrupt_index) {
      if (*test.corrupt_index >= values.size()) {
        differences.push_back("corrupt_index " + std::to_string(*test.corrupt_index) +
                              " is not below the number of values (" +
                              std::to_string(values.size()) + ")");
        return;
      }
      memory::corrupt(values, *test.corrupt_index);
    }
    nlohmann::json file_context;
    const nlohmann::json* context = test.context.is_null() ? nullptr : &test.context;
    if (test.context_file) {
      auto text = lang::read_text_file(*test.context_file);
      if (!text) {
        differences.push_back("cannot read the context '" + *test.context_file +
                              "': " + text.error().reason);
        return;
      }
      file_context = nlohmann::json::parse(text->view(), nullptr, false);
      if (file_context.is_discarded()) {
        differences.push_back("the context '" + *test.context_file + "' is not valid JSON");
        return;
      }
      context = &file_context;
    }

    const auto run = [&]() -> Result<lang::RunState, lang::RunError> {
      if (!loaded.policy) {
        return fail(lang::RunError(lang::RunErrorCode::ParseError, *loaded.parse_error));
      }
      return lang::evaluate(*loaded.policy, {signs, values}, context,
                            lang::RunOptions{.fuel_limit = test.fuel, .files = &*files_});
    }();
    if (!run) {
      mark_failure(loaded, run.error());
      const std::string& message = run.error().message;
      if (!test.error) {
        differences.push_back("the run failed: " + message + error_place(run.error()));
      } else if (*test.error != message) {
        differences.push_back("error: expected " + compact(*test.error) + ", got " +
                              compact(message));
      }
      return;
    }
    if (loaded.coverage != nullptr) {
      for (std::size_t i = 0; i < run->executed_commands.size(); ++i) {
        const auto found = loaded.statement_of.find(&run->executed_commands[i]);
        if (found != loaded.statement_of.end()) loaded.coverage->started[found->second] = true;
      }
    }
    if (test.error) {
      differences.push_back("error: expected the run to fail with " + compact(*test.error) +
                            ", but it succeeded");
      return;
    }
    if (test.expect.empty() && test.executed_contains.empty()) return;
    const nlohmann::json document = nlohmann::json::parse(run_result_document(*run, values));
    for (const auto& [member, expected] : test.expect.items()) {
      if (!document.contains(member)) {
        differences.push_back(member + ": not in this run's result (its command texts are past "
                              "their limit and omitted)");
        continue;
      }
      const nlohmann::json& actual = document.at(member);
      const bool within_tolerance = member == "residual" && test.residual_tolerance &&
                                    expected.is_number() && actual.is_number() &&
                                    std::fabs(expected.get<double>() - actual.get<double>()) <=
                                        *test.residual_tolerance;
      if (expected != actual && !within_tolerance) {
        differences.push_back(member + ": expected " + compact(expected) + ", got " +
                              compact(actual));
      }
    }
    if (test.executed_contains.empty()) return;
    if (!document.contains("executed_commands")) {
      differences.push_back(
          "executed_commands: past their limit and omitted from this run's result");
      return;
    }
    const nlohmann::json& commands = document.at("executed_commands");
    for (const std::string& command : test.executed_contains) {
      if (std::find(commands.begin(), commands.end(), command) == commands.end()) {
        differences.push_back("executed_commands: " + compact(command) + " never started");
      }
    }
  }

  static void check_verifier(const TestCase& test, std::vector<std::string>& differences) {
    std::vector<std::string> arguments{"--script=" + test.script,
                                       "--payload=" + payload_text(test.payload)};
    if (test.corrupt_index) {
      arguments.push_back("--corrupt-index=" + std::to_string(*test.corrupt_index));
    }
    const std::string report = qrv::run_verifier(arguments);
    const auto compare = [&](std::string_view name, const std::optional<std::string>& expected,
                             std::string_view line) {
      if (!expected) return;
      const std::optional<std::string> actual = report_line(report, line);
      if (actual != expected) {
        differences.push_back("verifier." + std::string(name) + ": expected " +
                              compact(*expected) + ", got " +
                              (actual ? compact(*actual) : std::string("none")));
      }
    };
    compare("status", test.verifier_status, "Status");
    compare("reason", test.verifier_reason, "Reason");
  }

  const std::optional<std::regex>& filter_;
  const Members members_;
  fs::path folder_;                                  // of the test file being run
  std::optional<lang::ConfinedFiles> files_;         // beneath that folder
  std::map<std::string, LoadedPolicy> policies_;     // of that file, by script as written
  std::map<std::string, PolicyCoverage> coverage_;   // by canonical path
};

void append_case_lines(std::string& out, const FileResult& file) {
  if (file.error) {
    out += "FAIL " + *file.error + "\n";
    return;
  }
  for (const CaseResult& test : file.cases) {
    out += test.differences.empty() ? "ok   " : "FAIL ";
    out += file.path + ": " + test.name + " (" + duration_text(test.seconds) + ")\n";
    for (const std::string& difference : test.differences) out += "    " + difference + "\n";
  }
}

}  // namespace

ToolOutput test_command(const TestCommandOptions& options) {
  std::optional<std::regex> filter;
  if (options.run) {
    try {
      filter.emplace(*options.run, std::regex::ECMAScript);
    } catch (const std::regex_error& error) {
      return {"", "tarn test: invalid --run pattern '" + *options.run + "': " + error.what() + "\n",
              2};
    }
  }
  if (options.coverage && options.coverage != "text" && options.coverage != "json") {
    return {"", "tarn test: --coverage takes no value, or =json\n", 2};
  }
  // The runs change the working directory; the JUnit file is named from the one we started in.
  std::optional<fs::path> junit;
  if (options.junit) junit = fs::absolute(*options.junit);

  const std::vector<std::string> paths =
      options.paths.empty() ? std::vector<std::string>{"."} : options.paths;
  Runner runner(filter);
  std::vector<FileResult> files;
  std::string lines;
  std::size_t passed = 0;
  std::size_t failed = 0;
  for (const std::string& path : find_test_files(paths)) {
    files.push_back(runner.run_file(path));
    const FileResult& file = files.back();
    append_case_lines(lines, file);
    if (file.error) ++failed;
    for (const CaseResult& test : file.cases) ++(test.differences.empty() ? passed : failed);
  }
  if (options.coverage == "text") lines += coverage_text(runner.coverage());
  lines += std::to_string(passed) + " passed, " + std::to_string(failed) + " failed\n";

  ToolOutput output;
  output.status = failed == 0 ? 0 : 1;
  if (options.coverage == "json") {
    // Standard output carries the document alone, for the tool that reads it.
    output.out = coverage_json(runner.coverage());
    output.err = std::move(lines);
  } else {
    output.out = std::move(lines);
  }
  if (junit) {
    std::ofstream stream(*junit, std::ios::binary | std::ios::trunc);
    stream << junit_xml(files);
    stream.close();
    if (!stream) {
      output.err += "tarn test: cannot write the JUnit report '" + *options.junit + "'\n";
      output.status = 1;
    }
  }
  return output;
}

}  // namespace tarn::tool
