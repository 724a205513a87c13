// The open documents and the workspace folder: see documents.hpp.
#include "documents.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarn::tool::lsp {
namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What a URI's path keeps as it is; every other byte is written %XX.
bool unreserved(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~' || c == '/';
}

std::string normal(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().string();
}

}  // namespace

std::optional<std::string> path_of_uri(std::string_view uri) {
  constexpr std::string_view kScheme = "file://";
  if (!uri.starts_with(kScheme)) return std::nullopt;
  uri.remove_prefix(kScheme.size());
  // "file://host/path": only the local host is ours.
  const std::size_t slash = uri.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view host = uri.substr(0, slash);
  if (!host.empty() && host != "localhost") return std::nullopt;
  uri.remove_prefix(slash);
  std::string path;
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] == '?' || uri[i] == '#') break;
    if (uri[i] == '%' && i + 2 < uri.size() + 0 && hex_value(uri[i + 1]) >= 0 &&
        hex_value(uri[i + 2]) >= 0) {
      path += static_cast<char>(hex_value(uri[i + 1]) * 16 + hex_value(uri[i + 2]));
      i += 2;
    } else {
      path += uri[i];
    }
  }
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return path;
}

std::string uri_of_path(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (const char c : path) {
    if (unreserved(c)) {
      uri += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      uri += '%';
      uri += kHex[byte >> 4];
      uri += kHex[byte & 15];
    }
  }
  return uri;
}

Workspace::Workspace() : files_(std::make_unique<lang::WorkingDirectoryFiles>()) {}

void Workspace::set_root(std::optional<std::string> root) {
  root_ = std::move(root);
  if (!root_) {
    files_ = std::make_unique<lang::WorkingDirectoryFiles>();
  } else if (auto confined = lang::ConfinedFiles::open(*root_)) {
    files_ = std::make_unique<lang::ConfinedFiles>(std::move(*confined));
  } else {
    files_ = std::make_unique<lang::NoFiles>();
  }
  for (auto& [uri, document] : documents_) document.name = name_of(uri);
}

std::string Workspace::name_of(const std::string& uri) const {
  const std::optional<std::string> path = path_of_uri(uri);
  if (!path) return uri;
  const std::filesystem::path base = root_ ? std::filesystem::path(*root_)
                                           : std::filesystem::current_path();
  const std::filesystem::path relative =
      std::filesystem::path(*path).lexically_normal().lexically_relative(base.lexically_normal());
  if (relative.empty() || *relative.begin() == "..") return *path;
  return relative.string();
}

const Document& Workspace::put(const std::string& uri, std::string text) {
  Document& document = documents_[uri];
  document.uri = uri;
  document.name = name_of(uri);
  document.text = std::move(text);
  return document;
}

void Workspace::close(const std::string& uri) { documents_.erase(uri); }

const Document* Workspace::find(const std::string& uri) const {
  const auto found = documents_.find(uri);
  return found == documents_.end() ? nullptr : &found->second;
}

const Document* Workspace::find_by_name(const std::string& name) const {
  const std::string wanted = normal(name);
  for (const auto& [uri, document] : documents_) {
    if (normal(document.name) == wanted) return &document;
  }
  return nullptr;
}

lang::ReadSource Workspace::reader() const {
  lang::ReadSource from_files = lang::read_through(*files_);
  return [this, from_files = std::move(from_files)](
             const std::string& name) -> tarn::Result<lang::SourceText, lang::ReadError> {
    if (const Document* open = find_by_name(name)) {
      if (open->text.size() > lang::kScriptTextLimit) {
        return tarn::fail(lang::ReadError{
            "text exceeds " + std::to_string(lang::kScriptTextLimit) + " bytes", true});
      }
      return lang::SourceText(open->text);
    }
    return from_files(name);
  };
}

std::optional<std::string> Workspace::text_of(const std::string& name) const {
  auto text = reader()(name);
  if (!text) return std::nullopt;
  return std::move(*text).release();
}

std::string Workspace::uri_of(const std::string& name) const {
  if (const Document* open = find_by_name(name)) return open->uri;
  const std::filesystem::path path(name);
  if (path.is_absolute()) return uri_of_path(normal(name));
  const std::filesystem::path base =
      root_ ? std::filesystem::path(*root_) : std::filesystem::current_path();
  return uri_of_path((base / path).lexically_normal().string());
}

}  // namespace tarn::tool::lsp
