// The process shell around run_verifier(): convert argv, run, write the one output, pick the exit
// status. Everything else is pure and tested in-process.
//
// Exit status 0 after every verdict; 101 only for the fatal conditions: an argument that is not
// UTF-8 and a failed write to standard output. Start-up is kept cheap (no iostreams, no static
// initialisation of our own): a harness starts the verifier thousands of times.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "verifier.hpp"

namespace {

constexpr int kFatalStatus = 101;

/// Writes all of `text` to `fd`, retrying after EINTR and partial writes. Returns 0 or an errno.
int write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

/// A fatal condition: the message goes to standard error (best effort) and the status is 101.
int fatal(const std::string& message) {
  (void)write_all(STDERR_FILENO, message + "\n");
  return kFatalStatus;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that closed its end must not kill us silently: the write then fails with EPIPE and
  // we report it like any other failed write.
  std::signal(SIGPIPE, SIG_IGN);

  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (const auto invalid = qrv::find_invalid_argument(arguments)) {
    return fatal("qrv-verifier: argument " + std::to_string(*invalid + 1) +
                 " is not valid UTF-8");
  }

  std::string output;
  try {
    output = qrv::run_verifier(arguments);
  } catch (const std::exception& error) {
    // Running out of memory is the only way here; end with the fatal status, not an abort.
    return fatal(std::string("qrv-verifier: ") + error.what());
  }

  if (const int error = write_all(STDOUT_FILENO, output); error != 0) {
    return fatal(std::string("failed printing to stdout: ") + std::strerror(error));
  }
  return 0;
}
