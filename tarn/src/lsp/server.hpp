// `tarn lsp`: the language server. It answers one client, over a byte stream, until the client
// says exit or goes away.
//
// Diagnostics are the checker's, published after each change of an open document. A client sends
// a change per keystroke; when more input is already waiting, the check waits for it, so that a
// burst of changes is checked once, in its latest text. A text larger than a script may be is
// not checked at all: its one diagnostic says so.
#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "documents.hpp"
#include "framing.hpp"
#include "protocol.hpp"

namespace tarn::tool::lsp {

class Server {
 public:
  /// Handles one message body; what to send goes to output().
  void handle(std::string_view body);
  /// Tells the client of a message that could not be read.
  void frame_error(const FrameError& error);

  /// True when changed documents wait for their diagnostics.
  bool has_pending() const { return !pending_.empty(); }
  /// Checks the changed documents and publishes their diagnostics.
  void publish_pending();

  /// The message bodies to send, in order; taking them empties the list.
  std::vector<std::string> take_output() { return std::exchange(output_, {}); }
  /// Set once the client has said exit: 0 when it asked for shutdown first, else 1.
  std::optional<int> exit_status() const { return exit_status_; }
  bool shut_down() const { return phase_ == Phase::ShutDown; }

 private:
  enum class Phase { Starting, Running, ShutDown };
  struct Method;
  static const std::vector<Method>& methods();

  // Requests: the result, or throws RequestError.
  json initialize(const json& params);
  json shutdown(const json& params);
  json formatting(const json& params);
  json hover(const json& params);
  json completion(const json& params);
  json definition(const json& params);
  json document_symbol(const json& params);
  // Notifications.
  void initialized(const json& params);
  void exit(const json& params);
  void did_open(const json& params);
  void did_change(const json& params);
  void did_save(const json& params);
  void did_close(const json& params);

  const Document& document(const json& params) const;
  void changed(const std::string& uri);
  void publish(const Document& document);

  Phase phase_ = Phase::Starting;
  Workspace workspace_;
  std::set<std::string> pending_;  // URIs of documents to check
  std::vector<std::string> output_;
  std::optional<int> exit_status_;
};

/// Serves one client on `input`, writing each framed message through `write` (false: the client
/// is gone). The exit status: 0 after shutdown and exit, 1 when the input ends or exit comes
/// without shutdown, or when a write fails.
int serve(ByteSource& input, const std::function<bool(std::string_view)>& write);

}  // namespace tarn::tool::lsp
