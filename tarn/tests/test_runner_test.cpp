// `tarn test` as a process: a test file of passing and failing cases against its golden output
// (with coverage), --run with --junit, --coverage=json, and test files that are refused.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace {

using tarn::testing::ProcessResult;
using tarn::testing::ScratchDir;

const std::string kData = std::string(TARN_TEST_DATA_DIR) + "/tests/data/runner";

ProcessResult tarn_test(const std::string& folder, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "test");
  tarn::testing::ProcessOptions options;
  options.working_directory = folder;
  return tarn::testing::run_process(tarn::testing::tool_path("tarn"), arguments, options);
}

/// Case times change from run to run.
std::string without_times(const std::string& text, const std::string& pattern, const char* mask) {
  return std::regex_replace(text, std::regex(pattern), mask);
}

TEST(TarnTest, CasesAgainstTheirGoldenOutput) {
  const ProcessResult result = tarn_test(kData, {"--coverage"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(without_times(result.out, R"(\(\d+\.\d\d ms\))", "(TIME)"),
            tarn::testing::read_file(kData + "/expected-output.txt"));
}

TEST(TarnTest, SelectedCasesAsJUnit) {
  ScratchDir dir;
  const ProcessResult result =
      tarn_test(kData, {"--run", "verifier", "--junit", dir.file("junit.xml"), "."});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out.substr(result.out.rfind('\n', result.out.size() - 2) + 1),
            "1 passed, 1 failed\n");
  EXPECT_EQ(
      without_times(tarn::testing::read_file(dir.file("junit.xml")), R"(time="[0-9.]+")", "time=\"T\""),
      R"xml(<?xml version="1.0" encoding="UTF-8"?>
<testsuites name="tarn test" tests="2" failures="1" time="T">
  <testsuite name="limits.test.toml" tests="2" failures="1" time="T">
    <testcase name="the verifier opens the gate" classname="limits.test.toml" time="T"/>
    <testcase name="the verifier&apos;s reason" classname="limits.test.toml" time="T">
      <failure message="verifier.reason: expected &quot;system_unreachable&quot;, got &quot;mathematical_drift_detected&quot;">verifier.reason: expected &quot;system_unreachable&quot;, got &quot;mathematical_drift_detected&quot;</failure>
    </testcase>
  </testsuite>
</testsuites>
)xml");
}

TEST(TarnTest, CoverageAsJson) {
  const ProcessResult result = tarn_test(kData, {"--coverage=json", "--run", "large"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, R"json({
  "files": [
    {
      "file": "limits.tarn",
      "not_started": [
        {
          "column": 3,
          "line": 8,
          "statement": "report()"
        }
      ],
      "share": 0.8333333333333334,
      "started": 5,
      "statements": 6
    }
  ]
}
)json");
  EXPECT_NE(result.err.find("1 passed, 0 failed\n"), std::string::npos) << result.err;
}

// A test file that cannot be used fails as a whole, at the place of its first problem.
TEST(TarnTest, RefusedTestFiles) {
  struct Case {
    std::string text;
    std::string message;  // after "FAIL t.test.toml:"
  };
  const Case cases[] = {
      {"script = \"p.tarn\"\n[[case]]\nname = \"a\"\nexpect.decison = \"ALLOW\"\n",
       "4:8: error: unknown key 'expect.decison' (expect names a member of the run result: "},
      {"scrpt = \"p.tarn\"\n", "1:1: error: unknown key 'scrpt'"},
      {"[[case]]\nname = \"a\"\nscript = \"p.tarn\"\npayload = \"many\"\n",
       "4:11: error: 'payload' must be a number"},
      {"[[case]]\nname = \"a\"\nexpect.verifier.state = \"OPEN\"\n",
       "3:17: error: unknown key 'expect.verifier.state'"},
      {"[[case]]\nname = \"a\"\n", "1:1: error: case 'a' names no script"},
      {"script = \"p.tarn\"\n[[case]]\nname = \"a\"\nexpect = 1\n", "4:10: error: 'expect' must be a table"},
      {"[[case]\n", "1:8: error: Error while parsing table header"},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    dir.write("t.test.toml", c.text);
    const ProcessResult result = tarn_test(dir.path(), {});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out.rfind("FAIL t.test.toml:" + c.message, 0), 0U) << result.out;
    EXPECT_TRUE(result.out.ends_with("\n0 passed, 1 failed\n")) << result.out;
  }
}

}  // namespace
