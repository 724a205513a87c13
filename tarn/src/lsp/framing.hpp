// Messages of the language server protocol on a byte stream: each one a header ("Content-Length:
// N", other fields ignored, each line ended by "\r\n"), a blank line, and N bytes of JSON.
//
// A client may send anything. A header without a usable length is reported and the reader skips
// to the next "Content-Length:"; a length beyond kMessageLimit is reported and that many bytes are
// skipped as they arrive, never held; nothing the client sends makes the reader hold more than
// the limit, or wait for anything but input.
//
//   DescriptorSource input(STDIN_FILENO);
//   MessageReader reader(input);
//   while (auto body = reader.next()) ...   // reader.next().error().kind == FrameErrorKind::End
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tarn/tarn.hpp"

namespace tarn::tool::lsp {

/// The largest message body read (512 MiB): room for a text at the library's script limit, even
/// with its line feeds escaped in JSON, so that such a text arrives and is refused by name.
inline constexpr std::uint64_t kMessageLimit = 2 * lang::kScriptTextLimit;

/// The most header bytes of one message: clients send one or two short fields.
inline constexpr std::size_t kHeaderLimit = 8192;

/// Where messages come from.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  /// Reads at most `size` bytes into `data`, waiting for at least one; 0 at the end of the input.
  virtual std::size_t read_some(char* data, std::size_t size) = 0;
  /// True when a read would not wait (input is there, or the end is).
  virtual bool ready() = 0;
};

/// A file descriptor, such as standard input. A read error counts as the end of the input.
class DescriptorSource final : public ByteSource {
 public:
  explicit DescriptorSource(int fd) : fd_(fd) {}
  std::size_t read_some(char* data, std::size_t size) override;
  bool ready() override;

 private:
  int fd_;
};

enum class FrameErrorKind {
  End,        // the input ended (in the middle of a message too)
  BadHeader,  // no Content-Length, an unreadable one, or a header section too long
  TooLarge,   // a Content-Length beyond kMessageLimit: the body is skipped
};

struct FrameError {
  FrameErrorKind kind = FrameErrorKind::End;
  std::string message;  // for people: what was wrong with the header
};

class MessageReader {
 public:
  explicit MessageReader(ByteSource& source) : source_(source) {}

  /// The next message body, or why there is none.
  tarn::Result<std::string, FrameError> next();

  /// True when more input is already there, so that work on a text about to change can wait.
  bool input_waiting();

 private:
  enum class Header { Complete, End, Bad };
  bool fill();  // reads more into buffer_; false at the end of the input
  Header read_header(std::string& section);
  bool skip_to_next_header();
  bool skip_body();

  ByteSource& source_;
  std::string buffer_;
  std::size_t position_ = 0;        // the first unread byte of buffer_
  std::uint64_t skip_ = 0;          // bytes of a refused body still to skip
  bool resynchronise_ = false;      // after a bad header: skip to the next "Content-Length:"
};

/// `body` framed as a message. **Example**: frame("{}") == "Content-Length: 2\r\n\r\n{}".
std::string frame(std::string_view body);

}  // namespace tarn::tool::lsp
