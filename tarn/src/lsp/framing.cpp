// Messages on a byte stream: see framing.hpp.
#include "framing.hpp"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarn::tool::lsp {
namespace {

constexpr std::size_t kChunk = 64 * 1024;
constexpr std::string_view kLengthField = "content-length:";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_field(std::string_view line, std::string_view field) {
  if (line.size() < field.size()) return false;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (lower(line[i]) != field[i]) return false;
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

FrameError bad_header(std::string message) {
  return FrameError{FrameErrorKind::BadHeader, std::move(message)};
}

}  // namespace

std::size_t DescriptorSource::read_some(char* data, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(fd_, data, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool DescriptorSource::ready() {
  pollfd entry{fd_, POLLIN, 0};
  return ::poll(&entry, 1, 0) > 0;
}

bool MessageReader::fill() {
  if (position_ > 0) {
    buffer_.erase(0, position_);
    position_ = 0;
  }
  const std::size_t old_size = buffer_.size();
  buffer_.resize(old_size + kChunk);
  const std::size_t got = source_.read_some(buffer_.data() + old_size, kChunk);
  buffer_.resize(old_size + got);
  return got > 0;
}

bool MessageReader::input_waiting() {
  return position_ < buffer_.size() || source_.ready();
}

// Skips whole chunks of a refused body, never holding more than one.
bool MessageReader::skip_body() {
  while (skip_ > 0) {
    if (position_ == buffer_.size() && !fill()) return false;
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(skip_, buffer_.size() - position_));
    position_ += take;
    skip_ -= take;
  }
  return true;
}

// Drops bytes up to the next "Content-Length:" (any letter case), wherever it stands: after a
// body sent without a header, the next message's header follows the body's last byte.
bool MessageReader::skip_to_next_header() {
  for (;;) {
    const std::string_view rest = std::string_view(buffer_).substr(position_);
    for (std::size_t at = 0; at + kLengthField.size() <= rest.size(); ++at) {
      if (starts_with_field(rest.substr(at), kLengthField)) {
        position_ += at;
        return true;
      }
    }
    // Keep what could be the beginning of the field, read on.
    position_ += rest.size() - std::min(rest.size(), kLengthField.size() - 1);
    if (!fill()) return false;
  }
}

// header -> (field "\r\n")* "\r\n"      (a bare "\n" is taken too)
MessageReader::Header MessageReader::read_header(std::string& section) {
  for (;;) {
    const std::string_view rest = std::string_view(buffer_).substr(position_);
    // The blank line that ends the header: "\n\r\n" or "\n\n", or one at the very start.
    std::size_t end = std::string_view::npos;
    std::size_t skip = 0;
    if (rest.starts_with("\r\n")) {
      end = 0, skip = 2;
    } else if (rest.starts_with("\n")) {
      end = 0, skip = 1;
    } else {
      for (std::size_t i = 0; i + 1 < rest.size(); ++i) {
        if (rest[i] != '\n') continue;
        if (rest[i + 1] == '\n') {
          end = i + 1, skip = 1;
          break;
        }
        if (rest[i + 1] == '\r' && i + 2 < rest.size() && rest[i + 2] == '\n') {
          end = i + 1, skip = 2;
          break;
        }
      }
    }
    if (end != std::string_view::npos && end <= kHeaderLimit) {
      section.assign(rest.substr(0, end));
      position_ += end + skip;
      return Header::Complete;
    }
    if (rest.size() > kHeaderLimit) return Header::Bad;
    if (!fill()) return Header::End;
  }
}

tarn::Result<std::string, FrameError> MessageReader::next() {
  const FrameError end{FrameErrorKind::End, "the input ended"};
  if (!skip_body()) return tarn::fail(end);
  if (resynchronise_) {
    resynchronise_ = false;
    if (!skip_to_next_header()) return tarn::fail(end);
  }
  // Line ends before a message are nothing.
  for (;;) {
    while (position_ < buffer_.size() && (buffer_[position_] == '\r' || buffer_[position_] == '\n')) {
      ++position_;
    }
    if (position_ < buffer_.size()) break;
    if (!fill()) return tarn::fail(end);
  }

  std::string section;
  const Header header = read_header(section);
  if (header == Header::End) return tarn::fail(end);
  if (header == Header::Bad) {
    resynchronise_ = true;
    return tarn::fail(bad_header("a message header longer than " +
                                 std::to_string(kHeaderLimit) + " bytes"));
  }

  std::optional<std::uint64_t> length;
  std::string_view fields = section;
  while (!fields.empty()) {
    const std::size_t line_end = fields.find('\n');
    const std::string_view line = fields.substr(0, line_end);
    fields = line_end == std::string_view::npos ? std::string_view{} : fields.substr(line_end + 1);
    if (!starts_with_field(line, kLengthField)) continue;
    const std::string_view value = trim(line.substr(kLengthField.size()));
    std::uint64_t parsed = 0;
    const auto [stop, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (value.empty() || error != std::errc{} || stop != value.data() + value.size()) {
      resynchronise_ = true;
      return tarn::fail(bad_header("a Content-Length that is not a whole number of bytes: " +
                                   std::string(value.substr(0, 40))));
    }
    length = parsed;
  }
  if (!length) {
    resynchronise_ = true;
    return tarn::fail(bad_header("a message without Content-Length"));
  }
  if (*length > kMessageLimit) {
    skip_ = *length;
    return tarn::fail(FrameError{
        FrameErrorKind::TooLarge, "a message of " + std::to_string(*length) +
                                      " bytes, more than the server reads (" +
                                      lang::limit_text(kMessageLimit) + "); it was skipped"});
  }

  std::string body;
  const std::size_t wanted = static_cast<std::size_t>(*length);
  while (body.size() < wanted) {
    if (position_ == buffer_.size() && !fill()) return tarn::fail(end);
    const std::size_t take = std::min(wanted - body.size(), buffer_.size() - position_);
    body.append(buffer_, position_, take);
    position_ += take;
  }
  return body;
}

std::string frame(std::string_view body) {
  std::string out = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  out += body;
  return out;
}

}  // namespace tarn::tool::lsp
