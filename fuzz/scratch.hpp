// The fuzz targets' sandbox: a private scratch directory that becomes the working directory, a
// few fixture files in it, and the test that keeps every path a script names inside it.
//
// Scripts resolve relative paths against the working directory, so a relative path without a
// ".." component and without a NUL byte (which would cut the path short at the system call)
// cannot leave the scratch directory: nothing in it is a link. Absolute paths could read
// devices such as /dev/zero or overwrite the user's files, so inputs naming one are skipped.
// The fixtures give imports and --script= something real to read: a plain script, one that
// imports itself, a lineage report, invalid UTF-8, a parse error, a directory and a FIFO without
// a writer. None of them writes a file, so runs stay independent of each other.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "tarn/lang/instruction.hpp"

namespace tarn::fuzz {

struct Fixture {
  std::string_view name;
  std::string_view text;
};

inline constexpr Fixture kFixtures[] = {
    {"a", "residual()\nreport()\n"},
    {"self", "residual()\nimport(\"self\")\n"},
    {"heal", "if_broken {\n  evolve(1)\n}\nreport()\n"},
    {"lineage",
     "track_lineage(true)\nreport_json()\nalias(0, \"x\")\nif_greater_than(\"x\", 0) {\n"
     "  escalate(\"high\")\n}\nlink_identity(\"id\")\nreport_to(\"missing/out.json\")\n"},
    {"to_dir", "report()\nreport_to(\"dir\")\n"},
    {"refused", "// corrupt\nreport()\n"},
    {"bad", "report()\n\xff\xfe\n"},
    {"broken", "report(\n"},
};

/// Removes everything in the working directory and writes the fixtures again.
inline void reset_scratch() {
  namespace fs = std::filesystem;
  for (const auto& entry : fs::directory_iterator(fs::current_path())) fs::remove_all(entry.path());
  fs::create_directory("dir");
  if (::mkfifo("fifo", 0600) != 0) std::abort();  // no writer: reading it must fail, not wait
  for (const Fixture& fixture : kFixtures) {
    std::ofstream(std::string(fixture.name), std::ios::binary)
        .write(fixture.text.data(), static_cast<std::streamsize>(fixture.text.size()));
  }
}

/// Enters a fresh scratch directory with the fixtures, once per process; it is removed when the
/// process exits normally (a crash leaves it for inspection).
inline void enter_scratch_directory() {
  static const std::string path = [] {
    char pattern[] = "/tmp/tarn-fuzz-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr || ::chdir(dir) != 0) return std::string();
    reset_scratch();
    return std::string(dir);
  }();
  static const int registered = std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  });
  if (path.empty() || registered != 0) std::abort();
}

/// True when `path`, resolved against the scratch directory, names something inside it.
/// **Example**: "a", "dir/x", "missing/out.json" and "" stay inside; "/dev/zero", "../a" and
/// "dir/../../a" do not.
inline bool stays_inside(std::string_view path) {
  if (path.find('\0') != std::string_view::npos || path.starts_with('/')) return false;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    if (path.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

/// Whether every path a program names (imports and report targets, in bodies too) stays inside,
/// and whether it names a report target at all. Walks the bodies without recursion.
struct PathsNamed {
  bool inside = true;
  bool writes = false;
};

inline PathsNamed paths_named(const lang::Program& program) {
  PathsNamed named;
  std::vector<std::span<const lang::Instruction>> pending{program};
  while (!pending.empty()) {
    const std::span<const lang::Instruction> current = pending.back();
    pending.pop_back();
    for (const lang::Instruction& instruction : current) {
      if (const auto* import = std::get_if<lang::Import>(&instruction)) {
        named.inside = named.inside && stays_inside(import->path.view());
      } else if (const auto* target = std::get_if<lang::ReportTo>(&instruction)) {
        named.inside = named.inside && stays_inside(target->target.view());
        named.writes = true;
      } else if (const lang::Body* body = lang::body_of(instruction)) {
        pending.push_back(*body);
      }
    }
  }
  return named;
}

}  // namespace tarn::fuzz
