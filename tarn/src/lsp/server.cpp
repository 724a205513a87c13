// The language server: see server.hpp. Each method is a row of one table, from its name to the
// member that handles it.
#include "server.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "outline.hpp"
#include "positions.hpp"

namespace tarn::tool::lsp {
namespace {

// A request that cannot be answered with a result.
struct RequestError {
  ErrorCode code;
  std::string message;
};

[[noreturn]] void invalid_params(std::string message) {
  throw RequestError{ErrorCode::InvalidParams, std::move(message)};
}

// How many files the aliases of a policy are gathered from, its imports' imports included.
constexpr std::size_t kMostImportsFollowed = 256;

enum class SymbolKind { Module = 2, Namespace = 3, Variable = 13 };
enum class CompletionKind { Variable = 6, Keyword = 14 };
enum class MessageType { Error = 1, Warning = 2, Info = 3, Log = 4 };

int severity_number(lang::DiagnosticSeverity severity) {
  switch (severity) {
    case lang::DiagnosticSeverity::Error: return 1;
    case lang::DiagnosticSeverity::Warning: return 2;
    case lang::DiagnosticSeverity::Note: return 3;
  }
  return 1;
}

std::uint32_t unsigned_member(const json& value, std::string_view key) {
  const json* found = member(value, key);
  if (found == nullptr || !found->is_number_integer() || found->get<std::int64_t>() < 0) {
    invalid_params("\"" + std::string(key) + "\" must be a whole number from 0");
  }
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(found->get<std::uint64_t>(),
                                                            UINT32_MAX));
}

Position position_param(const json& params) {
  const json* position = member(params, "position");
  if (position == nullptr) invalid_params("the request has no position");
  return {unsigned_member(*position, "line"), unsigned_member(*position, "character")};
}

std::string too_large_message() {
  return "this text is larger than a script may be (" + lang::limit_text(lang::kScriptTextLimit) +
         "); tarn does not check it";
}

// Texts of the files that diagnostics point into, each read and indexed once per publication.
class Texts {
 public:
  explicit Texts(const Workspace& workspace) : workspace_(workspace) {}

  /// The place of line:column in the file named `name`; counted in code points when the file
  /// cannot be read (then the two counts differ only beyond the Basic Multilingual Plane).
  Position position(const std::string& name, std::uint32_t line, std::uint32_t column) {
    auto [entry, added] = files_.try_emplace(name);
    if (added) {
      entry->second.text = workspace_.text_of(name);
      if (entry->second.text) entry->second.lines.emplace(*entry->second.text);
    }
    if (entry->second.lines) return entry->second.lines->position(line, column);
    if (line == 0) return {};
    return {line - 1, column == 0 ? 0 : column - 1};
  }

