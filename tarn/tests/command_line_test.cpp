// The tool's command line and the forms of its diagnostics, end to end: option values joined with
// "=", subcommand names, a terminal on standard error, the JSON, SARIF and trace outputs.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace {

using tarn::testing::ProcessOptions;
using tarn::testing::ProcessResult;
using tarn::testing::ScratchDir;

ProcessResult tarn_in(const ScratchDir& dir, const std::vector<std::string>& arguments,
                      ProcessOptions options = {}) {
  options.working_directory = dir.path();
  return tarn::testing::run_process(tarn::testing::tool_path("tarn"), arguments, options);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A value is joined to its option with "="; an empty one is empty, and the next argument stays
// a positional one.
TEST(Options, ValuesAreJoinedWithEquals) {
  ScratchDir dir;
  dir.write("r.tarn", "residual()\n");
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string out;  // a part of standard output
  };
  const Case cases[] = {
      {{"run", "r.tarn", "--values=7"}, 0, "\"values\": [\n    7.0\n  ]"},
      {{"run", "r.tarn", "--values="}, 0, "\"values\": []"},
      {{"run", "--values=", "r.tarn"}, 0, "\"values\": []"},
      {{"run", "r.tarn", "--values=", "7"}, 2, ""},  // 7 is a second FILE
      {{"run", "--values=", "7"}, 1, ""},            // 7 is the FILE, which does not exist
      {{"run", "r.tarn", "--fuel=", "1"}, 2, ""},
      {{"run", "r.tarn", "--fuel", "1"}, 2, ""},
      {{"run", "r.tarn", "--values", "7"}, 2, ""},
      {{"run", "r.tarn", "--trace=", "x"}, 2, ""},
      {{"check", "r.tarn", "--format"}, 2, ""},
      {{"run", "r.tarn", "--fuel=1", "--fuel=1"}, 2, ""},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& argument : c.arguments) joined += argument + " ";
    SCOPED_TRACE(joined);
    const ProcessResult result = tarn_in(dir, c.arguments);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_TRUE(contains(result.out, c.out)) << result.out;
  }
}

TEST(Options, SubcommandsAndHelp) {
  ScratchDir dir;
  const ProcessResult unknown = tarn_in(dir, {"chek", "x.tarn"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err,
            "tarn: unknown subcommand 'chek'; did you mean 'check'? (see tarn --help)\n");
  EXPECT_EQ(tarn_in(dir, {"help"}).out, tarn_in(dir, {"--help"}).out);
  const ProcessResult help = tarn_in(dir, {"help", "run"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, tarn_in(dir, {"run", "--help"}).out);
  EXPECT_TRUE(contains(help.out, "--fuel=N")) << help.out;
}

// Names from a script reach standard error; on a terminal their control characters are shown
// escaped, elsewhere the bytes stay as they are.
TEST(Terminal, ControlCharactersAreEscapedOnATerminal) {
  ScratchDir dir;
  dir.write("s.tarn", "assert_bounds(0, 1, \"\x1b[2J\")\n");
  const ProcessResult piped = tarn_in(dir, {"run", "s.tarn"});
  EXPECT_EQ(piped.status, 1);
  EXPECT_EQ(tarn::testing::last_line(piped.err), "AssertBounds: Unknown alias '\x1b[2J'\n");

  if (::access("/dev/ptmx", R_OK | W_OK) != 0) GTEST_SKIP() << "no pseudo-terminals here";
  ProcessOptions options;
  options.stderr_terminal = true;
  const ProcessResult shown = tarn_in(dir, {"run", "s.tarn"}, options);
  EXPECT_EQ(shown.status, 1);
  EXPECT_EQ(shown.err.find('\x1b'), std::string::npos) << shown.err;
  EXPECT_EQ(tarn::testing::last_line(shown.err), "AssertBounds: Unknown alias '\\u{1b}[2J'\n");
}

TEST(CheckForms, SeveralFilesWarningsAndForms) {
  ScratchDir dir;
  dir.write("a.tarn", "alias(0, \"reserve\")\nassert_bounds(0, 1, \"reserv\")\n");
  dir.write("b.tarn", "report()\n");
  const ProcessResult text = tarn_in(dir, {"check", "a.tarn", "b.tarn"});
  EXPECT_EQ(text.status, 0);
  EXPECT_EQ(text.out,
            "==> a.tarn <==\nAlias(0, \"reserve\")\nAssertBoundsNamed(0.0, 1.0, \"reserv\")\n"
            "==> b.tarn <==\nReport\n");
  EXPECT_EQ(text.err.rfind("a.tarn:2:21: warning: ", 0), 0u) << text.err;
  EXPECT_EQ(tarn_in(dir, {"check", "a.tarn", "--deny-warnings"}).status, 1);

  const ProcessResult json = tarn_in(dir, {"check", "a.tarn", "b.tarn", "--format=json"});
  EXPECT_EQ(json.status, 0);
  EXPECT_EQ(json.err, "");
  const auto document = nlohmann::json::parse(json.out);
  ASSERT_EQ(document["diagnostics"].size(), 1u);
  EXPECT_EQ(document["diagnostics"][0]["code"], "unknown-alias");
  EXPECT_EQ(document["diagnostics"][0]["engine_text"], nullptr);

  dir.write("c.tarn", "report ()\n");
  const ProcessResult sarif = tarn_in(dir, {"check", "c.tarn", "--format=sarif"});
  EXPECT_EQ(sarif.status, 1);
  EXPECT_EQ(sarif.err, "Parse error: Error(Error { input: \" ()\\n\", code: Tag })\n");
  const auto log = nlohmann::json::parse(sarif.out);
  EXPECT_EQ(log["runs"][0]["results"][0]["level"], "error");
}

TEST(RunForms, JsonFormAndTraceLines) {
  ScratchDir dir;
  dir.write("ctx.json", R"({"amount": 250})");
  dir.write("p.tarn", "alias(0, \"amount\")\nbind_all()\nassert_bounds(0, 200, \"amount\")\n");
  const ProcessResult failed =
      tarn_in(dir, {"run", "p.tarn", "--context=ctx.json", "--format=json",
                    "--trace=jsonl:trace.jsonl"});
  EXPECT_EQ(failed.status, 1);
  const auto document = nlohmann::json::parse(failed.out);
  EXPECT_EQ(document["diagnostics"][0]["line"], 3);
  EXPECT_EQ(document["diagnostics"][0]["code"], "bounds-assertion");

  std::istringstream lines(tarn::testing::read_file(dir.file("trace.jsonl")));
  std::vector<nlohmann::json> objects;
  for (std::string line; std::getline(lines, line);) objects.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(objects.size(), 4u);
  EXPECT_EQ(objects[1]["bindings"][0]["value"], 250.0);
  EXPECT_EQ(objects[2]["error"], "Bounds assertion failed for 'amount' (index 0): value 250 not "
                                 "in [0, 200]");
  EXPECT_EQ(objects[3]["kind"], "end");
  EXPECT_EQ(objects[3]["decision"], nullptr);
}

}  // namespace
