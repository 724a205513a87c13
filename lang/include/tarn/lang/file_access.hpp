// Which files a policy may touch: the host's choice.
//
// A policy names files in two places: import("...") reads a script text, report_to("...") names
// the file its report goes to. A run reaches both through one FileAccess, which the host puts in
// RunOptions::files. Four come with the library:
//
//   WorkingDirectoryFiles  names are paths, relative ones against the process's working
//                          directory (the default: qrv-verifier, `tarn run` without --root);
//   ConfinedFiles          names resolve beneath one folder and never leave it;
//   MemoryFiles            texts kept in memory by name; reports stay in the run state;
//   NoFiles                nothing can be imported and no report is written.
//
//   auto root = tarn::lang::ConfinedFiles::open("/srv/policies");
//   if (!root) { /* root.error().reason */ }
//   tarn::lang::RunOptions options{.files = &*root};
//   auto run = tarn::lang::evaluate(policy, {signs, values}, &context, options);
//
// One FileAccess may serve any number of runs on any number of threads at once: the provided ones
// change nothing when called, and a host's own must be as safe. A host writes its own by deriving
// from FileAccess and defining read_file, write_file and, if it can tell cheaply whether a text
// changed, stamp_file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "tarn/lang/limits.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/source_file.hpp"

namespace tarn::lang {

/// What tells one version of a file from another: two equal stamps of one name mean the same
/// text. For a file: its device, inode, size and modification time.
struct FileStamp {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

/// A text read whole, with the stamp of what was read (none when the text cannot be told apart
/// from a later one without reading it, as for a pipe or a device).
struct FileText {
  SourceText text;
  std::optional<FileStamp> stamp;
};

class FileAccess {
 public:
  virtual ~FileAccess() = default;

  /// Reads the text named `name` whole as UTF-8; more than `max_bytes` of it fails with
  /// `too_large`. A name that holds a NUL byte names no file.
  /// **Example**: read("missing.tarn").error().reason == "No such file or directory".
  Result<FileText, ReadError> read(const std::string& name,
                                   std::size_t max_bytes = kScriptTextLimit) const;
  /// The stamp of what `name` names now, without reading it; none when it cannot be told. An
  /// import whose stamp is unchanged reuses what it parsed before.
  std::optional<FileStamp> stamp(const std::string& name) const;
  /// Writes `text` as the report named `name`, whole or not at all; false when it was not
  /// written (the run ignores that).
  bool write_report(const std::string& name, std::string_view text) const;

 private:
  // The calls above check the name, then call these.
  virtual Result<FileText, ReadError> read_file(const std::string& name,
                                                std::size_t max_bytes) const = 0;
  virtual std::optional<FileStamp> stamp_file(const std::string&) const { return std::nullopt; }
  virtual bool write_file(const std::string& name, std::string_view text) const = 0;
};

/// Names are paths: relative ones resolve against the working directory, absolute ones and ".."
/// go anywhere the process may.
///
/// A report whose target is a regular file, or nothing yet, is written to a temporary file beside
/// the target and renamed over it, so that the target holds either the old report or the whole new
/// one, never a part (a symbolic link is followed first and keeps pointing at the report; an
/// existing file keeps its permission bits). Any other target, such as /dev/null or a FIFO that
/// a process reads, is written directly; a FIFO that nobody reads is a failed write.
class WorkingDirectoryFiles final : public FileAccess {
 private:
  Result<FileText, ReadError> read_file(const std::string& name,
                                        std::size_t max_bytes) const override;
  std::optional<FileStamp> stamp_file(const std::string& name) const override;
  bool write_file(const std::string& name, std::string_view text) const override;
};

/// Names resolve beneath a root folder only. An absolute name, a ".." that would leave the root
/// and a symbolic link that leads out of it are refused with the reason "outside the policy
/// root"; a link that stays inside is followed. Reports are written as WorkingDirectoryFiles
/// writes them, beneath the root. The root is held open, so that moving it later lets no name
/// escape.
class ConfinedFiles final : public FileAccess {
 public:
  /// Opens the folder `root` (relative to the working directory).
  /// **Example**: ConfinedFiles::open("policies")->read("../secret.txt").error().reason ==
  /// "outside the policy root".
  static Result<ConfinedFiles, ReadError> open(const std::string& root);

  ConfinedFiles(ConfinedFiles&& other) noexcept;
  ConfinedFiles& operator=(ConfinedFiles&& other) noexcept;
  ConfinedFiles(const ConfinedFiles&) = delete;
  ConfinedFiles& operator=(const ConfinedFiles&) = delete;
  ~ConfinedFiles() override;

 private:
  explicit ConfinedFiles(int root) : root_(root) {}
  Result<FileText, ReadError> read_file(const std::string& name,
                                        std::size_t max_bytes) const override;
  std::optional<FileStamp> stamp_file(const std::string& name) const override;
  bool write_file(const std::string& name, std::string_view text) const override;

  int root_ = -1;  // the root folder, opened O_PATH
};

/// Texts held in memory, looked up by the name exactly as written ("a.tarn" and "./a.tarn" are
/// two names). A report is not written anywhere: the run state holds it (report_text,
/// report_path). For tests, hosts that keep policies in a database, and builds without files.
class MemoryFiles final : public FileAccess {
 public:
  using Texts = std::map<std::string, std::string, std::less<>>;
  /// **Example**: MemoryFiles({{"shared.tarn", "alias(1, \"inflow\")\n"}}).
  MemoryFiles(std::initializer_list<Texts::value_type> texts) : texts_(texts) {}
  explicit MemoryFiles(Texts texts) : texts_(std::move(texts)) {}

 private:
  Result<FileText, ReadError> read_file(const std::string& name,
                                        std::size_t max_bytes) const override;
  std::optional<FileStamp> stamp_file(const std::string& name) const override;
  bool write_file(const std::string& name, std::string_view text) const override;

  Texts texts_;
};

/// No file at all: every import fails with the reason "no file access is allowed", and no
/// report is written.
class NoFiles final : public FileAccess {
 private:
  Result<FileText, ReadError> read_file(const std::string& name,
                                        std::size_t max_bytes) const override;
  bool write_file(const std::string& name, std::string_view text) const override;
};

}  // namespace tarn::lang
