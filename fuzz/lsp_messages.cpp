// Fuzz target: the language server's framing and message decoding on arbitrary bytes.
//
// Oracle: reading ends (every step either gives a message, reports a bad header, or ends the
// input, and the bytes run out); no body is longer than the input or the message limit; a body
// framed again reads back as itself; decoding a body never throws, and a decoded request has a
// method and an id that is a string or an integer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "framing.hpp"
#include "oracle.hpp"
#include "protocol.hpp"

namespace {

// Bytes from memory, a few at a time, so that messages are split across reads as on a pipe.
class MemorySource final : public tarn::tool::lsp::ByteSource {
 public:
  explicit MemorySource(std::string_view bytes) : bytes_(bytes) {}
  std::size_t read_some(char* data, std::size_t size) override {
    const std::size_t take = std::min({size, bytes_.size(), std::size_t{7}});
    std::memcpy(data, bytes_.data(), take);
    bytes_.remove_prefix(take);
    return take;
  }
  bool ready() override { return true; }

 private:
  std::string_view bytes_;
};

std::string read_one(std::string_view bytes) {
  MemorySource source(bytes);
  tarn::tool::lsp::MessageReader reader(source);
  auto body = reader.next();
  return body ? *body : std::string("(none)");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tarn::fuzz::require;
  using namespace tarn::tool::lsp;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  MemorySource source(bytes);
  MessageReader reader(source);
  for (std::size_t steps = 0;; ++steps) {
    require(steps <= size + 1, "reading the input ends");
    auto body = reader.next();
    if (!body) {
      if (body.error().kind == FrameErrorKind::End) break;
      require(!body.error().message.empty(), "a framing error says what was wrong");
      continue;
    }
    require(body->size() <= size && body->size() <= kMessageLimit,
            "no body is longer than the input or the limit");
    require(read_one(frame(*body)) == *body, "a framed body reads back as itself");
    const auto message = decode_message(*body);
    if (message && message->kind == Message::Kind::Request) {
      require(message->id.is_string() || message->id.is_number_integer(),
              "a request's id is a string or an integer");
    }
    if (message && message->kind != Message::Kind::Response) {
      require(!message->method.empty() || body->find("\"method\"") != std::string::npos,
              "a request or notification was decoded from a method member");
    }
  }
  return 0;
}
