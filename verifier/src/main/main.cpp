// The process shell around run_verifier(): convert argv, run, write the one output, pick the exit
// status. Everything else is pure and tested in-process.
//
// Exit status 0 after every verdict; 101 only for the fatal conditions: an argument that is not
// UTF-8, memory running out and a failed write to standard output. Start-up is kept cheap (no iostreams, no static
// initialisation of our own): a harness starts the verifier thousands of times.
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "tarn/lang/write_text.hpp"
#include "verifier.hpp"

namespace {

constexpr int kFatalStatus = 101;

/// A fatal condition: the message goes to standard error (best effort) and the status is 101.
int fatal(const std::string& message) {
  (void)tarn::lang::write_text(STDERR_FILENO, message + "\n");
  return kFatalStatus;
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that closed its end, or a file-size limit, must not kill us silently: the write
  // then fails (EPIPE, EFBIG) and we report it like any other failed write. A report file that
  // cannot be written is ignored, as any other report-file failure.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

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

  if (const int error = tarn::lang::write_text(STDOUT_FILENO, output); error != 0) {
    return fatal(std::string("failed printing to stdout: ") + std::strerror(error));
  }
  return 0;
}
