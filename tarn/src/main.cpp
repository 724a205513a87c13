// The `tarn` tool: `tarn check FILE...`, `tarn run FILE [options]`, `tarn fmt FILE...`,
// `tarn test [PATH...]` and `tarn lsp`.
//
// main only parses the command line (CLI11), calls one subcommand, writes the ToolOutput it
// returns and picks the exit status; the subcommands never print, so tests run them in-process.
// `tarn lsp` is the exception: a language server talks on standard input and output until its
// client is done, so it writes its messages as it goes.
// Exit status: 0 success, 1 a read, parse, run or write failure (or a warning with
// --deny-warnings), 2 bad usage.
//
// Every option that takes a value takes it joined with "=" (--fuel=N), as the manual writes
// them: such options are taken out of the arguments here, before CLI11 sees them, because CLI11
// reads `--values= 7` as `--values=7` and also accepts `--fuel 1`. An empty value is the empty
// value, and the next argument stays a positional one.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "fmt.hpp"
#include "framing.hpp"
#include "run.hpp"
#include "server.hpp"
#include "tarn/lang/diagnostics.hpp"
#include "tarn/lang/write_text.hpp"
#include "test_runner.hpp"
#include "tool_output.hpp"

namespace {

constexpr int kUsageStatus = 2;

// Writes the output. Names and paths from scripts reach standard error: on a terminal its control
// characters are shown escaped, so that a script cannot send the terminal escape sequences;
// elsewhere the bytes stay exact, since scripts match on them.
int emit(const tarn::tool::ToolOutput& output, bool terminal) {
  if (const int error = tarn::lang::write_text(STDOUT_FILENO, output.out); error != 0) {
    const std::string message =
        std::string("tarn: failed printing to stdout: ") + std::strerror(error) + "\n";
    (void)tarn::lang::write_text(STDERR_FILENO, message);
    return 1;
  }
  (void)tarn::lang::write_text(
      STDERR_FILENO, terminal ? tarn::lang::escape_control_characters(output.err) : output.err);
  return output.status;
}

int usage_error(const std::string& message, bool terminal) {
  return emit(tarn::tool::ToolOutput{"", message + "\n", kUsageStatus}, terminal);
}

// The options whose value is joined to their name with "=", per subcommand.
class JoinedOptions {
 public:
  /// Registers `name` (e.g. "--fuel") of `command`, written into `target`. With `bare_value` the
  /// option may also stand alone and then means that value (--trace).
  void add(CLI::App& command, const std::string& name, std::optional<std::string>& target,
           const std::string& value_name, const std::string& description,
           std::optional<std::string> bare_value = std::nullopt) {
    // Known to CLI11 for the help only: the arguments it parses never hold the option.
    command.add_option(name, description)->option_text("=" + value_name);
    options_.push_back(Joined{command.get_name(), name, &target, std::move(bare_value)});
  }

  /// Takes the joined options of `command` out of `arguments` (those after its name, up to a
  /// "--") and sets them. A message when one is given twice or without its "=".
  std::optional<std::string> take(const std::string& command,
                                  std::vector<std::string>& arguments) const {
    for (auto argument = arguments.begin(); argument != arguments.end();) {
      if (*argument == "--") break;
      const std::size_t equals = argument->find('=');
      const std::string name = argument->substr(0, equals);
      const Joined* option = find(command, name);
      if (option == nullptr) {
        ++argument;
        continue;
      }
      const std::string prefix = "tarn " + command + ": ";
      if (*option->target) return prefix + name + " given twice";
      if (equals != std::string::npos) {
        *option->target = argument->substr(equals + 1);
      } else if (option->bare_value) {
        *option->target = *option->bare_value;
      } else {
        return prefix + name + " takes its value joined with '=', as in " + name + "=VALUE";
      }
      argument = arguments.erase(argument);
    }
    return std::nullopt;
  }

 private:
  struct Joined {
    std::string command;
    std::string name;
    std::optional<std::string>* target;
    std::optional<std::string> bare_value;
  };

  const Joined* find(const std::string& command, const std::string& name) const {
    for (const Joined& option : options_) {
      if (option.command == command && option.name == name) return &option;
    }
    return nullptr;
  }

  std::vector<Joined> options_;
};

// Shows a joined option as "--fuel=N" in the help, not "--fuel N".
class Formatter : public CLI::Formatter {
 public:
  std::string make_option_opts(const CLI::Option* option) const override {
    const std::string& text = option->get_option_text();
    if (!text.empty() && text.front() == '=') return text;
    return CLI::Formatter::make_option_opts(option);
  }
};

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe or a file-size limit must show up as a failed write, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  const bool terminal = ::isatty(STDERR_FILENO) == 1;

  CLI::App app{"Check and run policy scripts.", "tarn"};
  app.formatter(std::make_shared<Formatter>());
  app.set_version_flag("--version", std::string("tarn ") + TARN_VERSION);
  app.require_subcommand(1);
  JoinedOptions joined;

  // --- tarn check ---
  tarn::tool::CheckCommandOptions check_options;
  check_options.escape_controls = terminal;
  CLI::App* check = app.add_subcommand(
      "check", "Check each FILE without running it: parse it, follow its imports, print each "
               "top-level instruction in canonical text and warn of what a run would meet "
               "(\"-\": standard input)");
  check->add_option("FILE", check_options.files, "the scripts to check")->required();
  joined.add(*check, "--format", check_options.format, "FORMAT",
             "text (default), json or sarif: how diagnostics are shown");
  joined.add(*check, "--values", check_options.values, "LIST",
             "check positions against this value vector instead of the verifier's four values");
  check->add_flag("--deny-warnings", check_options.deny_warnings,
                  "exit with status 1 when there is a warning");

