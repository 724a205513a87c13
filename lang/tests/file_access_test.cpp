// Which files a run reaches: names confined beneath a root (by the kernel and by the walk), texts
// in memory, no files, names holding NUL, report files replaced whole, and imports reused while
// their files are unchanged.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>

#include "file_system.hpp"
#include "tarn/lang/file_access.hpp"
#include "tarn/lang/policy.hpp"
#include "tarn/lang/runner.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"
#include "memory_fixture.hpp"

namespace tarn::lang {
namespace {

using tarn::testing::ScratchDir;
using namespace std::string_literals;

// The error of the run of `script` with `files`, or "" when it succeeds.
std::string run_error(const std::string& script, const FileAccess& files,
                      std::uint64_t import_limit = kScriptTextLimit) {
  const auto policy = compile(script, "p.tarn");
  EXPECT_TRUE(policy.has_value()) << script;
  Memory memory;
  const auto run = evaluate(*policy, RunMemory{memory.signs, memory.values}, nullptr,
                            RunOptions{.open_import_text_limit = import_limit, .files = &files});
  return run ? "" : run.error().message;
}

std::size_t entries_in(const std::string& dir) {
  const std::filesystem::directory_iterator entries(dir);
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// A root with files and links inside, and a secret beside it.
struct RootFixture {
  ScratchDir dir;
  std::string root = dir.make_dir("root");
  RootFixture() {
    dir.write("secret.txt", "secret");
    dir.make_dir("root/sub");
    dir.write("root/inside.tarn", "report()\n");
    dir.write("root/sub/inner.tarn", "residual()\n");
    std::filesystem::create_symlink("../secret.txt", root + "/out-link");
    std::filesystem::create_symlink(dir.file("secret.txt"), root + "/abs-link");
    std::filesystem::create_symlink("sub/inner.tarn", root + "/in-link");
    std::filesystem::create_symlink("../inside.tarn", root + "/sub/up-link");
    std::filesystem::create_symlink("sub", root + "/sub-link");
    std::filesystem::create_symlink("loop", root + "/loop");
  }
};

TEST(ConfinedNames, ResolveBeneathTheRootOnly) {
  const RootFixture fixture;
  const std::string& root = fixture.root;
  struct Case {
    std::string name;
    std::string opens;  // the file it opens, beneath the root ("" for an error)
    int error = 0;
  };
  const Case cases[] = {
      {"inside.tarn", "inside.tarn"},
      {"./sub//inner.tarn", "sub/inner.tarn"},
      {"sub/../inside.tarn", "inside.tarn"},
      {"in-link", "sub/inner.tarn"},
      {"sub/up-link", "inside.tarn"},
      {"sub-link/../inside.tarn", "inside.tarn"},
      {".", "."},
      {"sub/", "sub"},
      {fixture.dir.file("secret.txt"), "", EXDEV},
      {"../secret.txt", "", EXDEV},
      {"sub/../../secret.txt", "", EXDEV},
      {"sub-link/../../secret.txt", "", EXDEV},
      {"out-link", "", EXDEV},
      {"abs-link", "", EXDEV},
      {"missing.tarn", "", ENOENT},
      {"", "", ENOENT},
      {"inside.tarn/", "", ENOTDIR},
      {"loop", "", ELOOP},
  };
  const detail::FileDescriptor root_fd(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  for (const detail::Resolution resolution :
       {detail::Resolution::Kernel, detail::Resolution::Walk}) {
    for (const Case& c : cases) {
      SCOPED_TRACE((resolution == detail::Resolution::Kernel ? "kernel: "s : "walk: "s) + c.name);
      const detail::FileDescriptor fd(
          detail::open_name({root_fd.get(), true, resolution}, c.name, O_RDONLY | O_CLOEXEC));
      const int error = errno;
      if (c.error != 0) {
        EXPECT_LT(fd.get(), 0);
        EXPECT_EQ(error, c.error) << std::strerror(error);
        continue;
      }
      ASSERT_GE(fd.get(), 0) << std::strerror(error);
      struct stat opened {};
      struct stat expected {};
      ASSERT_EQ(::fstat(fd.get(), &opened), 0);
      ASSERT_EQ(::stat((root + "/" + c.opens).c_str(), &expected), 0);
      EXPECT_EQ(opened.st_ino, expected.st_ino);
    }
  }
}

TEST(ConfinedFiles, RefuseWhatLeadsOutAndFollowWhatStaysIn) {
  const RootFixture fixture;
  const auto files = ConfinedFiles::open(fixture.root);
  ASSERT_TRUE(files.has_value());
  EXPECT_EQ(run_error("import(\"../secret.txt\")", *files),
            "Import failed for '../secret.txt': outside the policy root");
  EXPECT_EQ(run_error("import(\"missing.tarn\")", *files),
            "Import failed for 'missing.tarn': No such file or directory");
  EXPECT_EQ(run_error("import(\"sub/up-link\")", *files), "");

  for (const std::string escape : {"../escaped.txt", "out-link", "sub/../../escaped.txt"}) {
    SCOPED_TRACE(escape);
    EXPECT_FALSE(files->write_report(escape, "report"));
  }
  EXPECT_EQ(testing::read_file(fixture.dir.file("secret.txt")), "secret");
  EXPECT_FALSE(std::filesystem::exists(fixture.dir.file("escaped.txt")));
  // A link that stays inside keeps pointing at the report it names.
  EXPECT_TRUE(files->write_report("in-link", "report"));
  EXPECT_TRUE(std::filesystem::is_symlink(fixture.root + "/in-link"));
  EXPECT_EQ(testing::read_file(fixture.root + "/sub/inner.tarn"), "report");

  EXPECT_EQ(ConfinedFiles::open(fixture.dir.file("secret.txt")).error().reason,
            "Not a directory");
}

TEST(MemoryAndNoFiles, ImportsAndReports) {
  const MemoryFiles memory_files({{"shared.tarn", "alias(1, \"inflow\")\n"},
                                  {"latin1.tarn", "// caf\xe9\n"}});
  const auto policy = compile("import(\"shared.tarn\")\nreport_to(\"r.txt\")\nreport()", "p");
  ASSERT_TRUE(policy.has_value());
  Memory memory;
  const auto run = evaluate(*policy, RunMemory{memory.signs, memory.values}, nullptr,
                            RunOptions{.files = &memory_files});
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->report_text, "Final Residual: 0.000000, Pass: true");
  EXPECT_EQ(run->report_path, "r.txt");
  EXPECT_FALSE(std::filesystem::exists("r.txt"));  // kept in the run state only

  const NoFiles no_files;
  struct Case {
    const FileAccess& files;
    std::string name;
    std::string error;
  };
  const Case cases[] = {
      {memory_files, "./shared.tarn",
       "Import failed for './shared.tarn': No such file or directory"},
      {memory_files, "latin1.tarn",
       "Import failed for 'latin1.tarn': stream did not contain valid UTF-8"},
      {no_files, "shared.tarn", "Import failed for 'shared.tarn': no file access is allowed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(run_error("import(\"" + c.name + "\")", c.files), c.error);
  }
  EXPECT_FALSE(no_files.write_report("r.txt", "report"));
}

// The platform would open a name cut at its NUL byte: "victim.txt\0.harmless" as "victim.txt".
TEST(FileNames, NulNamesNoFile) {
  const ScratchDir dir;
  const std::string included = dir.write("inc.tarn", "report()\n");
  const std::string victim = dir.file("victim.txt");
  const WorkingDirectoryFiles working_directory;
  const auto confined = ConfinedFiles::open(dir.path());
  const MemoryFiles in_memory({{"inc.tarn", "report()\n"}});
  for (const FileAccess* files : {static_cast<const FileAccess*>(&working_directory),
                                  static_cast<const FileAccess*>(&*confined),
                                  static_cast<const FileAccess*>(&in_memory)}) {
    EXPECT_EQ(files->read("inc.tarn\0/../x"s).error().reason, "file name contains a NUL byte");
    EXPECT_FALSE(files->write_report(victim + "\0.harmless"s, "report"));
    EXPECT_FALSE(files->write_report("victim.txt\0.harmless"s, "report"));
  }
  EXPECT_FALSE(std::filesystem::exists(victim));
  EXPECT_EQ(read_text_file(included + "\0/../../x"s).error().reason,
            "file name contains a NUL byte");

  // The run error names the path, its NUL written \0; a report target with one is not written.
  Memory memory;
  const auto imported = run_script(memory.signs, memory.values, nullptr,
                                   "import(\"" + included + "\0/../../x\")"s, kDefaultFuel);
  ASSERT_FALSE(imported.has_value());
  EXPECT_EQ(imported.error().message,
            "Import failed for '" + included + "\\0/../../x': file name contains a NUL byte");
  const auto reported = run_script(memory.signs, memory.values, nullptr,
                                   "report()\nreport_to(\"" + victim + "\0.harmless\")"s,
                                   kDefaultFuel);
  ASSERT_TRUE(reported.has_value());
  EXPECT_FALSE(std::filesystem::exists(victim));
}

TEST(ReportFile, ReplacedWholeOrNotAtAll) {
  const ScratchDir dir;
  const std::string report = dir.write("report.txt", "old report");
  ASSERT_EQ(::chmod(report.c_str(), 0640), 0);
  std::filesystem::create_symlink("report.txt", dir.file("link.txt"));
  const WorkingDirectoryFiles files;

  // Through the link: the link stays and the file it names holds the report, with its bits.
  ASSERT_TRUE(files.write_report(dir.file("link.txt"), "new report"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.txt")));
  EXPECT_EQ(testing::read_file(report), "new report");
  struct stat status {};
  ASSERT_EQ(::stat(report.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0640U);
  EXPECT_TRUE(files.write_report("/dev/null", "to a device, in place"));

  // A write that fails half way (here at a file-size limit, as on a full disk) leaves the old
  // report as it was, and no temporary file behind.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{4, 4};
    ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &limit);
    _exit(files.write_report(report, "a report longer than four bytes") ? 1 : 0);
  }
  int status_code = 0;
  ASSERT_EQ(::waitpid(child, &status_code, 0), child);
  EXPECT_TRUE(WIFEXITED(status_code) && WEXITSTATUS(status_code) == 0) << "the write succeeded";
  EXPECT_EQ(testing::read_file(report), "new report");
  EXPECT_EQ(entries_in(dir.path()), 2U);
}

// A host's files whose texts change when the name "change" is read, counting reads.
class ChangingFiles final : public FileAccess {
 public:
  mutable int reads = 0;

 private:
  Result<FileText, ReadError> read_file(const std::string& name, std::size_t) const override {
    if (name == "change") {
      version_ += 1;
      return FileText{SourceText(std::string()), std::nullopt};
    }
    reads += 1;
    return FileText{SourceText(text()), stamp_file(name)};
  }
  std::optional<FileStamp> stamp_file(const std::string&) const override {
    return FileStamp{.size = text().size(), .modified_ns = version_};
  }
  bool write_file(const std::string&, std::string_view) const override { return false; }
  std::string text() const { return "link_identity(\"v" + std::to_string(version_) + "\")\n"; }

  mutable int version_ = 1;
};

TEST(Imports, ReusedWhileUnchangedAndReadAnewOnceChanged) {
  const ChangingFiles files;
  const auto policy = compile(
      "import(\"a\")\nimport(\"a\")\nimport(\"a\")\nimport(\"change\")\nimport(\"a\")", "p");
  ASSERT_TRUE(policy.has_value());
  Memory memory;
  const auto run = evaluate(*policy, RunMemory{memory.signs, memory.values}, nullptr,
                            RunOptions{.files = &files});
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(files.reads, 2);
  EXPECT_EQ(run->executed_commands.text(5), "LinkIdentity(\"v1\")");
  EXPECT_EQ(run->executed_commands.text(8), "LinkIdentity(\"v2\")");

  // A regular file: its stamp is the one of the text read, and changes with it.
  const ScratchDir dir;
  const std::string path = dir.write("f.tarn", "report()\n");
  const WorkingDirectoryFiles working_directory;
  const std::optional<FileStamp> before = working_directory.stamp(path);
  EXPECT_EQ(before, working_directory.read(path)->stamp);
  testing::write_file(path, "report()\nreport()\n");
  EXPECT_NE(working_directory.stamp(path), before);
  EXPECT_EQ(working_directory.stamp(path), working_directory.read(path)->stamp);
  EXPECT_EQ(working_directory.stamp("/dev/null"), std::nullopt);
}

// Texts kept between imports yield to a new one past the budget; a text let go comes back when
// an error must be located in it.
TEST(Imports, TextLetGoIsReadAgainToLocateAnError) {
  const MemoryFiles files({{"a", "residual()\nif_broken { assert_bounds(0, 1, 0) }\n"},
                           {"b", "corrupt(1)\n"}});
  const auto policy = compile("import(\"a\")\nimport(\"b\")\nimport(\"a\")", "p");
  ASSERT_TRUE(policy.has_value());
  Memory memory;
  const auto run = evaluate(*policy, RunMemory{memory.signs, memory.values}, nullptr,
                            RunOptions{.open_import_text_limit = 50, .files = &files});
  ASSERT_FALSE(run.has_value());
  ASSERT_TRUE(run.error().location.has_value());
  EXPECT_EQ(run.error().location->file, "a");
  EXPECT_EQ(run.error().location->line, 2U);
  EXPECT_EQ(run.error().location->column, 13U);
}

}  // namespace
}  // namespace tarn::lang
