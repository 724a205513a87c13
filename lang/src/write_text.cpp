// The one loop that writes a whole text to a descriptor.
//
// A descriptor may come from the caller in any state: its flags belong to whoever opened it, so
// a non-blocking one is waited on with poll() rather than switched to blocking, which would
// change it for every other process that shares it.
#include "tarn/lang/write_text.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace tarn::lang {

int write_text(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written >= 0) {
      text.remove_prefix(static_cast<std::size_t>(written));
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return errno;
    // Full: wait until the reader makes room. An error or a hang-up shows in the next write.
    pollfd ready{fd, POLLOUT, 0};
    while (::poll(&ready, 1, -1) < 0) {
      if (errno != EINTR) return errno;
    }
  }
  return 0;
}

}  // namespace tarn::lang
