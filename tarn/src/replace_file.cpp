#include "replace_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "tarn/lang/write_text.hpp"

namespace tarn::tool {
namespace {

Unexpected<std::string> platform_error() { return fail(std::string(std::strerror(errno))); }

}  // namespace

Result<void, std::string> replace_file(const std::string& path, std::string_view bytes) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                             &std::free);
  if (!resolved) return platform_error();
  const std::string target(resolved.get());
  struct stat status {};
  if (::stat(target.c_str(), &status) != 0) return platform_error();

  // A hidden name beside the target: the rename stays within one file system.
  const std::size_t slash = target.rfind('/');
  std::string temporary =
      target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".tarn-fmt-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return platform_error();
  const bool written = ::fchmod(fd, status.st_mode & 07777) == 0 &&
                       lang::write_text(fd, bytes) == 0 && ::fsync(fd) == 0;
  const int write_errno = errno;
  if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), target.c_str()) != 0) {
    const int error = written ? errno : write_errno;
    ::unlink(temporary.c_str());
    return fail(std::string(std::strerror(error)));
  }
  return {};
}

}  // namespace tarn::tool
