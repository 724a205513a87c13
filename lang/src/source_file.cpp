// Reading a script whole, as UTF-8 text, from a path or from a descriptor such as standard input.
//
// POSIX calls rather than iostreams, because the platform's own description of a failure
// (strerror) is what reaches run errors and `tarn check`, and because a directory must fail
// ("Is a directory") instead of reading as an empty file. The text is read in one loop, into
// pages mapped at once for a large regular file and into a string otherwise, then checked as
// UTF-8 in one pass: ASCII, which scripts almost always are, many bytes at a time, anything else
// through the front end's one decoder. The file itself is never mapped: a file truncated by another
// process while mapped would end the run with SIGBUS.
//
// Whatever a path names, the read ends: the text is capped (an endless device fails once it
// passes the cap), and a FIFO is opened without waiting for a writer. A FIFO that no process
// writes to is a failure rather than an empty script, which a verifier would pass.
#include "tarn/lang/source_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "file_system.hpp"
#include "unicode.hpp"

namespace tarn::lang {
namespace {

using detail::FileDescriptor;
using detail::os_error;

// Below this size a file is read into a string: mapping and unmapping cost more than the few
// page faults they would spare.
constexpr std::size_t kMappedReadThreshold = std::size_t{64} << 10;

// Anonymous pages, all present from the start (MAP_POPULATE), or null when that fails.
char* map_pages(std::size_t bytes) {
#if defined(MAP_POPULATE)
  void* pages = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
  return pages == MAP_FAILED ? nullptr : static_cast<char*>(pages);
#else
  (void)bytes;
  return nullptr;
#endif
}

// Reads until `buffer` is full or the file ends; the count read, or -1 with errno set.
ssize_t read_into(int fd, char* buffer, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t count = ::read(fd, buffer + filled, size - filled);
    if (count < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (count == 0) break;
    filled += static_cast<std::size_t>(count);
  }
  return static_cast<ssize_t>(filled);
}

}  // namespace

SourceText::SourceText(SourceText&& other) noexcept
    : owned_(std::move(other.owned_)),
      mapped_(std::exchange(other.mapped_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_bytes_(std::exchange(other.mapped_bytes_, 0)) {}

SourceText& SourceText::operator=(SourceText&& other) noexcept {
  if (this != &other) {
    unmap();
    owned_ = std::move(other.owned_);
    mapped_ = std::exchange(other.mapped_, nullptr);
    size_ = std::exchange(other.size_, 0);
    mapped_bytes_ = std::exchange(other.mapped_bytes_, 0);
  }
  return *this;
}

std::string SourceText::release() && {
  if (mapped_ == nullptr) return std::move(owned_);
  std::string text(view());
  unmap();
  return text;
}

void SourceText::unmap() noexcept {
  if (mapped_ != nullptr) ::munmap(mapped_, mapped_bytes_);
  mapped_ = nullptr;
  size_ = 0;
  mapped_bytes_ = 0;
}

bool is_valid_utf8(std::string_view bytes) {
  // ASCII, many bytes at a time while it lasts: thirty-two, then eight, then one. Every import
  // checks its file again, so a long import chain checks far more text than the scripts hold.
  // Eight bytes at a time instead of one save the flat 100000-statement workload 10% of its
  // instructions; thirty-two before the eight save the chain of imports of an 18 KB file
  // (about 270 MB checked) 18%.
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::size_t i = 0;
  while (i < bytes.size()) {
    if (bytes.size() - i >= 32) {
      std::array<std::uint64_t, 4> block{};
      std::memcpy(block.data(), bytes.data() + i, sizeof block);
      if (((block[0] | block[1] | block[2] | block[3]) & kHighBits) == 0) {
        i += 32;
        continue;
      }
    }
    if (bytes.size() - i >= 8) {
      std::uint64_t block = 0;
      std::memcpy(&block, bytes.data() + i, sizeof block);
      if ((block & kHighBits) == 0) {
        i += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(bytes[i]) < 0x80) {
      ++i;
      continue;
    }
    const unicode::Decoded decoded = unicode::decode_utf8(bytes.substr(i));
    if (decoded.code_point == unicode::kReplacement && decoded.length == 1) return false;
    i += decoded.length;
  }
  return true;
}

// Reads a file or a descriptor whole; a friend of SourceText, whose mapped pages it fills in
// place.
class TextReader {
 public:
  // Reads `fd`: a file opened here by name (O_NONBLOCK, closed by the caller), or else a
  // descriptor that the caller holds (standard input). A descriptor handed over is read as it is,
  // from where it stands, and its flags are left alone, as they are shared with whoever else holds
  // it. `status_out` receives the descriptor's status.
  static Result<SourceText, ReadError> read(int fd, bool by_path, std::size_t max_bytes,
                                            struct stat* status_out);
};

Result<SourceText, ReadError> TextReader::read(int fd, bool by_path, std::size_t max_bytes,
                                               struct stat* status_out) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return fail(os_error(errno));
  if (status_out != nullptr) *status_out = status;
  if (S_ISDIR(status.st_mode)) return fail(os_error(EISDIR));
  const auto too_large = [max_bytes] { return detail::too_large_error(max_bytes); };
  // A regular file is read up to the size it had when it was opened, not on to a read that
  // finds its end: that read would cost a chain of imports one more system call per level. A
  // descriptor handed over may already stand past the start.
  off_t start = 0;
  if (!by_path && S_ISREG(status.st_mode)) {
    start = ::lseek(fd, 0, SEEK_CUR);
    if (start < 0) return fail(os_error(errno));
  }
  const auto expected_size = static_cast<std::size_t>(std::max<off_t>(status.st_size - start, 0));
  if (S_ISREG(status.st_mode) && expected_size > max_bytes) return fail(too_large());
  // A FIFO opened here reads its first bytes without blocking: that tells a writer that has
  // written nothing yet (EAGAIN) from no writer at all (end of file at once). Everything else
  // opened here reads blocking, and a regular file already does: O_NONBLOCK means nothing to it
  // (nor the two calls to clear it, which a chain of imports would pay at every level).
  bool first_fifo_read = by_path && S_ISFIFO(status.st_mode);
  const auto read_blocking = [fd] {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
  };
  if (by_path && !first_fifo_read && !S_ISREG(status.st_mode) && !read_blocking()) {
    return fail(os_error(errno));
  }

  const bool sized = S_ISREG(status.st_mode) && expected_size > 0;
  if (sized && expected_size >= kMappedReadThreshold) {
    if (char* pages = map_pages(expected_size); pages != nullptr) {
      SourceText source;
      source.mapped_ = pages;
      source.mapped_bytes_ = expected_size;
      const ssize_t count = read_into(fd, pages, expected_size);
      if (count < 0) return fail(os_error(errno));
      source.size_ = static_cast<std::size_t>(count);
      if (!is_valid_utf8(source.view())) return fail(detail::not_utf8_error());
      return source;
    }
  }
  std::string text;
  // st_size is only a hint elsewhere (0 for pipes and many special files): the loop reads to
  // the end.
  if (sized) text.reserve(expected_size);
  std::array<char, 64 * 1024> chunk;
  while (true) {
    const ssize_t count = ::read(fd, chunk.data(), chunk.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN && first_fifo_read) {
        first_fifo_read = false;
        if (!read_blocking()) return fail(os_error(errno));
        continue;
      }
      return fail(os_error(errno));
    }
    if (count == 0) {
      if (first_fifo_read) return fail(ReadError{"FIFO has no writer"});
      break;
    }
    if (first_fifo_read) {
      first_fifo_read = false;
      if (!read_blocking()) return fail(os_error(errno));
    }
    if (static_cast<std::size_t>(count) > max_bytes - text.size()) return fail(too_large());
    text.append(chunk.data(), static_cast<std::size_t>(count));
    if (sized && text.size() >= expected_size) break;
  }
  if (!is_valid_utf8(text)) return fail(detail::not_utf8_error());
  return SourceText(std::move(text));
}

namespace detail {

Result<SourceText, ReadError> read_opened_file(int fd, std::size_t max_bytes, struct stat* status) {
  const FileDescriptor file(fd);
  return TextReader::read(file.get(), true, max_bytes, status);
}

}  // namespace detail

Result<SourceText, ReadError> read_text_file(const std::string& path, std::size_t max_bytes) {
  if (detail::holds_nul(path)) return fail(ReadError{std::string(detail::kNulInName)});
  // O_NONBLOCK only so that opening a FIFO does not wait for a writer; the reader clears it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(os_error(errno));
  return detail::read_opened_file(fd, max_bytes);
}

Result<SourceText, ReadError> read_text(int fd, std::size_t max_bytes) {
  return TextReader::read(fd, false, max_bytes, nullptr);
}

}  // namespace tarn::lang
