// The file accesses the library provides. Each holds nothing that a call changes, so any number of
// runs may share one; the working directory and a confined root differ only in how a name is
// opened (open_name), and share the reader and the report writer.
#include "tarn/lang/file_access.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "file_system.hpp"

namespace tarn::lang {
namespace {

using detail::os_error;

// A name whose text a run may read, with the stamp of what was read.
Result<FileText, ReadError> read_name(const detail::NameBase& base, const std::string& name,
                                      std::size_t max_bytes) {
  const int fd = detail::open_name(base, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (base.confined && errno == EXDEV) return fail(ReadError{std::string(detail::kOutsideRoot)});
    return fail(os_error(errno));
  }
  struct stat status {};
  auto text = detail::read_opened_file(fd, max_bytes, &status);
  if (!text) return fail(std::move(text).error());
  const std::optional<FileStamp> stamp = detail::stamp_of(status, text->size());
  return FileText{std::move(*text), stamp};
}

// The text that a stamp identifies is fixed in memory: the entry's place tells it apart.
FileStamp memory_stamp(const std::string& text) {
  return FileStamp{.inode = reinterpret_cast<std::uintptr_t>(&text), .size = text.size()};
}

}  // namespace

namespace detail {

const FileAccess& files_or_default(const FileAccess* files) {
  static const WorkingDirectoryFiles kWorkingDirectory;  // holds nothing: shared by every run
  return files != nullptr ? *files : kWorkingDirectory;
}

std::optional<FileStamp> stamp_of(const struct stat& status, std::size_t bytes_read) {
  if (!S_ISREG(status.st_mode) || static_cast<std::uint64_t>(status.st_size) != bytes_read) {
    return std::nullopt;
  }
  return FileStamp{.device = static_cast<std::uint64_t>(status.st_dev),
                   .inode = static_cast<std::uint64_t>(status.st_ino),
                   .size = static_cast<std::uint64_t>(status.st_size),
                   .modified_ns = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                                  status.st_mtim.tv_nsec};
}

}  // namespace detail

// --- The checks every access shares ---------------------------------------------------------

Result<FileText, ReadError> FileAccess::read(const std::string& name,
                                             std::size_t max_bytes) const {
  if (detail::holds_nul(name)) return fail(ReadError{std::string(detail::kNulInName)});
  return read_file(name, max_bytes);
}

std::optional<FileStamp> FileAccess::stamp(const std::string& name) const {
  if (detail::holds_nul(name)) return std::nullopt;
  return stamp_file(name);
}

bool FileAccess::write_report(const std::string& name, std::string_view text) const {
  return !detail::holds_nul(name) && write_file(name, text);
}

// --- The working directory ------------------------------------------------------------------

Result<FileText, ReadError> WorkingDirectoryFiles::read_file(const std::string& name,
                                                             std::size_t max_bytes) const {
  return read_name(detail::NameBase{}, name, max_bytes);
}

std::optional<FileStamp> WorkingDirectoryFiles::stamp_file(const std::string& name) const {
  struct stat status {};
  if (::stat(name.c_str(), &status) != 0) return std::nullopt;
  return detail::stamp_of(status, static_cast<std::size_t>(status.st_size));
}

bool WorkingDirectoryFiles::write_file(const std::string& name, std::string_view text) const {
  return detail::write_report_file(detail::NameBase{}, name, text);
}

// --- A root folder ----------------------------------------------------------------------------

Result<ConfinedFiles, ReadError> ConfinedFiles::open(const std::string& root) {
  if (detail::holds_nul(root)) return fail(ReadError{std::string(detail::kNulInName)});
  const int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return fail(os_error(errno));
  return ConfinedFiles(fd);
}

ConfinedFiles::ConfinedFiles(ConfinedFiles&& other) noexcept
    : root_(std::exchange(other.root_, -1)) {}

ConfinedFiles& ConfinedFiles::operator=(ConfinedFiles&& other) noexcept {
  if (this != &other) {
    if (root_ >= 0) ::close(root_);
    root_ = std::exchange(other.root_, -1);
  }
  return *this;
}

ConfinedFiles::~ConfinedFiles() {
  if (root_ >= 0) ::close(root_);
}

Result<FileText, ReadError> ConfinedFiles::read_file(const std::string& name,
                                                     std::size_t max_bytes) const {
  return read_name(detail::NameBase{.dir = root_, .confined = true}, name, max_bytes);
}

std::optional<FileStamp> ConfinedFiles::stamp_file(const std::string& name) const {
  const detail::FileDescriptor file(detail::open_name(
      detail::NameBase{.dir = root_, .confined = true}, name, O_PATH | O_CLOEXEC));
  struct stat status {};
  if (file.get() < 0 || ::fstat(file.get(), &status) != 0) return std::nullopt;
  return detail::stamp_of(status, static_cast<std::size_t>(status.st_size));
}

bool ConfinedFiles::write_file(const std::string& name, std::string_view text) const {
  return detail::write_report_file(detail::NameBase{.dir = root_, .confined = true}, name, text);
}

// --- Texts in memory --------------------------------------------------------------------------

Result<FileText, ReadError> MemoryFiles::read_file(const std::string& name,
                                                   std::size_t max_bytes) const {
  const auto found = texts_.find(name);
  if (found == texts_.end()) return fail(os_error(ENOENT));
  const std::string& text = found->second;
  if (text.size() > max_bytes) {
    return fail(detail::too_large_error(max_bytes));
  }
  if (!is_valid_utf8(text)) return fail(detail::not_utf8_error());
  return FileText{SourceText(text), memory_stamp(text)};
}

std::optional<FileStamp> MemoryFiles::stamp_file(const std::string& name) const {
  const auto found = texts_.find(name);
  if (found == texts_.end()) return std::nullopt;
  return memory_stamp(found->second);
}

// The run state holds the report (report_text, report_path); there is nowhere else to put it.
bool MemoryFiles::write_file(const std::string&, std::string_view) const { return true; }

// --- Nothing ----------------------------------------------------------------------------------

Result<FileText, ReadError> NoFiles::read_file(const std::string&, std::size_t) const {
  return fail(ReadError{"no file access is allowed"});
}

bool NoFiles::write_file(const std::string&, std::string_view) const { return false; }

}  // namespace tarn::lang