 private:
  struct File {
    std::optional<std::string> text;
    std::optional<LineIndex> lines;
  };
  const Workspace& workspace_;
  std::map<std::string, File> files_;
};

json location_json(const std::string& uri, Position start, Position end) {
  return {{"uri", uri}, {"range", range_json(start, end)}};
}

// One diagnostic of the checker as the protocol has it, published on `document`. A diagnostic in
// a file the document imports is shown at the document's import, naming its file and place.
std::optional<json> diagnostic_json(const lang::Diagnostic& diagnostic, const Document& document,
                                    const LineIndex& lines, const Workspace& workspace,
                                    Texts& texts) {
  json out{{"severity", severity_number(diagnostic.severity)},
           {"source", "tarn"},
           {"message", diagnostic.message}};
  if (!diagnostic.code.empty()) out["code"] = diagnostic.code;
  json related = json::array();
  for (const lang::RelatedLocation& place : diagnostic.related) {
    const bool here = place.file == document.name;
    const Position at = here ? lines.position(place.line, place.column)
                             : texts.position(place.file, place.line, place.column);
    related.push_back({{"location", location_json(here ? document.uri : workspace.uri_of(place.file),
                                                  at, at)},
                       {"message", place.message}});
  }
  if (diagnostic.file == document.name) {
    const Position start = lines.position(diagnostic.line, diagnostic.column);
    const Position end = diagnostic.end_line == 0
                             ? start
                             : lines.position(diagnostic.end_line, diagnostic.end_column);
    out["range"] = range_json(start, end);
  } else {
    const auto import = std::find_if(
        diagnostic.related.begin(), diagnostic.related.end(),
        [&](const lang::RelatedLocation& place) { return place.file == document.name; });
    if (import == diagnostic.related.end()) return std::nullopt;  // in an import's import
    const Position start = lines.position(import->line, import->column);
    const Position end = lines.position(import->line, import->column + 6);  // "import"
    out["range"] = range_json(start, end);
    const Position there = texts.position(diagnostic.file, diagnostic.line, diagnostic.column);
    out["message"] = "in " + diagnostic.file + ":" + std::to_string(diagnostic.line) + ":" +
                     std::to_string(diagnostic.column) + ": " + diagnostic.message;
    related.push_back({{"location", location_json(workspace.uri_of(diagnostic.file), there, there)},
                       {"message", diagnostic.message}});
  }
  if (!related.empty()) out["relatedInformation"] = std::move(related);
  return out;
}

// An alias statement of a policy or of a file it imports.
struct AliasDefinition {
  std::string name;
  json location;
};

// The aliases of `document` and of the files it imports, theirs too, in the order a reader meets
// them: the document's first, then each import's. Read from tokens, so a text that does not
// parse yet still offers its aliases.
std::vector<AliasDefinition> alias_definitions(const Document& document,
                                               const Workspace& workspace) {
  struct File {
    std::string name;
    std::string uri;
    std::string text;
  };
  std::vector<AliasDefinition> found;
  std::vector<File> queue{{document.name, document.uri, document.text}};
  std::set<std::string> seen{document.name};
  for (std::size_t next = 0; next < queue.size(); ++next) {
    const File file = std::move(queue[next]);
    const LineIndex lines(file.text);
    for (const Symbol& symbol : outline(file.text)) {
      if (symbol.kind == Symbol::Kind::Alias) {
        found.push_back({symbol.name, location_json(file.uri, lines.position(symbol.start),
                                                    lines.position(symbol.end))});
      } else if (symbol.kind == Symbol::Kind::Import && queue.size() < kMostImportsFollowed &&
                 seen.insert(symbol.name).second) {
        if (auto text = workspace.text_of(symbol.name)) {
          queue.push_back({symbol.name, workspace.uri_of(symbol.name), std::move(*text)});
        }
      }
    }
  }
  return found;
}

// Whether the string argument names an alias: the name of assert_bounds, if_greater_than, alias.
bool names_alias(const StringAt& string) {
  return (string.keyword == "assert_bounds" && string.argument == 2) ||
         (string.keyword == "if_greater_than" && string.argument == 0) ||
         (string.keyword == "alias" && string.argument == 1);
}

json symbol_json(const Symbol& symbol, const LineIndex& lines) {
  std::string name = symbol.name;
  std::replace_if(name.begin(), name.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  if (name.empty()) name = "\"\"";
  SymbolKind kind = SymbolKind::Namespace;
  if (symbol.kind == Symbol::Kind::Alias) kind = SymbolKind::Variable;
  if (symbol.kind == Symbol::Kind::Import) kind = SymbolKind::Module;
  return {{"name", name},
          {"kind", static_cast<int>(kind)},
          {"range", range_json(lines.position(symbol.start), lines.position(symbol.end))},
          {"selectionRange",
           range_json(lines.position(symbol.name_start), lines.position(symbol.name_end))},
          {"children", json::array()}};
}

}  // namespace

// --- The method table ------------------------------------------------------------------------

struct Server::Method {
  std::string_view name;
  json (Server::*request)(const json&) = nullptr;
  void (Server::*notification)(const json&) = nullptr;
};

const std::vector<Server::Method>& Server::methods() {
  static const std::vector<Method> kMethods{
      {"initialize", &Server::initialize, nullptr},
      {"initialized", nullptr, &Server::initialized},
      {"shutdown", &Server::shutdown, nullptr},
      {"exit", nullptr, &Server::exit},
      {"textDocument/didOpen", nullptr, &Server::did_open},
      {"textDocument/didChange", nullptr, &Server::did_change},
      {"textDocument/didSave", nullptr, &Server::did_save},
      {"textDocument/didClose", nullptr, &Server::did_close},
      {"textDocument/formatting", &Server::formatting, nullptr},
      {"textDocument/hover", &Server::hover, nullptr},
      {"textDocument/completion", &Server::completion, nullptr},
      {"textDocument/definition", &Server::definition, nullptr},
      {"textDocument/documentSymbol", &Server::document_symbol, nullptr},
  };
  return kMethods;
}

void Server::handle(std::string_view body) {
  auto message = decode_message(body);
  if (!message) {
    output_.push_back(
        error_response(message.error().id, message.error().code, message.error().message));
    return;
  }
  if (message->kind == Message::Kind::Response) return;  // the server asks nothing
  const bool request = message->kind == Message::Kind::Request;
  const auto& table = methods();
  const auto method = std::find_if(table.begin(), table.end(),
                                   [&](const Method& m) { return m.name == message->method; });
  const bool known = method != table.end() &&
                     (request ? method->request != nullptr : method->notification != nullptr);

  if (message->method == "exit" && !request) {
    exit(message->params);
    return;
  }
  if (!request) {
    // Notifications are never answered: one the server does not know, or one before initialize
    // or after shutdown, is dropped.
    if (!known || phase_ != Phase::Running) return;
  } else if (!known) {
    output_.push_back(error_response(message->id, ErrorCode::MethodNotFound,
                                     "unknown method: " + message->method));
    return;
  } else if (phase_ == Phase::Starting && message->method != "initialize") {
    output_.push_back(error_response(message->id, ErrorCode::ServerNotInitialized,
                                     "the server has not been initialized"));
    return;
  } else if (phase_ == Phase::ShutDown) {
    output_.push_back(error_response(message->id, ErrorCode::InvalidRequest,
                                     "the server is shut down; only exit is accepted"));
    return;
  } else if (phase_ == Phase::Running && message->method == "initialize") {
    output_.push_back(error_response(message->id, ErrorCode::InvalidRequest,
                                     "the server is already initialized"));
    return;
  }

  try {
    if (request) {
      json result = (this->*(method->request))(message->params);
      output_.push_back(response(message->id, std::move(result)));
    } else {
      (this->*(method->notification))(message->params);
    }
  } catch (const RequestError& error) {
    if (request) output_.push_back(error_response(message->id, error.code, error.message));
  } catch (const std::bad_alloc&) {
    if (request) {
      output_.push_back(error_response(message->id, ErrorCode::InternalError, "out of memory"));
    }
  } catch (const std::exception& error) {
    if (request) output_.push_back(error_response(message->id, ErrorCode::InternalError, error.what()));
  }
}

void Server::frame_error(const FrameError& error) {
  const MessageType type =
      error.kind == FrameErrorKind::TooLarge ? MessageType::Error : MessageType::Warning;
  output_.push_back(notification(
      "window/showMessage",
      {{"type", static_cast<int>(type)}, {"message", "tarn lsp: " + error.message}}));
}

// --- Life cycle ------------------------------------------------------------------------------

json Server::initialize(const json& params) {
  std::optional<std::string> root;
  if (const json* folders = member(params, "workspaceFolders");
      folders != nullptr && folders->is_array() && !folders->empty()) {
    if (auto uri = string_member((*folders)[0], "uri")) root = path_of_uri(*uri);
  }
  if (!root) {
    if (auto uri = string_member(params, "rootUri")) root = path_of_uri(*uri);
  }
  if (!root) root = string_member(params, "rootPath");
  if (root && root->empty()) root.reset();
  workspace_.set_root(std::move(root));
  phase_ = Phase::Running;
  return {{"capabilities",
           {{"textDocumentSync",
             {{"openClose", true}, {"change", 1}, {"save", {{"includeText", true}}}}},
            {"documentFormattingProvider", true},
            {"hoverProvider", true},
            {"completionProvider", {{"triggerCharacters", {"\""}}}},
            {"definitionProvider", true},
            {"documentSymbolProvider", true}}},
          {"serverInfo", {{"name", "tarn"}, {"version", TARN_VERSION}}}};
}

void Server::initialized(const json&) {}

json Server::shutdown(const json&) {
  phase_ = Phase::ShutDown;
  pending_.clear();
  return nullptr;
}

void Server::exit(const json&) { exit_status_ = phase_ == Phase::ShutDown ? 0 : 1; }

// --- Documents -------------------------------------------------------------------------------

const Document& Server::document(const json& params) const {
  const json* text_document = member(params, "textDocument");
  const auto uri = text_document != nullptr ? string_member(*text_document, "uri") : std::nullopt;
  if (!uri) invalid_params("the request names no textDocument.uri");
  const Document* found = workspace_.find(*uri);
  if (found == nullptr) invalid_params("the document is not open: " + *uri);
  return *found;
}

// Every open document is checked again: any of them may import the one that changed.
void Server::changed(const std::string&) {
  for (const auto& [uri, document] : workspace_.documents()) pending_.insert(uri);
}

void Server::did_open(const json& params) {
  const json* text_document = member(params, "textDocument");
  if (text_document == nullptr) return;
  const auto uri = string_member(*text_document, "uri");
  auto text = string_member(*text_document, "text");
  if (!uri || !text) return;
  workspace_.put(*uri, std::move(*text));
  changed(*uri);
}

void Server::did_change(const json& params) {
  const json* text_document = member(params, "textDocument");
  const json* changes = member(params, "contentChanges");
  if (text_document == nullptr || changes == nullptr || !changes->is_array()) return;
  const auto uri = string_member(*text_document, "uri");
  const Document* open = uri ? workspace_.find(*uri) : nullptr;
  if (open == nullptr) return;
  std::string text = open->text;
  for (const json& change : *changes) {
    auto replacement = string_member(change, "text");
    if (!replacement) return;
    const json* range = member(change, "range");
    if (range == nullptr) {
      text = std::move(*replacement);
      continue;
    }
    // The server asks for whole texts; a client that sends a range anyway gets it applied.
    const json* start = member(*range, "start");
    const json* end = member(*range, "end");
    if (start == nullptr || end == nullptr) return;
    const LineIndex lines(text);
    const std::size_t from =
        lines.offset({unsigned_member(*start, "line"), unsigned_member(*start, "character")});
    const std::size_t to = std::max(
        from, lines.offset({unsigned_member(*end, "line"), unsigned_member(*end, "character")}));
    text.replace(from, to - from, *replacement);
  }
  workspace_.put(*uri, std::move(text));
  changed(*uri);
}

void Server::did_save(const json& params) {
  const json* text_document = member(params, "textDocument");
  const auto uri = text_document != nullptr ? string_member(*text_document, "uri") : std::nullopt;
  if (!uri || workspace_.find(*uri) == nullptr) return;
  if (auto text = string_member(params, "text")) workspace_.put(*uri, std::move(*text));
  changed(*uri);
}

void Server::did_close(const json& params) {
  const json* text_document = member(params, "textDocument");
  const auto uri = text_document != nullptr ? string_member(*text_document, "uri") : std::nullopt;
  if (!uri || workspace_.find(*uri) == nullptr) return;
  workspace_.close(*uri);
  pending_.erase(*uri);
  output_.push_back(notification("textDocument/publishDiagnostics",
                                 {{"uri", *uri}, {"diagnostics", json::array()}}));
  changed(*uri);
}

// --- Diagnostics -----------------------------------------------------------------------------

void Server::publish_pending() {
  for (const std::string& uri : std::exchange(pending_, {})) {
    if (const Document* open = workspace_.find(uri)) publish(*open);
  }
}

void Server::publish(const Document& document) {
  json diagnostics = json::array();
  if (document.text.size() > lang::kScriptTextLimit) {
    diagnostics.push_back({{"severity", 1},
                           {"source", "tarn"},
                           {"message", too_large_message()},
                           {"range", range_json({}, {})}});
  } else {
    const std::vector<lang::PolicyFile> files{{document.name, document.text}};
    const lang::CheckReport report = lang::check_policies(files, {.read = workspace_.reader()});
    const LineIndex lines(document.text);
    Texts texts(workspace_);
    for (const lang::Diagnostic& diagnostic : report.diagnostics) {
      if (auto converted = diagnostic_json(diagnostic, document, lines, workspace_, texts)) {
        diagnostics.push_back(std::move(*converted));
      }
    }
  }
  output_.push_back(notification("textDocument/publishDiagnostics",
                                 {{"uri", document.uri}, {"diagnostics", std::move(diagnostics)}}));
}

// --- Requests on a document ------------------------------------------------------------------

json Server::formatting(const json& params) {
  const Document& open = document(params);
  if (open.text.size() > lang::kScriptTextLimit) return json::array();
  const auto formatted = lang::format_policy(open.text);
  if (!formatted || *formatted == open.text) return json::array();  // no edit for a parse error
  const LineIndex lines(open.text);
  return json::array(
      {{{"range", range_json({}, lines.position(open.text.size()))}, {"newText", *formatted}}});
}

json Server::hover(const json& params) {
  const Document& open = document(params);
  const LineIndex lines(open.text);
  const auto word = word_at(open.text, lines.offset(position_param(params)));
  if (!word) return nullptr;
  const lang::KeywordHelp* help =
      lang::find_keyword_help(std::string_view(open.text).substr(word->offset, word->length));
  if (help == nullptr) return nullptr;
  return {{"contents",
           {{"kind", "markdown"},
            {"value", "```tarn\n" + std::string(help->form) + "\n```\n\n" +
                          std::string(help->meaning)}}},
          {"range", range_json(lines.position(word->offset), lines.position(word->end()))}};
}

json Server::completion(const json& params) {
  const Document& open = document(params);
  const std::size_t offset = LineIndex(open.text).offset(position_param(params));
  json items = json::array();
  if (const auto string = string_at(open.text, offset)) {
    if (!names_alias(*string) || string->keyword == "alias") return items;
    std::set<std::string> offered;
    for (const AliasDefinition& alias : alias_definitions(open, workspace_)) {
      if (!offered.insert(alias.name).second) continue;
      items.push_back({{"label", alias.name},
                       {"kind", static_cast<int>(CompletionKind::Variable)},
                       {"detail", "alias"}});
    }
  } else if (at_statement_start(open.text, offset)) {
    for (const lang::KeywordHelp& help : lang::keyword_help()) {
      items.push_back({{"label", help.keyword},
                       {"kind", static_cast<int>(CompletionKind::Keyword)},
                       {"detail", help.form},
                       {"documentation", help.meaning},
                       {"insertText", help.snippet},
                       {"insertTextFormat", 2}});
    }
  }
  return {{"isIncomplete", false}, {"items", std::move(items)}};
}

json Server::definition(const json& params) {
  const Document& open = document(params);
  const std::size_t offset = LineIndex(open.text).offset(position_param(params));
  const auto string = string_at(open.text, offset);
  if (!string) return nullptr;
  const std::string name(string->token.contents(open.text));
  if (string->keyword == "import" && string->argument == 0) {
    return location_json(workspace_.uri_of(name), {}, {});
  }
  if (!names_alias(*string)) return nullptr;
  json locations = json::array();
  for (AliasDefinition& alias : alias_definitions(open, workspace_)) {
    if (alias.name == name) locations.push_back(std::move(alias.location));
  }
  if (locations.empty()) return nullptr;
  return locations;
}

json Server::document_symbol(const json& params) {
  const Document& open = document(params);
  const std::vector<Symbol> symbols = outline(open.text);
  const LineIndex lines(open.text);
  std::vector<json> nodes;
  nodes.reserve(symbols.size());
  for (const Symbol& symbol : symbols) nodes.push_back(symbol_json(symbol, lines));
  // A child follows its block, so from the last symbol back each one is complete when it moves
  // into its parent (its children were added last first, and are turned round).
  json roots = json::array();
  for (std::size_t i = symbols.size(); i-- > 0;) {
    json& children = nodes[i]["children"];
    std::reverse(children.begin(), children.end());
    if (symbols[i].parent) {
      nodes[*symbols[i].parent]["children"].push_back(std::move(nodes[i]));
    } else {
      roots.push_back(std::move(nodes[i]));
    }
  }
  std::reverse(roots.begin(), roots.end());
  return roots;
}

// --- The loop --------------------------------------------------------------------------------

int serve(ByteSource& input, const std::function<bool(std::string_view)>& write) {
  // Diagnostics wait while more input is there, but not for longer than this many messages, so
  // that a client that never pauses still sees them.
  constexpr std::size_t kMostDeferred = 64;
  MessageReader reader(input);
  Server server;
  std::size_t deferred = 0;
  for (;;) {
    if (server.has_pending() && (deferred >= kMostDeferred || !reader.input_waiting())) {
      server.publish_pending();
      deferred = 0;
    }
    for (const std::string& body : server.take_output()) {
      if (!write(frame(body))) return 1;
    }
    if (const auto status = server.exit_status()) return *status;

    auto body = reader.next();
    if (body) {
      server.handle(*body);
    } else if (body.error().kind == FrameErrorKind::End) {
      return server.shut_down() ? 0 : 1;
    } else {
      server.frame_error(body.error());
    }
    if (server.has_pending()) ++deferred;
  }
}

}  // namespace tarn::tool::lsp
