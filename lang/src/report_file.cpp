// Writing a report file: the whole report or nothing.
//
// A report written into its target in place can be torn: two runs writing one target interleave
// their bytes, and a full disk cuts the new report short after the old one was already truncated.
// So a target that is a regular file, or nothing yet, is replaced: the report goes into a fresh
// temporary file in the same directory, which is renamed over the target only once every byte is
// written. Whoever reads the target sees the old report or the new one. The temporary file takes
// the old file's permission bits; on any failure it is removed and the old report stays as it was.
// A symbolic link is followed to what it names first, so that the link keeps pointing at the
// report.
//
// Other targets cannot be replaced (a rename over /dev/null would replace the device), so they are
// written in place, as before. Nothing here waits: the target is opened without blocking, and a
// FIFO that no process reads (ENXIO) is a failed write.
#include <cstddef>  // Emscripten's <sys/random.h> uses size_t without declaring it
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "file_system.hpp"
#include "tarn/lang/write_text.hpp"

namespace tarn::lang::detail {
namespace {

// The symbolic links one name may pass through, as the kernel allows.
constexpr int kMaxLinks = 40;
// Names of temporary files tried before giving up (another process may hold one by chance).
constexpr int kTemporaryAttempts = 8;
// Bytes of the target's name kept in the temporary name, so that it stays within NAME_MAX (255).
constexpr std::size_t kNameBytesKept = 200;

// A name as a directory (empty when the name has none) and the last component.
// "out/r.json" -> {"out", "r.json"}, "r.json" -> {"", "r.json"}, "/r.json" -> {"/", "r.json"}.
struct SplitName {
  std::string dir;
  std::string base;
};

SplitName split_name(const std::string& name) {
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return {"", name};
  return {name.substr(0, slash == 0 ? 1 : slash), name.substr(slash + 1)};
}

// Where a symbolic link in `dir` leads: "../b" in "out" -> "out/../b"; an absolute one as it is.
std::string link_target(const std::string& dir, std::string_view link) {
  if (link.front() == '/' || dir.empty()) return std::string(link);
  return dir + (dir.back() == '/' ? "" : "/") + std::string(link);
}

// ".<base>.<16 hex digits>": hidden, beside the target, and taken by no one else in all
// likelihood (creation is exclusive anyway).
std::string temporary_name(std::string_view base) {
  std::uint64_t random = 0;
#if defined(__EMSCRIPTEN__)
  const bool drawn = ::getentropy(&random, sizeof random) == 0;  // it has no getrandom
#else
  const bool drawn =
      ::getrandom(&random, sizeof random, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof random);
#endif
  if (!drawn) {
    random = static_cast<std::uint64_t>(
                 std::chrono::steady_clock::now().time_since_epoch().count()) ^
             (static_cast<std::uint64_t>(::getpid()) << 32);
  }
  std::string name = "." + std::string(base.substr(0, kNameBytesKept)) + ".";
  constexpr std::string_view kDigits = "0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) name += kDigits[(random >> shift) & 0xf];
  return name;
}

// Replaces `base` in `dir` by a file holding `text`; `permissions` of the file replaced, none
// for a new one (created 0666 under the umask, as any new file).
bool replace(int dir, const std::string& base, std::string_view text,
             std::optional<mode_t> permissions) {
  std::string temporary;
  int fd = -1;
  for (int attempt = 0; attempt < kTemporaryAttempts && fd < 0; ++attempt) {
    temporary = temporary_name(base);
    fd = ::openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  bool written = (!permissions || ::fchmod(fd, *permissions) == 0) && write_text(fd, text) == 0;
  // Some file systems report a failed write only when the file is closed.
  written = ::close(fd) == 0 && written;
  if (written && ::renameat(dir, temporary.c_str(), dir, base.c_str()) == 0) return true;
  ::unlinkat(dir, temporary.c_str(), 0);
  return false;
}

// Writes `text` as `base` in `dir`, which is not a symbolic link.
bool write_target(int dir, const std::string& base, std::string_view text) {
  // Opened to learn what the target is, and refused as the old write refused it (a directory, a
  // file the run may not write, a FIFO without a reader).
  const FileDescriptor target(
      ::openat(dir, base.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC));
  if (target.get() < 0) return errno == ENOENT && replace(dir, base, text, std::nullopt);
  struct stat status {};
  if (::fstat(target.get(), &status) != 0) return false;
  if (S_ISREG(status.st_mode)) return replace(dir, base, text, status.st_mode & 0777);
  // A device or a FIFO with a reader: written in place, blocking as any write.
  const int flags = ::fcntl(target.get(), F_GETFL);
  if (flags < 0 || ::fcntl(target.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  return write_text(target.get(), text) == 0;
}

}  // namespace

bool write_report_file(const NameBase& base, const std::string& name, std::string_view text) {
  std::string target = name;
  for (int links = 0; links <= kMaxLinks; ++links) {
    const SplitName split = split_name(target);
    // "", "out/", "." and ".." name directories (or nothing), which a report cannot replace.
    if (split.base.empty() || split.base == "." || split.base == "..") return false;
    const FileDescriptor dir(
        open_name(base, split.dir.empty() ? "." : split.dir, O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) return false;
    struct stat status {};
    if (::fstatat(dir.get(), split.base.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISLNK(status.st_mode)) {
      return write_target(dir.get(), split.base, text);
    }
    std::array<char, 4096> link{};
    const ssize_t length = ::readlinkat(dir.get(), split.base.c_str(), link.data(), link.size());
    const auto bytes = static_cast<std::size_t>(length);
    if (length <= 0 || bytes == link.size()) return false;
    target = link_target(split.dir, std::string_view(link.data(), bytes));
  }
  return false;
}

}  // namespace tarn::lang::detail
