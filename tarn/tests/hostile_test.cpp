// Hostile inputs to the tarn tool: every character class inside strings and numbers of a thousand
// digits as `tarn check` shows them, and files, devices and imports that must end in a defined
// failure (exit status 1 with its message) or in a run, never in a crash, a hang or a signal.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace {

using tarn::testing::ScratchDir;
using tarn::testing::repeat;

using namespace std::string_view_literals;
using tarn::testing::ProcessOptions;
using tarn::testing::ProcessResult;

/// Runs the tarn tool inside `dir`, so that scripts name their files by relative paths.
ProcessResult tarn_in(const ScratchDir& dir, const std::vector<std::string>& arguments,
                      ProcessOptions options = {}) {
  options.working_directory = dir.path();
  return tarn::testing::run_process(tarn::testing::tool_path("tarn"), arguments, options);
}

/// `tarn check` on one script text: its standard output, or on failure the last line of its
/// standard error (the engine's text).
std::string check_text(const std::string& text) {
  ScratchDir dir;
  dir.write("s", text);
  const ProcessResult result = tarn_in(dir, {"check", "s"});
  return result.status == 0 ? result.out : tarn::testing::last_line(result.err);
}

TEST(HostileCheck, EveryCharacterClassInsideStrings) {
  struct Case {
    std::string_view name;
    std::string raw;
    std::string_view escaped;
  };
  std::string printable_ascii;
  for (char c = ' '; c <= '~'; ++c) {
    if (c != '"' && c != '\\') printable_ascii += c;
  }
  const Case cases[] = {
      {"printable ASCII", printable_ascii, ""},  // expected: itself
      {"backslash", "\\", "\\\\"},
      {"tab, line feed, carriage return", "\t\n\r", "\\t\\n\\r"},
      {"NUL", std::string(1, '\0'), "\\0"},
      {"other C0 controls", "\x01\x08\x0b\x0c\x1b\x1f", "\\u{1}\\u{8}\\u{b}\\u{c}\\u{1b}\\u{1f}"},
      {"DEL", "\x7f", "\\u{7f}"},
      {"C1 control", "\u0085", "\\u{85}"},
      {"letters, marks spaced, symbols", "\u00e9\u00df\u4e2d\u0416\u20ac\u00b5\U0001F600", ""},
      {"space separators other than space", "\u00a0\u2003\u3000", "\\u{a0}\\u{2003}\\u{3000}"},
      {"line and paragraph separators", "\u2028\u2029", "\\u{2028}\\u{2029}"},
      {"format characters", "\u00ad\u200b\u200d\u2066\ufeff\U000E0001",
       "\\u{ad}\\u{200b}\\u{200d}\\u{2066}\\u{feff}\\u{e0001}"},
      {"grapheme extenders", "e\u0301\ufe0f\u200c", "e\\u{301}\\u{fe0f}\\u{200c}"},
      {"private use", "\ue000\U000F0000\U0010FFFD", "\\u{e000}\\u{f0000}\\u{10fffd}"},
      {"unassigned and noncharacters", "\u0378\uffff\U0010FFFF", "\\u{378}\\u{ffff}\\u{10ffff}"},
      {"single quote", "'", "'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string escaped = c.escaped.empty() ? c.raw : std::string(c.escaped);
    EXPECT_EQ(check_text("escalate(\"" + c.raw + "\")\n"), "Escalate(\"" + escaped + "\")\n");
  }
}

TEST(HostileCheck, ThousandDigitNumbers) {
  const std::string zeros(984, '0');
  struct Case {
    std::string script;
    std::string_view canonical;
  };
  const Case cases[] = {
      {"data(" + std::string(1000, '1') + ")", "Data(inf)"},
      {"data(-" + std::string(1000, '1') + ")", "Data(-inf)"},
      {"data(0." + std::string(998, '0') + "1)", "Data(0.0)"},
      {"data(-0." + std::string(998, '0') + "1)", "Data(-0.0)"},
      {"data(1." + std::string(998, '0') + ")", "Data(1.0)"},
      // 2^53 + 1 is halfway between two doubles: exactly halfway rounds to even, a last digit
      // 999 places further on decides it upwards.
      {"data(9007199254740993" + zeros + "e-984)", "Data(9007199254740992.0)"},
      {"data(9007199254740993" + zeros.substr(1) + "1e-984)", "Data(9007199254740994.0)"},
      {"data(1e" + std::string(997, '0') + "5)", "Data(100000.0)"},
      {"data(1e-" + std::string(998, '9') + ")", "Data(0.0)"},
      {"evolve(" + std::string(1000, '7') + ")", "Evolve(18446744073709551615)"},
      {"log_level(" + std::string(1000, '3') + ")", "LogLevel(255)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.canonical);
    EXPECT_EQ(check_text(c.script + "\n"), std::string(c.canonical) + "\n");
  }
}

TEST(HostileCheck, NulBytes) {
  EXPECT_EQ(check_text(std::string("link_identity(\"a\0b\")\n"sv)), "LinkIdentity(\"a\\0b\")\n");
  EXPECT_EQ(check_text(std::string("report()\0report()"sv)),
            "Parse error: Error(Error { input: \"\\0report()\", code: TakeWhile1 })\n");
}

TEST(HostileCheck, MillionDeepBody) {
  const std::size_t depth = 1000000;
  ScratchDir dir;
  dir.write("deep", repeat("if_broken {", depth) + repeat("}", depth));
  const ProcessResult checked = tarn_in(dir, {"check", "deep"});
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(checked.out.size(), depth * std::string_view("Branch([])").size() + 1);
  const ProcessResult run = tarn_in(dir, {"run", "deep"});  // intact memory: the block is skipped
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.out.find("\"fuel_used\": 1,"), std::string::npos);
}

// Files that cannot be read as a script: each fails with its reason, whatever the path names.
TEST(HostileFiles, UnreadableScriptsFail) {
  ScratchDir dir;
  ASSERT_EQ(::mkfifo((dir.path() + "/fifo").c_str(), 0600), 0);
  const std::string long_name(131071, 'n');  // the longest argument the kernel passes on
  struct Case {
    std::string file;
    std::string reason;
  };
  const Case cases[] = {
      {"/dev/zero", "text exceeds 268435456 bytes"},
      {"fifo", "FIFO has no writer"},
      {long_name, "File name too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    for (const std::string command : {"check", "run"}) {
      const ProcessResult result = tarn_in(dir, {command, c.file});
      EXPECT_EQ(result.status, 1);
      EXPECT_EQ(result.out, "");
      EXPECT_EQ(result.err, "tarn: cannot read '" + c.file + "': " + c.reason + "\n");
    }
  }
}

TEST(HostileFiles, ImportsAndReportTargets) {
  ScratchDir dir;
  dir.make_dir("dir");
  dir.write("a", "import(\"b\")\n");
  dir.write("b", "residual()\nimport(\"a\")\n");
  dir.write("latin1", "report()\n// caf\xe9\n");
  struct Case {
    std::string script;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"import(\"a\")", 1, "Out of fuel (Gas limit exceeded)\n"},
      {"import(\"dir\")", 1, "Import failed for 'dir': Is a directory\n"},
      {"import(\"latin1\")", 1,
       "Import failed for 'latin1': stream did not contain valid UTF-8\n"},
      {"import(\"/dev/zero\")", 1,
       "Import failed for '/dev/zero': open imports exceed 256 MiB of script text\n"},
      {"report()\nreport_to(\"dir\")", 0, ""},
      {"report()\nreport_to(\"/dev/full\")", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    dir.write("s", c.script + "\n");
    const ProcessResult result = tarn_in(dir, {"run", "s"});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(tarn::testing::last_line(result.err), c.err);
  }
}

// With --root the policy reaches only what lies beneath the folder; a report target that no
// process reads holds nothing back (the run is bounded by a timeout so that a wait fails).
TEST(HostileFiles, RootConfinesImportsAndReports) {
  ScratchDir dir;
  dir.write("secret.txt", "secret\n");
  dir.make_dir("policies");
  dir.write("policies/inc.tarn", "report()\n");
  ASSERT_EQ(::mkfifo(dir.file("policies/rfifo").c_str(), 0600), 0);
  const std::string outside = "Import failed for '../secret.txt': outside the policy root\n";
  struct Case {
    std::string script;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"import(\"inc.tarn\")\nreport_to(\"r.txt\")", 0, ""},
      {"import(\"../secret.txt\")", 1, outside},
      {"import(\"" + dir.file("secret.txt") + "\")", 1,
       "Import failed for '" + dir.file("secret.txt") + "': outside the policy root\n"},
      {"report()\nreport_to(\"../escaped.txt\")", 0, ""},
      {"report()\nreport_to(\"rfifo\")", 0, ""},
  };
  ProcessOptions options;
  options.working_directory = dir.path();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    dir.write("s", c.script + "\n");
    const ProcessResult result = tarn::testing::run_process(
        "/usr/bin/timeout", {"60", tarn::testing::tool_path("tarn"), "run", "s", "--root=policies"},
        options);
    EXPECT_EQ(result.status, c.status);
    // The located message comes first; the engine's exact text is the last line.
    EXPECT_TRUE(result.err.ends_with(c.err)) << result.err;
    if (c.err.empty()) {
      EXPECT_EQ(result.err, "");
    }
  }
  EXPECT_EQ(tarn::testing::read_file(dir.file("policies/r.txt")),
            "Final Residual: 0.000000, Pass: true");
  EXPECT_FALSE(std::filesystem::exists(dir.file("escaped.txt")));

  const ProcessResult missing = tarn_in(dir, {"run", "s", "--root=missing"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_EQ(missing.err, "tarn run: cannot open --root 'missing': No such file or directory\n");
}

TEST(HostileFiles, HundredThousandAliases) {
  ScratchDir dir;
  std::string aliases;
  for (int i = 0; i < 100000; ++i) {
    aliases += "alias(" + std::to_string(i % 4) + ", \"a" + std::to_string(i) + "\")\n";
  }
  dir.write("s", aliases + "assert_bounds(0, 200, \"a99999\")\n");
  const ProcessResult result = tarn_in(dir, {"run", "s", "--fuel=100001"});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("\"fuel_used\": 100001,"), std::string::npos);
  dir.write("s", aliases + "assert_bounds(0, 50, \"a99999\")\n");
  const ProcessResult failed = tarn_in(dir, {"run", "s", "--fuel=100001"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(tarn::testing::last_line(failed.err),
            "Bounds assertion failed for 'a99999' (index 3): value 74.12530193412877 not in [0, 50]\n");
}

// The process's surroundings: limits, full devices and slow readers end in a defined status and
// message, never in a signal.
TEST(HostileProcess, FileSizeLimitIsAFailedWrite) {
  ScratchDir dir;
  dir.write("s", "report()\nreport_to(\"r.txt\")\n");
  ProcessOptions limited;
  limited.file_size_limit = 0;
  // The report file cannot be written, which the run ignores.
  const ProcessResult run = tarn_in(dir, {"run", "s"}, limited);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"report_path\": \"r.txt\","), std::string::npos);
  limited.stdout_path = dir.file("out.txt");
  const ProcessResult check = tarn_in(dir, {"check", "s"}, limited);
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.err, "tarn: failed printing to stdout: File too large\n");
}

