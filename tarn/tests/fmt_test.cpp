// `tarn fmt` as a process: printing, --check, --diff, the located error of a file that does not
// parse, and -w (in place, atomically, modes kept, formatted files and links left alone).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace {

namespace fs = std::filesystem;
using tarn::testing::ProcessResult;
using tarn::testing::ScratchDir;

constexpr char kMessy[] = "alias(1,\"inflow\")   // name it\nif_broken{evolve(1)}\n";
constexpr char kTidy[] = "alias(1, \"inflow\") // name it\nif_broken {\n  evolve(1)\n}\n";

ProcessResult tarn_fmt(const ScratchDir& dir, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "fmt");
  tarn::testing::ProcessOptions options;
  options.working_directory = dir.path();
  return tarn::testing::run_process(tarn::testing::tool_path("tarn"), arguments, options);
}

TEST(TarnFmt, PrintsChecksAndDiffs) {
  ScratchDir dir;
  dir.write("messy.tarn", kMessy);
  dir.write("tidy.tarn", kTidy);

  const ProcessResult print = tarn_fmt(dir, {"messy.tarn", "tidy.tarn"});
  EXPECT_EQ(print.status, 0) << print.err;
  EXPECT_EQ(print.out, std::string(kTidy) + kTidy);

  const ProcessResult check = tarn_fmt(dir, {"--check", "tidy.tarn", "messy.tarn"});
  EXPECT_EQ(check.status, 1);
  EXPECT_EQ(check.out, "messy.tarn\n");
  EXPECT_EQ(tarn_fmt(dir, {"--check", "tidy.tarn"}).status, 0);

  const ProcessResult diff = tarn_fmt(dir, {"--diff", "messy.tarn", "tidy.tarn"});
  EXPECT_EQ(diff.status, 0);
  EXPECT_EQ(diff.out,
            "--- messy.tarn\n+++ messy.tarn\n@@ -1,2 +1,4 @@\n"
            "-alias(1,\"inflow\")   // name it\n-if_broken{evolve(1)}\n"
            "+alias(1, \"inflow\") // name it\n+if_broken {\n+  evolve(1)\n+}\n");

  tarn::testing::ProcessOptions stdin_options;
  stdin_options.stdin_text = "report( )";
  const ProcessResult broken = tarn::testing::run_process(tarn::testing::tool_path("tarn"),
                                                          {"fmt", "-"}, stdin_options);
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out, "");
  EXPECT_EQ(broken.err, "<stdin>:1:8: error: Error(Error { input: \" )\", code: Tag })\n");
}

TEST(TarnFmt, WriteReplacesOnlyWhatChanges) {
  ScratchDir dir;
  const std::string messy = dir.write("messy.tarn", kMessy);
  const std::string tidy = dir.write("tidy.tarn", kTidy);
  const std::string broken = dir.write("broken.tarn", "report( )\n");
  fs::create_symlink("messy.tarn", dir.file("link.tarn"));
  fs::permissions(messy, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  const auto long_ago = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(tidy, long_ago);
  fs::last_write_time(broken, long_ago);

  const ProcessResult write = tarn_fmt(dir, {"-w", "link.tarn", "tidy.tarn", "broken.tarn"});
  EXPECT_EQ(write.status, 1);
  EXPECT_EQ(write.out, "");
  EXPECT_EQ(write.err.rfind("broken.tarn:1:8: error: ", 0), 0U) << write.err;

  EXPECT_EQ(tarn::testing::read_file(messy), kTidy);
  EXPECT_TRUE(fs::is_symlink(dir.file("link.tarn")));
  EXPECT_EQ(fs::status(messy).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::last_write_time(tidy), long_ago);
  EXPECT_EQ(fs::last_write_time(broken), long_ago);
  EXPECT_EQ(tarn::testing::read_file(broken), "report( )\n");
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}

TEST(TarnFmt, UsageErrors) {
  ScratchDir dir;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{}, {"-w", "-"}, {"-w", "--check", "a.tarn"}}) {
    EXPECT_EQ(tarn_fmt(dir, arguments).status, 2);
  }
}

}  // namespace
