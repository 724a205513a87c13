// Hostile inputs to the verifier: scripts and paths that a harness or an attacker might hand it.
// Each ends in one defined verdict with exit status 0; none may crash, hang or exhaust memory.
// (Closed, full and broken standard output are covered by verifier_e2e_test.cpp; nesting a
// million deep and a file importing itself by script_verdict_test.cpp.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tarn/testing/process.hpp"
#include "verifier.hpp"
#include "tarn/testing/scratch.hpp"

namespace qrv {
namespace {

using tarn::testing::ScratchDir;
using tarn::testing::repeat;

using namespace std::string_view_literals;
using tarn::testing::ProcessOptions;
using tarn::testing::ProcessResult;

constexpr std::string_view kOpen = "Status: OPEN\n";
constexpr std::string_view kSilence = "Status: SILENCE\n";

/// Runs the verifier inside `dir`, so that scripts name their files by relative paths.
ProcessResult verifier_in(const ScratchDir& dir, const std::vector<std::string>& arguments,
                          ProcessOptions options = {}) {
  options.working_directory = dir.path();
  return tarn::testing::run_process(tarn::testing::tool_path("qrv-verifier"), arguments, options);
}

TEST(HostileScripts, EndInADefinedVerdict) {
  struct Case {
    std::string name;
    std::vector<std::pair<std::string, std::string>> files;  // written into the scratch dir
    std::string script;                                      // the --script= path
    std::string_view status;
  };
  const Case cases[] = {
      {"import cycle of two files",
       {{"a", "import(\"b\")\n"}, {"b", "residual()\nimport(\"a\")\n"}}, "a", kSilence},
      {"NUL where a statement begins", {{"s", std::string("report()\n\0\n"sv)}}, "s", kSilence},
      {"NUL inside a string", {{"s", std::string("escalate(\"a\0b\")\n"sv)}}, "s", kOpen},
      {"invalid UTF-8 in the script", {{"s", "report()\n// caf\xe9\n"}}, "s", kSilence},
      {"invalid UTF-8 in an imported file",
       {{"s", "import(\"latin1\")\n"}, {"latin1", "report()\n\"\xc3\x28\"\n"}}, "s", kSilence},
      {"script path a directory", {}, "dir", kSilence},
      {"imported path a directory", {{"s", "import(\"dir\")\n"}}, "s", kSilence},
      // A report file that cannot be written is ignored: the run itself succeeds.
      {"report_to a directory", {{"s", "report()\nreport_to(\"dir\")\n"}}, "s", kOpen},
      {"report_to in a missing directory", {{"s", "report()\nreport_to(\"no/such/r.txt\")\n"}},
       "s", kOpen},
      {"report_to /dev/full", {{"s", "report()\nreport_to(\"/dev/full\")\n"}}, "s", kOpen},
      // An endless device is cut off at the size limit and fails to read.
      {"script path /dev/zero", {}, "/dev/zero", kSilence},
      {"import of /dev/zero", {{"s", "import(\"/dev/zero\")\n"}}, "s", kSilence},
      {"100,000 aliases, the whole fuel",
       {{"s", [] {
           std::string text;
           for (int i = 0; i < 100000; ++i) text += "alias(1, \"a" + std::to_string(i) + "\")\n";
           return text;
         }()}},
       "s", kOpen},
      {"100,001 aliases, out of fuel", {{"s", repeat("alias(1, \"a\")\n", 100001)}}, "s", kSilence},
      {"a thousand-digit tolerance",
       {{"s", "harmony(0." + repeat("0", 998) + "1)\nharmony(" + repeat("9", 1000) + ")\n"}},
       "s", kOpen},
      // The last tolerance underflows to zero, and the strict test fails a zero residual.
      {"a thousand-digit tolerance that underflows",
       {{"s", "harmony(" + repeat("9", 1000) + ")\nharmony(0." + repeat("0", 998) + "1)\n"}},
       "s", "Reason: mathematical_drift_detected\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    dir.make_dir("dir");
    for (const auto& [name, text] : c.files) dir.write(name, text);
    const ProcessResult result = verifier_in(dir, {"--script=" + c.script});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find(c.status), std::string::npos) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

// Opening a FIFO must not wait for a writer that never comes; with no writer it is a read
// failure, not an empty script that would pass.
TEST(HostileScripts, FifoWithoutWriterIsUnreachable) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  dir.write("s", "import(\"fifo\")\n");
  for (const std::string script : {"fifo", "s"}) {
    SCOPED_TRACE(script);
    const ProcessResult result = verifier_in(dir, {"--script=" + script, "--emit=json"});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("\"gate_status\":\"SILENCE\""), std::string::npos) << result.out;
  }
}

// A report target that no process reads must not hold the verdict back: it is opened without
// waiting, and the failed write is ignored like any other.
TEST(HostileScripts, ReportToAFifoWithoutReader) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo(dir.file("rfifo").c_str(), 0600), 0);
  dir.write("r.tarn", "report()\nreport_to(\"rfifo\")\n");
  ProcessOptions options;
  options.working_directory = dir.path();
  const ProcessResult result = tarn::testing::run_process(
      "/usr/bin/timeout", {"60", tarn::testing::tool_path("qrv-verifier"), "--script=r.tarn"},
      options);
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find(kOpen), std::string::npos) << result.out;
}