// AddressSanitizer reserves its shadow memory at start-up, which an address-space limit forbids.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(HostileProcess, OutOfMemory) {
  if (kAddressSanitizer) GTEST_SKIP() << "an address-space limit stops the sanitizer's runtime";
  ScratchDir dir;
  const std::size_t depth = 1000000;
  dir.write("deep", repeat("if_broken {", depth) + repeat("}", depth));
  dir.write("s", "report()\n");
  dir.write("long.json", "[" + repeat("0,", 4000000) + "0]");
  ProcessOptions limited;
  limited.address_space_limit = std::uint64_t{64} << 20;
  const std::vector<std::string> cases[] = {{"check", "deep"},
                                            {"run", "s", "--context=long.json"}};
  for (const auto& arguments : cases) {
    SCOPED_TRACE(arguments.back());
    const ProcessResult result = tarn_in(dir, arguments, limited);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "tarn: out of memory\n");
  }
}

TEST(HostileProcess, ContextIsOneJsonDocument) {
  ScratchDir dir;
  dir.write("s", "bind(\"a\", 0)\n");
  const std::string digits(1000000, '1');
  struct Case {
    std::string context;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {std::string("{\"a\":1}\0garbage ]]]"sv), 2,
       "tarn run: invalid context JSON in 'c.json': NUL byte at offset 7\n"},
      {"{\"a\":1} x", 2,
       "tarn run: invalid context JSON in 'c.json': [json.exception.parse_error.101] parse error "
       "at line 1, column 9: syntax error while parsing value - invalid literal; last read: "
       "'1} x'; expected end of input\n"},
      {"{\"a\":1} \n\t\r\n", 0, ""},
      {"{\"a\":" + digits + "}", 2,
       "tarn run: invalid context JSON in 'c.json': [json.exception.out_of_range.406] number "
       "overflow parsing '" + digits.substr(0, 200) + "...'\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.context.substr(0, 20));
    dir.write("c.json", c.context);
    const ProcessResult result = tarn_in(dir, {"run", "s", "--context=c.json"});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.err, c.err);
  }
}

