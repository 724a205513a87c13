// Opening a name against the working directory, or confined beneath a root folder.
//
// Confinement is the kernel's job where it can do it: openat2 with RESOLVE_BENEATH resolves the
// whole name in one call and fails with EXDEV as soon as a "..", an absolute name or a symbolic
// link would leave the root, with no window for a concurrent rename to slip through. Kernels
// before 5.6 (ENOSYS) and sandboxes that filter the call (EPERM) get the same rules from a walk of
// our own: one component at a time, each opened O_PATH | O_NOFOLLOW relative to the directory
// before it; a symbolic link is read and its target put in front of the rest of the name; ".."
// goes back along the directories walked, never above the root.
#include <sys/syscall.h>
#include <unistd.h>
#if !defined(__EMSCRIPTEN__)
#include <linux/openat2.h>
#endif

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "file_system.hpp"

namespace tarn::lang::detail {
namespace {

// The symbolic links one name may pass through, as the kernel allows (ELOOP past it).
constexpr int kMaxLinks = 40;

int fail_with(int error) {
  errno = error;
  return -1;
}

// Adds the components of `name` to `pending`, which holds them last first: "a//b" gives
// {"b", "a"}. A trailing slash adds ".", so that the component before it must be a directory.
void push_components(std::vector<std::string>& pending, std::string_view name) {
  if (!name.empty() && name.back() == '/') pending.emplace_back(".");
  std::size_t end = name.size();
  while (end > 0) {
    const std::size_t slash = name.rfind('/', end - 1);
    const std::size_t start = slash == std::string_view::npos ? 0 : slash + 1;
    if (end > start) pending.emplace_back(name.substr(start, end - start));
    if (slash == std::string_view::npos) break;
    end = slash;
  }
}

// The directories walked from the root down, each held open; the root is the caller's.
class WalkedDirectories {
 public:
  explicit WalkedDirectories(int root) : dirs_{root} {}
  WalkedDirectories(const WalkedDirectories&) = delete;
  WalkedDirectories& operator=(const WalkedDirectories&) = delete;
  ~WalkedDirectories() {
    for (std::size_t i = 1; i < dirs_.size(); ++i) ::close(dirs_[i]);
  }
  int current() const { return dirs_.back(); }
  void enter(int dir) { dirs_.push_back(dir); }
  // False at the root, which has no parent here.
  bool leave() {
    if (dirs_.size() == 1) return false;
    ::close(dirs_.back());
    dirs_.pop_back();
    return true;
  }

 private:
  std::vector<int> dirs_;
};

int open_walking(int root, const std::string& name, int flags, mode_t mode) {
  if (name.empty()) return fail_with(ENOENT);
  if (name.front() == '/') return fail_with(EXDEV);
  WalkedDirectories walked(root);
  std::vector<std::string> pending;
  push_components(pending, name);
  int links = 0;
  while (!pending.empty()) {
    const std::string component = std::move(pending.back());
    pending.pop_back();
    if (component == ".") continue;
    if (component == "..") {
      if (!walked.leave()) return fail_with(EXDEV);
      continue;
    }
    const int fd = ::openat(walked.current(), component.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      // A missing last component is created when asked for.
      if (errno == ENOENT && pending.empty() && (flags & O_CREAT) != 0) {
        return ::openat(walked.current(), component.c_str(), flags | O_NOFOLLOW, mode);
      }
      return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0) {
      const int error = errno;
      ::close(fd);
      return fail_with(error);
    }
    if (S_ISDIR(status.st_mode)) {
      walked.enter(fd);
      continue;
    }
    if (S_ISLNK(status.st_mode)) {
      std::array<char, 4096> target{};
      const ssize_t length = ::readlinkat(fd, "", target.data(), target.size());
      const int error = errno;
      ::close(fd);
      if (length < 0) return fail_with(error);
      if (static_cast<std::size_t>(length) == target.size()) return fail_with(ENAMETOOLONG);
      if (++links > kMaxLinks) return fail_with(ELOOP);
      if (length == 0) return fail_with(ENOENT);
      if (target[0] == '/') return fail_with(EXDEV);
      push_components(pending, std::string_view(target.data(), static_cast<std::size_t>(length)));
      continue;
    }
    // Anything else ends the name: nothing can stand inside it.
    ::close(fd);
    if (!pending.empty()) return fail_with(ENOTDIR);
    return ::openat(walked.current(), component.c_str(), flags | O_NOFOLLOW, mode);
  }
  // The name ended on a directory, the root itself included.
  return ::openat(walked.current(), ".", flags, mode);
}

int open_beneath(int root, const std::string& name, int flags, mode_t mode) {
#if defined(__EMSCRIPTEN__)
  // The WebAssembly build's file system has no openat2: the walk below takes over.
  (void)root, (void)name, (void)flags, (void)mode;
  return fail_with(ENOSYS);
#else
  open_how how{};
  how.flags = static_cast<unsigned int>(flags);  // open flags are bit sets, never negative
  how.mode = (flags & O_CREAT) != 0 ? mode : 0;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, root, name.c_str(), &how, sizeof how));
#endif
}

}  // namespace

int open_name(const NameBase& base, const std::string& name, int flags, mode_t mode) {
  if (!base.confined) return ::openat(base.dir, name.c_str(), flags, mode);
  if (base.resolution == Resolution::Kernel) {
    const int fd = open_beneath(base.dir, name, flags, mode);
    if (fd >= 0 || (errno != ENOSYS && errno != EPERM)) return fd;
  }
  return open_walking(base.dir, name, flags, mode);
}

}  // namespace tarn::lang::detail
