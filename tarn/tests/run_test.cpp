// `tarn run` as a process: the result document, the options and their usage errors, run errors,
// read failures and report files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tarn/testing/process.hpp"

namespace {

using tarn::testing::ProcessResult;

class ScratchDir {
 public:
  ScratchDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("tarn-run-" + std::string(info->name()) + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() { std::filesystem::remove_all(path_); }
  std::string path() const { return path_.string(); }
  std::string write(const std::string& name, const std::string& text) const {
    const std::string file = (path_ / name).string();
    tarn::testing::write_file(file, text);
    return file;
  }

 private:
  std::filesystem::path path_;
};

/// Runs `tarn run` with the scratch directory as working directory.
ProcessResult tarn_run(const ScratchDir& dir, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "run");
  tarn::testing::ProcessOptions options;
  options.working_directory = dir.path();
  return tarn::testing::run_process(tarn::testing::tool_path("tarn"), arguments, options);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(TarnRun, ResultDocument) {
  ScratchDir dir;
  dir.write("report.txt", "report()\n");
  const ProcessResult result = tarn_run(dir, {"report.txt"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, R"json({
  "budget_limit": null,
  "decision": "ALLOW",
  "escalation": null,
  "executed_commands": [
    "Report"
  ],
  "fuel_used": 1,
  "healed_indices": [],
  "identity": null,
  "last_healed": null,
  "lineage": null,
  "max_exposure": null,
  "pass": true,
  "replay_hash": null,
  "report_path": null,
  "report_text": "Final Residual: 0.000000, Pass: true",
  "residual": 0.0,
  "residual_log": [],
  "revealed": null,
  "signature": null,
  "time_window": null,
  "values": [
    125.87469806587123,
    101.0,
    99.0,
    74.12530193412877
  ],
  "volatility_limit": null,
  "zk_proof": null
}
)json");
}

TEST(TarnRun, EveryMemberFilled) {
  ScratchDir dir;
  dir.write(
      "all.txt",
      "if_broken { evolve(1) }\ndata(0)\nresidual()\nbudget_limit(5)\ntime_window(3)\n"
      "volatility_limit(0.25)\nmax_exposure(1e20)\nlink_identity(\"me\")\nescalate(\"why\")\n"
      "generate_zk_proof(true)\ntrack_lineage(true)\nreport_json()\nreport_to(\"out.json\")\n");
  const ProcessResult result = tarn_run(dir, {"all.txt", "--corrupt-index=1"});
  ASSERT_EQ(result.status, 0) << result.err;
  for (const std::string member :
       {R"("budget_limit": 5.0,)",
        R"("decision": "ESCALATE",)",
        R"("escalation": "why",)",
        R"("fuel_used": 24,)",
        "\"healed_indices\": [\n    1\n  ],",
        R"("identity": "me",)",
        R"("last_healed": 1,)",
        R"("max_exposure": 1e20,)",
        R"("pass": true,)",
        R"("replay_hash": "hash_0",)",
        R"("report_path": "out.json",)",
        R"("revealed": 1337.0000000000018,)",
        R"("signature": "qrv-sha256:generated_tdo_sig_placeholder",)",
        R"("time_window": 3,)",
        R"("volatility_limit": 0.25,)",
        R"("zk_proof": "zk:disabled_rebuild_with_--features_zk")",
        "\"residual_log\": [\n    0.0\n  ],",
        "\"lineage\": {\n    \"executed_commands\": [\n",
        "      \"Branch([Evolve(1)])\",\n      \"Evolve(1)\",\n",
        "    \"gate_state\": \"ESCALATE\",\n    \"identity\": \"me\"\n  },",
        "\"report_text\": \"{\\n  \\\"escalate_reason\\\": \\\"why\\\",\\n"}) {
    EXPECT_TRUE(contains(result.out, member)) << member << "\n" << result.out;
  }
  const std::string report = tarn::testing::read_file(dir.path() + "/out.json");
  EXPECT_TRUE(contains(report, "  \"gate_state\": \"ESCALATE\",\n")) << report;
  EXPECT_EQ(report.back(), '}');
}

TEST(TarnRun, MemoryOptions) {
  ScratchDir dir;
  dir.write("r.txt", "residual()\n");
  struct Case {
    std::vector<std::string> options;
    std::string residual_log;  // the "residual_log" member
    std::string values;        // the "values" member
  };
  const Case cases[] = {
      {{"--payload=0"}, "[\n    0.0\n  ]", "[\n    101.0,\n    101.0,\n    99.0,\n    99.0\n  ]"},
      {{"--values=1,2.5", "--signs=1,1"}, "[\n    3.5\n  ]", "[\n    1.0,\n    2.5\n  ]"},
      {{"--values=", "--signs="}, "[\n    -0.0\n  ]", "[]"},
      {{"--values=nan,INF,Infinity,1.e2,.5,-2E1"},
       "[\n    null\n  ]",
       "[\n    null,\n    null,\n    null,\n    100.0,\n    0.5,\n    -20.0\n  ]"},
      {{"--signs=-128,127", "--values=1,1"}, "[\n    -1.0\n  ]", "[\n    1.0,\n    1.0\n  ]"},
      {{"--values=5,6", "--payload=-1", "--corrupt-index=1"},
       "[\n    5.0\n  ]",
       "[\n    5.0,\n    0.0\n  ]"},
      // Without payload guards: a negative payload encodes NaN values.
      {{"--payload=-3"}, "[\n    null\n  ]", "[\n    null,\n    101.0,\n    99.0,\n    null\n  ]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options.front());
    std::vector<std::string> arguments{"r.txt"};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    const ProcessResult result = tarn_run(dir, arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(contains(result.out, "\"residual_log\": " + c.residual_log + ",\n")) << result.out;
    EXPECT_TRUE(contains(result.out, "\"values\": " + c.values + ",\n")) << result.out;
  }
}

TEST(TarnRun, ContextDocument) {
  ScratchDir dir;
  dir.write("ctx.json", R"({"a": 5, "big": 9007199254740993, "f": 0.5, "s": "7"})");
  dir.write("bind.txt", "bind(\"a\", 0)\nbind(\"big\", 1)\nalias(2, \"f\")\nbind_all()\n");
  const ProcessResult result = tarn_run(dir, {"bind.txt", "--context=ctx.json"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(contains(
      result.out,
      "\"values\": [\n    5.0,\n    9007199254740992.0,\n    0.5,\n    74.12530193412877\n  ]"))
      << result.out;

  dir.write("bad.txt", "bind(\"s\", 0)\n");
  const ProcessResult failed = tarn_run(dir, {"bad.txt", "--context=ctx.json"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(tarn::testing::last_line(failed.err),
            "Bind failed: key 's' not found in context or not a number\n");
}

TEST(TarnRun, Fuel) {
  ScratchDir dir;
  dir.write("two.txt", "evolve(0)\nreport()\n");
  const ProcessResult enough = tarn_run(dir, {"two.txt", "--fuel=12"});
  EXPECT_EQ(enough.status, 0);
  EXPECT_TRUE(contains(enough.out, "\"fuel_used\": 12,")) << enough.out;
  const ProcessResult short_by_one = tarn_run(dir, {"two.txt", "--fuel=11"});
  EXPECT_EQ(short_by_one.status, 1);
  EXPECT_EQ(short_by_one.out, "");
  EXPECT_EQ(tarn::testing::last_line(short_by_one.err), "Out of fuel (Gas limit exceeded)\n");
  EXPECT_EQ(short_by_one.err.rfind("two.txt:2:1: error: out of fuel", 0), 0u) << short_by_one.err;
}

TEST(TarnRun, RunAndReadErrors) {
  ScratchDir dir;
  const std::string self = dir.write("self.txt", "import(\"self.txt\")\n");
  dir.write("parse.txt", "foo(1)\n");
  dir.write("refused.txt",
            "corrupt(1)\nreport_to(\"never.txt\")\nreport()\nassert_bounds(1, 2, 1)\n");
  struct Case {
    std::string file;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {"self.txt", 1, "Out of fuel (Gas limit exceeded)\n"},
      {"parse.txt", 1, "Parse error: Error(Error { input: \"foo\", code: Tag })\n"},
      // No "corrupt" refusal here: the script runs and fails on its own.
      {"refused.txt", 1, "Bounds assertion failed at index 1: value 0 not in [1, 2]\n"},
      {"missing.txt", 1, "tarn: cannot read 'missing.txt': No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const ProcessResult result = tarn_run(dir, {c.file});
    EXPECT_EQ(result.status, c.status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(tarn::testing::last_line(result.err), c.err);
  }
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/never.txt"));
}

TEST(TarnRun, DashReadsStandardInput) {
  ScratchDir dir;
  tarn::testing::ProcessOptions options;
  options.working_directory = dir.path();
  options.stdin_text = "residual()\n";
  const ProcessResult result =
      tarn::testing::run_process(tarn::testing::tool_path("tarn"), {"run", "-"}, options);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(contains(result.out, "\"executed_commands\": [\n    \"Residual(0.0)\"\n  ],"))
      << result.out;
}

TEST(TarnRun, UsageErrors) {
  ScratchDir dir;
  dir.write("r.txt", "report()\n");
  dir.write("bad.json", "{\"a\": }");
  const std::vector<std::string> cases[] = {
      {"--payload=abc"},
      {"--payload= 1"},
      {"--fuel=-1"},
      {"--fuel=1.5"},
      {"--fuel="},
      {"--corrupt-index=4"},
      {"--corrupt-index=x"},
      {"--values=1,2", "--corrupt-index=2"},
      {"--signs=128"},
      {"--signs=1,,1"},
      {"--signs=1.0"},
      {"--values=-inf"},
      {"--values=1e"},
      {"--values=1, 2"},
      {"--context=missing.json"},
      {"--context=bad.json"},
      {"--unknown=1"},
      {"--fuel=1", "--fuel=2"},
  };
  for (const auto& options : cases) {
    SCOPED_TRACE(options.back());
    std::vector<std::string> arguments{"r.txt"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    const ProcessResult result = tarn_run(dir, arguments);
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err, "");
  }
}

TEST(TarnRun, ReportFiles) {
  ScratchDir dir;
  dir.write("out.txt", "an older and longer report");
  dir.write("write.txt", "report_to(\"out.txt\")\nreport()\n");
  const ProcessResult written = tarn_run(dir, {"write.txt"});
  ASSERT_EQ(written.status, 0);
  EXPECT_EQ(tarn::testing::read_file(dir.path() + "/out.txt"),
            "Final Residual: 0.000000, Pass: true");
  EXPECT_TRUE(contains(written.out, R"("report_path": "out.txt",)"));

  dir.write("nodir.txt", "report_to(\"no/such/dir.txt\")\nreport()\n");
  const ProcessResult ignored = tarn_run(dir, {"nodir.txt"});
  EXPECT_EQ(ignored.status, 0);
  EXPECT_TRUE(contains(ignored.out, R"("report_path": "no/such/dir.txt",)"));

  dir.write("quiet.txt", "report_to(\"quiet.out\")\n");
  const ProcessResult quiet = tarn_run(dir, {"quiet.txt"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_TRUE(contains(quiet.out, R"("report_path": null,)"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/quiet.out"));
}

}  // namespace
