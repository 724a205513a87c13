// JSON-RPC messages: see protocol.hpp.
#include "protocol.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarn::tool::lsp {
namespace {

// Invalid UTF-8 never reaches the output: the text of a message may echo a client's bytes.
std::string dump(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

tarn::Unexpected<MessageError> invalid(std::string message, json id = nullptr) {
  return tarn::fail(MessageError{ErrorCode::InvalidRequest, std::move(message), std::move(id)});
}

// The protocol's messages are shallow and hold few values besides their texts. A body of the
// largest size made of "[" or "0," would become many gigabytes of values; such a body is refused
// before it is parsed.
constexpr std::size_t kMaxDepth = 64;
constexpr std::size_t kMaxValues = 100000;

bool shape_within_limits(std::string_view body) {
  std::size_t depth = 0;
  std::size_t values = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"': in_string = true; break;
      case '[':
      case '{':
        if (++depth > kMaxDepth || ++values > kMaxValues) return false;
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      case ',':
        if (++values > kMaxValues) return false;
        break;
      default: break;
    }
  }
  return true;
}

}  // namespace

const json* member(const json& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto found = value.find(key);
  return found == value.end() ? nullptr : &*found;
}

std::optional<std::string> string_member(const json& value, std::string_view key) {
  const json* found = member(value, key);
  if (found == nullptr || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

// message -> {"jsonrpc": "2.0", ["id": string | integer], "method": string, ["params": object |
//             array]} | a response: {"jsonrpc": "2.0", "id": ..., "result" | "error": ...}
tarn::Result<Message, MessageError> decode_message(std::string_view body) {
  if (!shape_within_limits(body)) {
    return invalid("a message nested more than " + std::to_string(kMaxDepth) +
                   " levels deep or holding more than " + std::to_string(kMaxValues) + " values");
  }
  json value = json::parse(body, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) {
    return tarn::fail(MessageError{ErrorCode::ParseError, "the message is not JSON", nullptr});
  }
  if (!value.is_object()) return invalid("a message must be a JSON object");
  Message message;
  const json* id = member(value, "id");
  if (id != nullptr) {
    if (!id->is_string() && !id->is_number_integer()) {
      return invalid("the id of a request must be a string or an integer");
    }
    message.id = *id;
  }
  const json* version = member(value, "jsonrpc");
  if (version == nullptr || *version != "2.0") {
    return invalid("a message must have \"jsonrpc\": \"2.0\"", message.id);
  }
  const json* method = member(value, "method");
  if (method == nullptr && id != nullptr &&
      (member(value, "result") != nullptr || member(value, "error") != nullptr)) {
    message.kind = Message::Kind::Response;
    return message;
  }
  if (method == nullptr || !method->is_string()) {
    return invalid("a request must name its method as a string", message.id);
  }
  message.method = method->get<std::string>();
  if (const json* params = member(value, "params")) {
    if (!params->is_object() && !params->is_array()) {
      return invalid("the params of a request must be an object or an array", message.id);
    }
    message.params = std::move(value["params"]);
  }
  message.kind = id != nullptr ? Message::Kind::Request : Message::Kind::Notification;
  return message;
}

std::string response(const json& id, json result) {
  return dump(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}});
}

std::string error_response(const json& id, ErrorCode code, std::string_view message) {
  return dump(json{{"jsonrpc", "2.0"},
                   {"id", id},
                   {"error", {{"code", static_cast<int>(code)}, {"message", message}}}});
}

std::string notification(std::string_view method, json params) {
  return dump(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}});
}

}  // namespace tarn::tool::lsp