TEST(HostileProcess, StandardOutputFullClosedOrSlow) {
  ProcessOptions full;
  full.stdout_path = "/dev/full";
  ProcessOptions closed;
  closed.close_stdout = true;
  struct Case {
    std::string argument;
    const ProcessOptions& options;
    std::string_view reason;
  };
  const Case cases[] = {{"--version", full, "No space left on device"},
                        {"--help", full, "No space left on device"},
                        {"--version", closed, "Bad file descriptor"},
                        {"--help", closed, "Bad file descriptor"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    const ProcessResult result =
        tarn::testing::run_process(tarn::testing::tool_path("tarn"), {c.argument}, c.options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "tarn: failed printing to stdout: " + std::string(c.reason) + "\n");
  }
  // A reader that keeps a non-blocking pipe full is waited for.
  ScratchDir dir;
  dir.write("s", repeat("report()\n", 20000));
  ProcessOptions slow;
  slow.slow_nonblocking_stdout = true;
  const ProcessResult result = tarn_in(dir, {"check", "s"}, slow);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, repeat("Report\n", 20000));
}

// A block nested 20,000 deep on a damaged memory starts blocks whose texts total about 2 GB: the
// run succeeds and writes its report, and the result counts the texts instead of holding them.
TEST(HostileProcess, CommandTextBeyondItsLimitIsCounted) {
  ScratchDir dir;
  const std::size_t depth = 20000;
  dir.write("s", "report()\nreport_to(\"r.txt\")\n" + repeat("if_broken {", depth) +
                     repeat("}", depth));
  const ProcessResult result = tarn_in(dir, {"run", "s", "--corrupt-index=1"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("  \"escalation\": null,\n  \"executed_commands_omitted\": 20002,\n"
                            "  \"fuel_used\": 20002,\n"),
            std::string::npos)
      << result.out;
  EXPECT_EQ(result.err,
            "tarn run: executed-command text exceeds 1 GiB; the result gives only its count, "
            "executed_commands_omitted\n");
  EXPECT_EQ(tarn::testing::read_file(dir.file("r.txt")), "Final Residual: 101.000000, Pass: false");
}

}  // namespace
