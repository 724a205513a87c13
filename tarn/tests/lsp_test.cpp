// `tarn lsp` through its pipes: framing and bad input never stop the server, places are counted
// in UTF-16, imports are read from the editor's buffers, a burst of changes is checked once, and
// the editors' grammar lists the library's keywords.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tarn/lang/keywords.hpp"
#include "tarn/testing/process.hpp"
#include "tarn/testing/scratch.hpp"

namespace {

using nlohmann::json;
using tarn::testing::ScratchDir;

std::string framed(const std::string& body) {
  return "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string request(int id, const std::string& method, const json& params = json::object()) {
  return framed(json{{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}}.dump());
}

std::string notice(const std::string& method, const json& params) {
  return framed(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}}.dump());
}

json place(const std::string& uri, unsigned line, unsigned character) {
  return {{"textDocument", {{"uri", uri}}},
          {"position", {{"line", line}, {"character", character}}}};
}

// `tarn lsp` as a child process, written to and read from message by message.
class Session {
 public:
  explicit Session(const std::string& root = "/nonexistent") : root_(root) {
    int in[2];
    int out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(in[0], STDIN_FILENO);
      ::dup2(out[1], STDOUT_FILENO);
      const int null_fd = ::open("/dev/null", O_WRONLY);
      ::dup2(null_fd, STDERR_FILENO);
      for (int fd = 3; fd < 1024; ++fd) ::close(fd);
      const std::string tool = tarn::testing::tool_path("tarn");
      ::execl(tool.c_str(), tool.c_str(), "lsp", static_cast<char*>(nullptr));
      _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    to_ = in[1];
    from_ = out[0];
  }
  ~Session() {
    close_input();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::close(from_);
  }

  void send(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::write(to_, bytes.data() + done, bytes.size() - done);
      ASSERT_GT(n, 0);
      done += static_cast<std::size_t>(n);
    }
  }
  void initialize() {
    send(request(0, "initialize", {{"rootUri", "file://" + root_}}));
    ASSERT_TRUE(next().has_value());
  }
  void close_input() {
    if (to_ >= 0) ::close(to_);
    to_ = -1;
  }

  /// The next message, or none when the server sends nothing within five seconds.
  std::optional<json> next() {
    for (;;) {
      const std::size_t header_end = buffer_.find("\r\n\r\n");
      if (header_end != std::string::npos) {
        const std::size_t length = std::stoul(buffer_.substr(16, header_end - 16));
        if (buffer_.size() >= header_end + 4 + length) {
          json message = json::parse(buffer_.substr(header_end + 4, length));
          buffer_.erase(0, header_end + 4 + length);
          return message;
        }
      }
      pollfd entry{from_, POLLIN, 0};
      if (::poll(&entry, 1, 5000) <= 0) return std::nullopt;
      char chunk[65536];
      const ssize_t n = ::read(from_, chunk, sizeof chunk);
      if (n <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  /// The next message that `wanted` accepts; the others are counted in `skipped`.
  std::optional<json> next_where(const std::function<bool(const json&)>& wanted,
                                 int* skipped = nullptr) {
    while (auto message = next()) {
      if (wanted(*message)) return message;
      if (skipped != nullptr) ++*skipped;
    }
    return std::nullopt;
  }

  /// The exit status, waiting at most five seconds.
  int wait() {
    for (int i = 0; i < 500; ++i) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10000);
    }
    return -1;
  }

 private:
  std::string root_;
  pid_t pid_ = -1;
  int to_ = -1;
  int from_ = -1;
  std::string buffer_;
};

bool is_diagnostics(const json& message) {
  return message.value("method", "") == "textDocument/publishDiagnostics";
}

