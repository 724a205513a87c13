// The `tarn` tool: `tarn check FILE`, `tarn run FILE [options]`, `tarn fmt FILE...` and
// `tarn test [PATH...]`.
//
// main only parses the command line (CLI11), calls one subcommand, writes the ToolOutput it
// returns and picks the exit status; the subcommands never print, so tests run them in-process.
// Exit status: 0 success, 1 a read, parse, run or write failure, 2 bad usage.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstring>
#include <exception>
#include <new>
#include <sstream>
#include <string>
#include <string_view>

#include "check.hpp"
#include "tarn/lang/write_text.hpp"
#include "fmt.hpp"
#include "run.hpp"
#include "test_runner.hpp"
#include "tool_output.hpp"

namespace {

constexpr int kUsageStatus = 2;

int emit(const tarn::tool::ToolOutput& output) {
  if (const int error = tarn::lang::write_text(STDOUT_FILENO, output.out); error != 0) {
    const std::string message =
        std::string("tarn: failed printing to stdout: ") + std::strerror(error) + "\n";
    (void)tarn::lang::write_text(STDERR_FILENO, message);
    return 1;
  }
  (void)tarn::lang::write_text(STDERR_FILENO, output.err);
  return output.status;
}

// Registers a single-valued string option; giving it twice is a usage error.
void add_run_option(CLI::App& command, const std::string& name, std::optional<std::string>& target,
                    const std::string& value_name, const std::string& description) {
  command
      .add_option_function<std::string>(
          name, [&target](const std::string& value) { target = value; }, description)
      ->type_name(value_name)
      // "--values=" must give an empty list, not swallow the next argument as its value.
      ->expected(0, 1)
      ->default_str("")
      ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
}

}  // namespace

int main(int argc, char** argv) {
  // A closed pipe or a file-size limit must show up as a failed write, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  CLI::App app{"Check and run policy scripts.", "tarn"};
  app.set_version_flag("--version", std::string("tarn ") + TARN_VERSION);
  app.require_subcommand(1);

  std::string check_file;
  CLI::App* check = app.add_subcommand("check", "Parse FILE and print each top-level instruction "
                                                "in canonical text (\"-\": standard input)");
  check->add_option("FILE", check_file, "the script to check")->required();

  tarn::tool::RunCommandOptions run_options;
  CLI::App* run = app.add_subcommand("run", "Run the script FILE and print the run result "
                                            "(\"-\": standard input)");
  run->add_option("FILE", run_options.file, "the script to run")->required();
  add_run_option(*run, "--payload", run_options.payload, "NUMBER",
                 "payload encoded into the state memory");
  add_run_option(*run, "--corrupt-index", run_options.corrupt_index, "N",
                 "damage this position before the run");
  add_run_option(*run, "--signs", run_options.signs, "LIST", "comma-separated sign vector");
  add_run_option(*run, "--values", run_options.values, "LIST", "comma-separated value vector");
  add_run_option(*run, "--context", run_options.context, "JSONFILE", "JSON context document");
  add_run_option(*run, "--fuel", run_options.fuel, "N", "fuel limit of the run");
  add_run_option(*run, "--root", run_options.root, "DIR",
                 "resolve imports and the report file beneath DIR, never outside it");

  tarn::tool::FmtCommandOptions fmt_options;
  CLI::App* fmt = app.add_subcommand("fmt", "Print each FILE in the standard layout "
                                            "(\"-\": standard input)");
  fmt->add_option("FILE", fmt_options.files, "the scripts to format")->required();
  fmt->add_flag("-w", fmt_options.write, "rewrite the files in place instead of printing them");
  fmt->add_flag("--check", fmt_options.check,
                "print the names of the files that are not formatted; exit 1 if any");
  fmt->add_flag("--diff", fmt_options.diff, "print what formatting would change, as a unified diff");

  tarn::tool::TestCommandOptions test_options;
  CLI::App* test = app.add_subcommand("test", "Run the cases of the *.test.toml files under each "
                                              "PATH (default: the working directory)");
  test->add_option("PATH", test_options.paths, "test files and folders");
  test->add_option_function<std::string>(
          "--run", [&](const std::string& pattern) { test_options.run = pattern; },
          "run only the cases whose name matches this regular expression")
      ->type_name("REGEX");
  test->add_option_function<std::string>(
          "--junit", [&](const std::string& file) { test_options.junit = file; },
          "also write the results as JUnit XML to FILE")
      ->type_name("FILE");
  test->add_flag("--coverage{text}", test_options.coverage,
                 "list the statements no case started; --coverage=json prints JSON instead");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version arrive here too, as successes that print to standard output; their
    // text is written like every other output, so that a failed write is reported.
    std::ostringstream out;
    std::ostringstream err;
    app.exit(error, out, err);
    const bool success = error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success);
    return emit({out.str(), err.str(), success ? 0 : kUsageStatus});
  }

  try {
    if (check->parsed()) return emit(tarn::tool::check_command(check_file));
    if (fmt->parsed()) return emit(tarn::tool::fmt_command(fmt_options));
    if (test->parsed()) return emit(tarn::tool::test_command(test_options));
    return emit(tarn::tool::run_command(run_options));
  } catch (const std::bad_alloc&) {
    // Everything the command held is freed by now; the message itself needs no memory.
    (void)tarn::lang::write_text(STDERR_FILENO, "tarn: out of memory\n");
    return 1;
  } catch (const std::exception& error) {
    (void)tarn::lang::write_text(STDERR_FILENO, std::string("tarn: ") + error.what() + "\n");
    return 1;
  }
}
