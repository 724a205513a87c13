// The built qrv-verifier as a process: its output bytes, its exit status, and the two fatal
// conditions (an argument that is not UTF-8, standard output that cannot be written).
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include "tarn/testing/process.hpp"

namespace {

using tarn::testing::ProcessOptions;
using tarn::testing::ProcessResult;
using tarn::testing::run_process;

std::string verifier() { return tarn::testing::tool_path("qrv-verifier"); }

std::string golden(const std::string& name) {
  return tarn::testing::read_file(std::string(TARN_TEST_DATA_DIR) + "/tests/golden/" + name);
}

bool starts_with(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

/// Runs the verifier with standard output on a pipe whose read end is already closed, so every
/// write fails with EPIPE (or would raise SIGPIPE if the verifier did not ignore it).
ProcessResult run_into_closed_pipe(const std::vector<std::string>& arguments) {
  int out_pipe[2];
  int err_pipe[2];
  if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return {};
  ::close(out_pipe[0]);

  std::vector<std::string> argv_text{verifier()};
  argv_text.insert(argv_text.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) return {};
  if (pid == 0) {
    ::dup2(out_pipe[1], STDOUT_FILENO);
    ::dup2(err_pipe[1], STDERR_FILENO);
    for (int fd = 3; fd < 1024; ++fd) ::close(fd);
    ::execv(argv[0], argv.data());
    _exit(127);
  }
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  ProcessResult result;
  std::array<char, 4096> buffer{};
  for (;;) {
    const ssize_t n = ::read(err_pipe[0], buffer.data(), buffer.size());
    if (n > 0) {
      result.err.append(buffer.data(), static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(err_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  return result;
}

TEST(VerifierProcess, DefaultOutputs) {
  struct Case {
    std::vector<std::string> arguments;
    std::string golden_file;
  };
  const Case cases[] = {
      {{}, "driver_default.txt"},
      {{"--emit=json"}, "driver_default_json.txt"},
      {{"--emit=json", "--emit=text", "--unknown", "--corrupt-index=4"}, "driver_default_json.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.golden_file);
    const std::string expected = golden(c.golden_file);
    ASSERT_FALSE(expected.empty());
    const ProcessResult result = run_process(verifier(), c.arguments);
    EXPECT_EQ(result.out, expected);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
}

TEST(VerifierProcess, FailedVerdictsStillExitZero) {
  const ProcessResult refused = run_process(verifier(), {"--payload=-1"});
  EXPECT_EQ(refused.status, 0);
  EXPECT_NE(refused.out.find("Reason: negative_budget_residual\n"), std::string::npos);

  const ProcessResult unreachable = run_process(verifier(), {"--script="});
  EXPECT_EQ(unreachable.status, 0);
  EXPECT_NE(unreachable.out.find("Status: SILENCE\nReason: system_unreachable\n"),
            std::string::npos)
      << unreachable.out;

  const ProcessResult flag = run_process(verifier(), {"--simulate-dpia-gate"});
  EXPECT_EQ(flag.status, 0);
  EXPECT_TRUE(starts_with(flag.out, "{")) << flag.out;
}

TEST(VerifierProcess, ArgumentThatIsNotUtf8IsFatal) {
  for (const std::string bad : {"\xff", "--payload=1\xc3", "--script=\xed\xa0\x80"}) {
    SCOPED_TRACE(bad);
    const ProcessResult result = run_process(verifier(), {"--emit=json", bad});
    EXPECT_EQ(result.status, 101);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("UTF-8"), std::string::npos) << result.err;
  }
}

TEST(VerifierProcess, UnwritableStdoutIsFatal) {
  struct Case {
    const char* name;
    ProcessOptions options;
  };
  ProcessOptions closed;
  closed.close_stdout = true;  // EBADF
  ProcessOptions full;
  full.stdout_path = "/dev/full";  // ENOSPC
  for (const Case& c : {Case{"closed", closed}, Case{"/dev/full", full}}) {
    SCOPED_TRACE(c.name);
    const ProcessResult result = run_process(verifier(), {}, c.options);
    EXPECT_EQ(result.status, 101);
    EXPECT_TRUE(starts_with(result.err, "failed printing to stdout")) << result.err;
  }
}

TEST(VerifierProcess, ClosedPipeIsFatalNotASignal) {
  const ProcessResult result = run_into_closed_pipe({"--emit=json"});
  EXPECT_EQ(result.status, 101);  // 141 would mean SIGPIPE killed it
  EXPECT_TRUE(starts_with(result.err, "failed printing to stdout")) << result.err;
}

}  // namespace