  // --- tarn run ---
  tarn::tool::RunCommandOptions run_options;
  run_options.escape_controls = terminal;
  CLI::App* run = app.add_subcommand("run", "Run the script FILE and print the run result "
                                            "(\"-\": standard input)");
  run->add_option("FILE", run_options.file, "the script to run")->required();
  joined.add(*run, "--payload", run_options.payload, "NUMBER",
             "payload encoded into the state memory");
  joined.add(*run, "--corrupt-index", run_options.corrupt_index, "N",
             "damage this position before the run");
  joined.add(*run, "--signs", run_options.signs, "LIST", "comma-separated sign vector");
  joined.add(*run, "--values", run_options.values, "LIST", "comma-separated value vector");
  joined.add(*run, "--context", run_options.context, "JSONFILE",
             "JSON context document (\"-\": standard input)");
  joined.add(*run, "--fuel", run_options.fuel, "N", "fuel limit of the run");
  joined.add(*run, "--format", run_options.format, "FORMAT",
             "text (default), json or sarif: how a parse or run error is shown");
  joined.add(*run, "--trace", run_options.trace, "jsonl:FILE",
             "explain every step on standard error, or as JSON lines into FILE", "text");
  joined.add(*run, "--root", run_options.root, "DIR",
             "resolve imports and the report file beneath DIR, never outside it");

  // --- tarn fmt ---
  tarn::tool::FmtCommandOptions fmt_options;
  CLI::App* fmt = app.add_subcommand("fmt", "Print each FILE in the standard layout "
                                            "(\"-\": standard input)");
  fmt->add_option("FILE", fmt_options.files, "the scripts to format")->required();
  fmt->add_flag("-w", fmt_options.write, "rewrite the files in place instead of printing them");
  fmt->add_flag("--check", fmt_options.check,
                "print the names of the files that are not formatted; exit 1 if any");
  fmt->add_flag("--diff", fmt_options.diff,
                "print what formatting would change, as a unified diff");

  // --- tarn test ---
  tarn::tool::TestCommandOptions test_options;
  CLI::App* test = app.add_subcommand("test", "Run the cases of the *.test.toml files under each "
                                              "PATH (default: the working directory)");
  test->add_option("PATH", test_options.paths, "test files and folders");
  joined.add(*test, "--run", test_options.run, "REGEX",
             "run only the cases whose name matches this regular expression");
  joined.add(*test, "--junit", test_options.junit, "FILE",
             "also write the results as JUnit XML to FILE");
  joined.add(*test, "--coverage", test_options.coverage, "json",
             "list the statements no case started; --coverage=json prints JSON instead", "text");

  // --- tarn lsp ---
  CLI::App* lsp = app.add_subcommand(
      "lsp", "Serve editors as a language server on standard input and output: diagnostics, "
             "formatting, hover help, completion, definitions and outlines (see docs/editors.md)");

  // The subcommand is the first argument that is not an option. "help [COMMAND]" is
  // "[COMMAND] --help"; an unknown one is named, with the nearest subcommand.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const auto named = std::find_if(arguments.begin(), arguments.end(),
                                  [](const std::string& argument) { return !argument.starts_with('-'); });
  if (named != arguments.end()) {
    std::vector<std::string> names;
    for (const CLI::App* subcommand : app.get_subcommands({})) names.push_back(subcommand->get_name());
    if (*named == "help") {
      *named = "--help";
      if (named + 1 != arguments.end()) std::iter_swap(named, named + 1);
    } else if (std::find(names.begin(), names.end(), *named) == names.end()) {
      const std::vector<std::string_view> candidates(names.begin(), names.end());
      std::string message = "tarn: unknown subcommand '" + *named + "'";
      if (const auto nearest = tarn::lang::nearest_word(*named, candidates)) {
        message += "; did you mean '" + std::string(*nearest) + "'?";
      }
      return usage_error(message + " (see tarn --help)", terminal);
    } else {
      std::vector<std::string> rest(named + 1, arguments.end());
      if (auto error = joined.take(*named, rest)) return usage_error(*error, terminal);
      arguments.erase(named + 1, arguments.end());
      arguments.insert(arguments.end(), rest.begin(), rest.end());
    }
  }

  try {
    std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them from the back
    app.parse(arguments);
  } catch (const CLI::ParseError& error) {
    // --help and --version arrive here too, as successes that print to standard output; their
    // text is written like every other output, so that a failed write is reported.
    std::ostringstream out;
    std::ostringstream err;
    app.exit(error, out, err);
    const bool success = error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success);
    return emit({out.str(), err.str(), success ? 0 : kUsageStatus}, terminal);
  }

  try {
    if (check->parsed()) return emit(tarn::tool::check_command(check_options), terminal);
    if (fmt->parsed()) return emit(tarn::tool::fmt_command(fmt_options), terminal);
    if (test->parsed()) return emit(tarn::tool::test_command(test_options), terminal);
    if (lsp->parsed()) {
      tarn::tool::lsp::DescriptorSource input(STDIN_FILENO);
      return tarn::tool::lsp::serve(input, [](std::string_view message) {
        return tarn::lang::write_text(STDOUT_FILENO, message) == 0;
      });
    }
    return emit(tarn::tool::run_command(run_options), terminal);
  } catch (const std::bad_alloc&) {
    // Everything the command held is freed by now; the message itself needs no memory.
    (void)tarn::lang::write_text(STDERR_FILENO, "tarn: out of memory\n");
    return 1;
  } catch (const std::exception& error) {
    (void)tarn::lang::write_text(STDERR_FILENO, std::string("tarn: ") + error.what() + "\n");
    return 1;
  }
}
