// The library's one door to the file system: how a name is opened (against the working directory
// or confined beneath a root folder), how an opened file is read whole, and how a report file is
// replaced. The FileAccess implementations (file_access.cpp) are built from these.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/lang/file_access.hpp"
#include "tarn/lang/result.hpp"
#include "tarn/lang/source_file.hpp"

namespace tarn::lang::detail {

/// How a confined name is resolved: by the kernel (openat2 with RESOLVE_BENEATH, falling back to
/// the walk where the kernel lacks it), or by our own walk, one component at a time. Tests pick
/// the walk to check it on kernels that have openat2.
enum class Resolution { Kernel, Walk };

/// Where names resolve: `dir` (AT_FDCWD: the working directory) and, when `confined`, never
/// outside it.
struct NameBase {
  int dir = AT_FDCWD;
  bool confined = false;
  Resolution resolution = Resolution::Kernel;
};

/// Closes the descriptor on every way out.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

/// The reason of a name that holds a NUL byte: the platform would open the name cut at the NUL.
inline constexpr std::string_view kNulInName = "file name contains a NUL byte";
/// The reason of a confined name that leads out of its root.
inline constexpr std::string_view kOutsideRoot = "outside the policy root";

inline bool holds_nul(std::string_view name) { return name.find('\0') != std::string_view::npos; }

/// The read failures, one text each: the platform's reason for `error_number`, a text past
/// `max_bytes`, bytes that are not UTF-8.
inline ReadError os_error(int error_number) { return ReadError{std::strerror(error_number)}; }
inline ReadError too_large_error(std::size_t max_bytes) {
  return ReadError{"text exceeds " + std::to_string(max_bytes) + " bytes", true};
}
inline ReadError not_utf8_error() { return ReadError{"stream did not contain valid UTF-8"}; }

/// `files`, or the working directory when it is null (a run's default).
const FileAccess& files_or_default(const FileAccess* files);

/// openat(base.dir, name, flags, mode); when confined, an absolute name, a ".." above the root and
/// a symbolic link that leads out of it fail with EXDEV (magic links of /proc are refused too).
/// The descriptor, or -1 with errno set.
/// **Example**: open_name({root, true}, "../x", O_RDONLY) == -1 with errno EXDEV.
int open_name(const NameBase& base, const std::string& name, int flags, mode_t mode = 0);

/// The stamp of an opened file's status, for a regular file of which `bytes_read` bytes (its
/// whole size) were read; none for anything else, whose text a stamp cannot vouch for.
std::optional<FileStamp> stamp_of(const struct stat& status, std::size_t bytes_read);

/// Reads the file that `fd` opened by name (O_RDONLY | O_NONBLOCK, so that a FIFO did not wait
/// for a writer), from its start and by the rules of read_text_file, and closes it. `status`
/// receives the file's status as it was opened.
Result<SourceText, ReadError> read_opened_file(int fd, std::size_t max_bytes,
                                               struct stat* status = nullptr);

/// Writes `text` as the report file `name`: a regular file (or none yet) is replaced whole through
/// a temporary file beside it, anything else written directly, never waiting for a FIFO's reader.
/// False when the report was not written; a failure leaves an existing report untouched.
bool write_report_file(const NameBase& base, const std::string& name, std::string_view text);

}  // namespace tarn::lang::detail
