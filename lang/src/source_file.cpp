// Reading a script file whole, as UTF-8 text.
//
// POSIX calls rather than iostreams, because the platform's own description of a failure
// (strerror) is what reaches run errors and `tarn check`, and because a directory must fail
// ("Is a directory") instead of reading as an empty file. The file is read in one loop, into
// pages mapped at once for a large regular file and into a string otherwise,
// then checked as UTF-8 in one pass with an eight-bytes-at-a-time fast path for ASCII, which is
// what scripts almost always are. The file itself is never mapped: a file truncated by another
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

namespace tarn::lang {
namespace {

ReadError os_error(int error_number) { return ReadError{std::strerror(error_number)}; }
ReadError not_utf8() { return ReadError{"stream did not contain valid UTF-8"}; }

// Closes the descriptor on every way out.
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

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The length of the well-formed multi-byte sequence at the start of `bytes`, or 0. The second
// byte's range excludes overlongs (E0, F0), surrogates (ED) and values past U+10FFFF (F4).
std::size_t multibyte_length(std::string_view bytes) {
  const auto lead = static_cast<unsigned char>(bytes[0]);
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  const auto second = static_cast<unsigned char>(bytes[1]);
  if (second < low || second > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (!is_continuation(static_cast<unsigned char>(bytes[i]))) return 0;
  }
  return length;
}

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
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::size_t i = 0;
  while (i < bytes.size()) {
    // Thirty-two ASCII bytes at a time while they last, then eight, then one.
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
    const std::size_t length = multibyte_length(bytes.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

Result<SourceText, ReadError> read_text_file(const std::string& path, std::size_t max_bytes) {
  // O_NONBLOCK only so that opening a FIFO does not wait for a writer; it is cleared below.
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (file.get() < 0) return fail(os_error(errno));
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) return fail(os_error(errno));
  if (S_ISDIR(status.st_mode)) return fail(os_error(EISDIR));
  const auto too_large = [max_bytes] {
    return ReadError{"text exceeds " + std::to_string(max_bytes) + " bytes", true};
  };
  if (S_ISREG(status.st_mode) && static_cast<std::uint64_t>(status.st_size) > max_bytes) {
    return fail(too_large());
  }
  // A FIFO's first read stays non-blocking: it tells a writer that has written nothing yet
  // (EAGAIN) from no writer at all (end of file at once). Everything else reads blocking, and a
  // regular file already does: O_NONBLOCK means nothing to it (nor the two calls to clear it,
  // which a chain of imports would pay at every level).
  bool first_fifo_read = S_ISFIFO(status.st_mode);
  const auto read_blocking = [&file] {
    const int flags = ::fcntl(file.get(), F_GETFL);
    return flags >= 0 && ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) == 0;
  };
  if (!first_fifo_read && !S_ISREG(status.st_mode) && !read_blocking()) {
    return fail(os_error(errno));
  }

  // A regular file is read up to the size it had when it was opened, not on to a read that
  // finds its end: that read would cost a chain of imports one more system call per level.
  const auto expected_size = static_cast<std::size_t>(std::max<off_t>(status.st_size, 0));
  const bool sized = S_ISREG(status.st_mode) && expected_size > 0;
  if (sized && expected_size >= kMappedReadThreshold) {
    if (char* pages = map_pages(expected_size); pages != nullptr) {
      SourceText source;
      source.mapped_ = pages;
      source.mapped_bytes_ = expected_size;
      const ssize_t count = read_into(file.get(), pages, expected_size);
      if (count < 0) return fail(os_error(errno));
      source.size_ = static_cast<std::size_t>(count);
      if (!is_valid_utf8(source.view())) return fail(not_utf8());
      return source;
    }
  }
  std::string text;
  // st_size is only a hint elsewhere (0 for pipes and many special files): the loop reads to
  // the end.
  if (sized) text.reserve(expected_size);
  std::array<char, 64 * 1024> chunk;
  while (true) {
    const ssize_t count = ::read(file.get(), chunk.data(), chunk.size());
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
  if (!is_valid_utf8(text)) return fail(not_utf8());
  return SourceText(std::move(text));
}

}  // namespace tarn::lang