TEST(HostileScripts, HundredMegabyteScript) {
  ScratchDir dir;
  // One comment line of 100 MB, then statements: read, validated and skipped in one pass.
  std::string text = "//";
  text.append(100u << 20, 'x');
  text += "\nif_broken { evolve(1) }\ndata(0)\n";
  dir.write("big", text);
  const ProcessResult result =
      verifier_in(dir, {"--script=big", "--corrupt-index=1", "--emit=json"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("\"indices_healed\":[1],"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\"revealed\":1337.0000000000018,"), std::string::npos) << result.out;
}

// Arguments beyond the kernel's limit for one argument (128 KiB) never reach a process, so the
// megabyte arguments go through run_verifier in process: each is ignored or fails like a short one.
TEST(HostileArguments, MegabyteAndThousandDigitArguments) {
  const std::string megabyte(1u << 20, '1');
  const std::string digits(1000, '9');
  struct Case {
    std::string name;
    std::vector<std::string> arguments;
    std::string_view expected;  // a line of the output
  };
  const Case cases[] = {
      {"1 MB payload", {"--payload=" + megabyte}, "Reason: refusal_override_failed\n"},
      {"1 MB script path", {"--script=" + megabyte}, "Reason: system_unreachable\n"},
      {"1 MB corrupt index", {"--corrupt-index=" + megabyte}, "Residual: 0\n"},
      {"1 MB unknown argument", {"--" + megabyte}, "Residual: 0\n"},
      {"1 MB --emit value", {"--emit=" + megabyte}, "Residual: 0\n"},
      {"thousand-digit payload", {"--payload=" + digits}, "Reason: refusal_override_failed\n"},
      {"thousand-digit tiny payload",
       {"--payload=0." + std::string(999, '0') + "1", "--emit=json"}, "\"revealed\":0.0,"},
      {"thousand-digit exact payload",
       {"--payload=1337." + std::string(996, '0'), "--emit=json"},
       "\"revealed\":1337.0000000000018,"},
      {"thousand-digit corrupt index", {"--corrupt-index=" + digits}, "Residual: 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = run_verifier(c.arguments);
    EXPECT_NE(out.find(c.expected), std::string::npos) << out.substr(0, 400);
  }
  // A megabyte case id is no case: it prints the unknown-case line, whatever it is, once.
  const std::string unknown = run_verifier(std::vector<std::string>{"--simulate-case=" + megabyte});
  EXPECT_EQ(unknown, run_verifier(std::vector<std::string>{"--simulate-case=x"}));
}

// A file-size limit makes writes fail instead of killing the verifier: the report file is
// ignored, standard output is the fatal condition. A full non-blocking pipe is waited for.
TEST(HostileProcess, FileSizeLimitAndSlowReader) {
  ScratchDir dir;
  dir.write("s", "report()\nreport_to(\"r.txt\")\n");
  ProcessOptions limited;
  limited.file_size_limit = 0;
  const ProcessResult run = verifier_in(dir, {"--script=s"}, limited);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find(kOpen), std::string::npos) << run.out;
  limited.stdout_path = dir.file("out.txt");
  const ProcessResult printed = verifier_in(dir, {}, limited);
  EXPECT_EQ(printed.status, 101);
  EXPECT_EQ(printed.err, "failed printing to stdout: File too large\n");

  ProcessOptions slow;
  slow.slow_nonblocking_stdout = true;
  const ProcessResult waited = verifier_in(dir, {"--emit=json"}, slow);
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_EQ(waited.out, run_verifier(std::vector<std::string>{"--emit=json"}));
}

}  // namespace
}  // namespace qrv
