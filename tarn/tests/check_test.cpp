// `tarn check` and the tool's command line, end to end: the built binary is run as a child.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace {

using tarn::testing::ProcessOptions;
using tarn::testing::ProcessResult;
using tarn::testing::run_process;
using tarn::testing::tool_path;

ProcessResult tarn_tool(const std::vector<std::string>& arguments, const ProcessOptions& options = {}) {
  return run_process(tool_path("tarn"), arguments, options);
}

class Check : public ::testing::Test {
 protected:
  std::string script(const std::string& name, const std::string& text) const {
    return scratch_.write(name, text);
  }

  tarn::testing::ScratchDir scratch_;
};

TEST_F(Check, PrintsOneCanonicalTextPerTopLevelInstruction) {
  const std::string path = script("ok.tarn",
                                  "// policy\r\n"
                                  "track_lineage(true)\r\n"
                                  "alias(0, \"a\")bind(\"k\",\n 3)\n"
                                  "if_greater_than(\"a\", 1e-5) {\n  escalate(\"too\thigh\")\n}\n"
                                  "log_level(300) // capped\n");
  const ProcessResult result = tarn_tool({"check", path});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "TrackLineage(true)\n"
            "Alias(0, \"a\")\n"
            "Bind(\"k\", 3)\n"
            "IfGreaterThan(\"a\", 1e-5, [Escalate(\"too\\thigh\")])\n"
            "LogLevel(255)\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(Check, EmptyScriptPrintsNothing) {
  const ProcessResult result = tarn_tool({"check", script("empty.tarn", "// nothing\n")});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "");
}

TEST_F(Check, Failures) {
  struct Case {
    std::string name;
    std::string text;     // written unless empty
    std::string located;  // "LINE:COLUMN" of the error, or empty for a read failure
    std::string err;      // the last line; "{}" stands for the path
  };
  const Case cases[] = {
      {"unknown.tarn", "report()\nfoo(1)\n", "2:1",
       "Parse error: Error(Error { input: \"foo\", code: Tag })\n"},
      {"exponent.tarn", "data(1e)", "1:6",
       "Parse error: Failure(Error { input: \"1e)\", code: Float })\n"},
      {"open.tarn", "if_broken {\n", "2:1", "Parse error: Error(Error { input: \"\", code: Tag })\n"},
      {"latin1.tarn", "escalate(\"caf\xe9\")\n", "",
       "tarn: cannot read '{}': stream did not contain valid UTF-8\n"},
      {"missing.tarn", "", "", "tarn: cannot read '{}': No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path =
        c.text.empty() ? scratch_.file(c.name) : script(c.name, c.text);
    std::string expected = c.err;
    if (const auto at = expected.find("{}"); at != std::string::npos) expected.replace(at, 2, path);
    const ProcessResult result = tarn_tool({"check", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(tarn::testing::last_line(result.err), expected);
    const std::string first = c.located.empty() ? expected : path + ":" + c.located + ": error: ";
    EXPECT_EQ(result.err.rfind(first, 0), 0u) << result.err;
  }
  const ProcessResult directory = tarn_tool({"check", scratch_.path()});
  EXPECT_EQ(directory.status, 1);
  EXPECT_EQ(directory.err, "tarn: cannot read '" + scratch_.path() + "': Is a directory\n");
}

TEST(CheckStdin, DashReadsStandardInput) {
  ProcessOptions options;
  options.stdin_text = "report()\nevolve(2.9)\n";
  const ProcessResult result = tarn_tool({"check", "-"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "Report\nEvolve(2)\n");

  options.stdin_text = "report ()";
  const ProcessResult failed = tarn_tool({"check", "-"}, options);
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(tarn::testing::last_line(failed.err),
            "Parse error: Error(Error { input: \" ()\", code: Tag })\n");
  EXPECT_EQ(failed.err.rfind("<stdin>:1:7: error: ", 0), 0u) << failed.err;

  options.stdin_text = "";  // a pipe closed at once is an empty script
  const ProcessResult empty = tarn_tool({"check", "-"}, options);
  EXPECT_EQ(empty.status, 0) << empty.err;
  EXPECT_EQ(empty.out, "");
}

TEST(CommandLine, HelpAndVersion) {
  const ProcessResult version = tarn_tool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("tarn ", 0), 0u) << version.out;

  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--help"}, {"check", "--help"}, {"run", "--help"}}) {
    SCOPED_TRACE(arguments.back() + " " + arguments.front());
    const ProcessResult help = tarn_tool(arguments);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage"), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");
  }
}

TEST(CommandLine, UsageErrorsExitWithTwo) {
  const std::vector<std::string> cases[] = {
      {},
      {"frobnicate"},
      {"check"},
      {"check", "--bogus", "a.tarn"},
      {"check", "-", "-"},
      {"check", "a.tarn", "--format=xml"},
      {"run"},
      {"run", "a.tarn", "--fuel=1", "--fuel=2"},
      {"run", "a.tarn", "--payload=1", "--payload", "2"},
      {"--nope"},
  };
  for (const std::vector<std::string>& arguments : cases) {
    std::string joined;
    for (const std::string& argument : arguments) joined += argument + " ";
    SCOPED_TRACE(joined);
    const ProcessResult result = tarn_tool(arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err, "");
  }
}

TEST_F(Check, ClosedStandardOutputIsAFailure) {
  ProcessOptions options;
  options.close_stdout = true;
  const ProcessResult result = tarn_tool({"check", script("ok.tarn", "report()\n")}, options);
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("failed printing to stdout"), std::string::npos) << result.err;
}

}  // namespace