TEST(LspProtocol, BadInputIsAnsweredAndServingGoesOn) {
  struct Case {
    const char* name;
    std::string bytes;
    int code;  // the error answered; 0: a window/showMessage; 1: nothing at all
  };
  const Case cases[] = {
      {"not JSON", framed("{\"jsonrpc\":"), -32700},
      {"not an object", framed("[1, 2]"), -32600},
      {"an id that is an object", framed(R"({"jsonrpc":"2.0","id":{},"method":"x"})"), -32600},
      {"no jsonrpc member", framed(R"({"id":3,"method":"shutdown"})"), -32600},
      {"a method that is a number", framed(R"({"jsonrpc":"2.0","id":3,"method":7})"), -32600},
      {"params that are a string", framed(R"({"jsonrpc":"2.0","id":3,"method":"a","params":"x"})"),
       -32600},
      {"nested too deep", framed(std::string(100, '[') + std::string(100, ']')), -32600},
      {"an unknown request", request(3, "workspace/frobnicate"), -32601},
      {"a hover without a position", request(3, "textDocument/hover", {{"textDocument", {{"uri", "file:///x"}}}}),
       -32602},
      {"an unknown notification", notice("$/frobnicate", json::object()), 1},
      {"a second initialize", request(3, "initialize"), -32600},
      {"no Content-Length", "Content-Type: text/plain\r\n\r\n{}", 0},
      {"a length that is no number", "Content-Length: 12x\r\n\r\n{}", 0},
      {"a header without end", std::string(9000, 'h'), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Session session;
    session.initialize();
    session.send(c.bytes);
    session.send(request(99, "shutdown"));
    const auto first = session.next();
    ASSERT_TRUE(first.has_value());
    if (c.code == 0) {
      EXPECT_EQ(first->value("method", ""), "window/showMessage");
    } else if (c.code == 1) {
      EXPECT_EQ((*first)["id"], 99);
    } else {
      EXPECT_EQ((*first)["error"]["code"], c.code) << first->dump();
    }
    const auto answer = c.code == 1 ? first : session.next_where([](const json& m) {
      return m.contains("id") && m["id"] == 99;
    });
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE((*answer)["result"].is_null());
    session.send(notice("exit", json::object()));
    EXPECT_EQ(session.wait(), 0);
  }
}

TEST(LspProtocol, LifeCycle) {
  {  // before initialize, requests are refused and the server carries on
    Session session;
    session.send(request(1, "textDocument/hover"));
    EXPECT_EQ((*session.next())["error"]["code"], -32002);
  }
  {  // after shutdown only exit counts; exit without shutdown is status 1
    Session session;
    session.initialize();
    session.send(request(1, "shutdown") + request(2, "textDocument/hover"));
    EXPECT_TRUE((*session.next())["result"].is_null());
    EXPECT_EQ((*session.next())["error"]["code"], -32600);
  }
  {
    Session session;
    session.initialize();
    session.send(notice("exit", json::object()));
    EXPECT_EQ(session.wait(), 1);
  }
  {  // a length of 2^40 is refused without being waited for; the end of input ends the server
    Session session;
    session.initialize();
    session.send("Content-Length: 1099511627776\r\n\r\n{}");
    EXPECT_EQ((*session.next())["params"]["type"], 1);
    session.close_input();
    EXPECT_EQ(session.wait(), 1);
  }
}

// The library counts columns in characters; the protocol in UTF-16 code units.
TEST(LspProtocol, PlacesAreCountedInUtf16) {
  struct Case {
    std::string before;  // inside the string in front of the unknown name
    unsigned character;  // where the name begins, in UTF-16 code units
  };
  const Case cases[] = {{"", 12}, {"\u00e9", 13}, {"\U0001F600", 14}, {"\u4e2d\U0001F600\U0001F600", 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    Session session;
    session.initialize();
    const std::string text = "report()\nescalate(\"" + c.before + "\")bogus(1)\n";
    session.send(notice("textDocument/didOpen",
                        {{"textDocument", {{"uri", "file:///p.tarn"}, {"text", text}}}}));
    const auto published = session.next_where(is_diagnostics);
    ASSERT_TRUE(published.has_value());
    const json& range = published->at("params").at("diagnostics").at(0).at("range");
    EXPECT_EQ(range["start"], json({{"line", 1}, {"character", c.character}}));
    EXPECT_EQ(range["end"], json({{"line", 1}, {"character", c.character + 5}}));
    // And back: hover on the "e" of escalate's name, then inside `bogus`: no keyword, no help.
    session.send(request(1, "textDocument/hover", place("file:///p.tarn", 1, 2)));
    EXPECT_EQ((*session.next())["result"]["range"]["end"]["character"], 8);
    session.send(request(2, "textDocument/hover", place("file:///p.tarn", 1, c.character + 1)));
    EXPECT_TRUE((*session.next())["result"].is_null());
  }
}

TEST(LspWorkspace, ImportsComeFromOpenBuffersFirst) {
  ScratchDir dir;
  dir.write("shared.tarn", "alias(0, \"on_disk\")\n");
  const std::string shared = "file://" + dir.file("shared.tarn");
  const std::string policy = "file://" + dir.file("p.tarn");
  Session session(dir.path());
  session.initialize();
  session.send(notice("textDocument/didOpen",
                      {{"textDocument", {{"uri", shared}, {"text", "alias(1, \"unsaved\")\n"}}}}));
  session.send(notice(
      "textDocument/didOpen",
      {{"textDocument",
        {{"uri", policy}, {"text", "import(\"shared.tarn\")\nassert_bounds(0, 1, \"unsaved\")\n"}}}}));
  const auto published = session.next_where(
      [&](const json& m) { return is_diagnostics(m) && m["params"]["uri"] == policy; });
  ASSERT_TRUE(published.has_value());
  EXPECT_EQ(published->at("params").at("diagnostics"), json::array());

  const json at_name = place(policy, 1, 22);
  session.send(request(1, "textDocument/completion", at_name));
  const auto completion = session.next_where([](const json& m) { return m.contains("id"); });
  EXPECT_EQ(completion->at("result").at("items").at(0).at("label"), "unsaved");
  session.send(request(2, "textDocument/definition", at_name));
  const auto definition = session.next_where([](const json& m) { return m.contains("id"); });
  EXPECT_EQ(definition->at("result").at(0).at("uri"), shared);
}

TEST(LspWorkspace, ABurstOfChangesIsCheckedInItsLatestText) {
  Session session;
  session.initialize();
  std::string burst = notice("textDocument/didOpen",
                             {{"textDocument", {{"uri", "file:///p.tarn"}, {"text", ""}}}});
  for (int i = 1; i <= 30; ++i) {
    const std::string text = i < 30 ? "report()\n" : "report()\nbogus(1)\n";
    burst += notice("textDocument/didChange", {{"textDocument", {{"uri", "file:///p.tarn"}}},
                                               {"contentChanges", {{{"text", text}}}}});
  }
  session.send(burst);
  int earlier = 0;
  const auto published = session.next_where(
      [](const json& m) { return is_diagnostics(m) && !m["params"]["diagnostics"].empty(); },
      &earlier);
  ASSERT_TRUE(published.has_value());
  EXPECT_LE(earlier, 2);
}

// The editors' grammar colours exactly the library's keywords.
TEST(LspKeywords, TheGrammarListsEveryKeyword) {
  std::ifstream file(std::string(TARN_SOURCE_DIR) + "/editors/tarn.tmLanguage.json");
  const json grammar = json::parse(std::string(std::istreambuf_iterator<char>(file), {}));
  const std::string match = grammar.at("repository").at("keywords").at("match");
  const std::regex word("[a-z_]+");
  std::set<std::string> listed;
  for (auto it = std::sregex_iterator(match.begin(), match.end(), word); it != std::sregex_iterator();
       ++it) {
    if (it->str() != "b") listed.insert(it->str());
  }
  std::set<std::string> known;
  for (const auto& help : tarn::lang::keyword_help()) known.insert(std::string(help.keyword));
  EXPECT_EQ(listed, known);
}

}  // namespace
