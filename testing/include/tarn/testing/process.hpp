// Runs a built tool as a child process for end-to-end tests: arguments in; standard output,
// standard error and exit status out, byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarn::testing {

struct ProcessResult {
  std::string out;
  std::string err;
  int status = -1;  // exit status, or 128 + signal number when killed by a signal
};

struct ProcessOptions {
  std::optional<std::string> stdin_text;  // absent: standard input is /dev/null
  std::optional<std::string> stdout_path; // present: standard output goes to this file instead
  bool close_stdout = false;              // start the child with standard output closed
  std::optional<std::string> working_directory;
  // Limits of the child (setrlimit): the largest file it may write, its address space.
  std::optional<std::uint64_t> file_size_limit;
  std::optional<std::uint64_t> address_space_limit;
  // Standard output is a non-blocking pipe, full when the child starts and drained slowly, so
  // that the child's writes meet a pipe that cannot take them yet.
  bool slow_nonblocking_stdout = false;
};

/// Runs `program` with `arguments` (argv[0] is added) and waits for it.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          const ProcessOptions& options = {});

/// The path of a tool built into the project's bin directory, such as "qrv-verifier".
std::string tool_path(const std::string& name);

/// Writes `text` to `path`, creating or truncating it.
void write_file(const std::string& path, const std::string& text);

/// Reads the whole file at `path`; empty when it cannot be read.
std::string read_file(const std::string& path);

}  // namespace tarn::testing
