// The `tarn` tool: `tarn check FILE` and `tarn run FILE [options]`.
//
// main only parses the command line (CLI11), calls one subcommand, writes the ToolOutput it
// returns and picks the exit status; the subcommands never print, so tests run them in-process.
// Exit status: 0 success, 1 a read, parse, run or write failure, 2 bad usage.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "check.hpp"
#include "run.hpp"
#include "tool_output.hpp"

namespace {

constexpr int kUsageStatus = 2;

// Writes all of `text` to `fd`; the errno of a failed write, or 0.
int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t count = ::write(fd, text.data(), text.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(count));
  }
  return 0;
}

int emit(const tarn::tool::ToolOutput& output) {
  if (const int error = write_all(STDOUT_FILENO, output.out); error != 0) {
    const std::string message =
        std::string("tarn: failed printing to stdout: ") + std::strerror(error) + "\n";
    (void)write_all(STDERR_FILENO, message);
    return 1;
  }
  (void)write_all(STDERR_FILENO, output.err);
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
  // A closed pipe must show up as a failed write, not kill the process.
  std::signal(SIGPIPE, SIG_IGN);

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

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help and --version arrive here too, as successes that print to standard output.
    app.exit(error, std::cout, std::cerr);
    return error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? 0 : kUsageStatus;
  }

  if (check->parsed()) return emit(tarn::tool::check_command(check_file));
  return emit(tarn::tool::run_command(run_options));
}
