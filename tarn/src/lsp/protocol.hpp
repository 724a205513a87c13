// JSON-RPC 2.0 as the language server protocol uses it: decoding a message body that may hold
// anything, and writing responses and notifications.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tarn/tarn.hpp"

namespace tarn::tool::lsp {

using nlohmann::json;

enum class ErrorCode : int {
  ParseError = -32700,
  InvalidRequest = -32600,
  MethodNotFound = -32601,
  InvalidParams = -32602,
  InternalError = -32603,
  ServerNotInitialized = -32002,
};

/// A request (with an id, wanting a response), a notification (without), or a response to a
/// request of the server's (it sends none, so responses are dropped).
struct Message {
  enum class Kind { Request, Notification, Response };
  Kind kind = Kind::Notification;
  std::string method;
  json id;      // a string or an integer; null for a notification
  json params;  // an object, an array, or null when absent
};

/// What could not be decoded, with the id to answer (null when none could be read).
struct MessageError {
  ErrorCode code = ErrorCode::InvalidRequest;
  std::string message;
  json id;
};

/// Decodes a message body. **Example**: `{"jsonrpc":"2.0","id":1,"method":"shutdown"}` -> a
/// request; `{` -> ParseError; `[]` -> InvalidRequest.
tarn::Result<Message, MessageError> decode_message(std::string_view body);

/// A response body. **Example**: response(1, nullptr) ==
/// `{"id":1,"jsonrpc":"2.0","result":null}`.
std::string response(const json& id, json result);
std::string error_response(const json& id, ErrorCode code, std::string_view message);
std::string notification(std::string_view method, json params);

/// The member `key` of `value` when `value` is an object that has it; null otherwise.
const json* member(const json& value, std::string_view key);
/// The string at `key`, or none.
std::optional<std::string> string_member(const json& value, std::string_view key);

}  // namespace tarn::tool::lsp
