// The open documents and the workspace folder they belong to.
//
// The checker names files as a run would: the policy by its path and each import by the path it
// gives, both relative to the working directory, which for the editor is the workspace folder.
// So a document is checked under its path relative to the folder, and an import is read from the
// editor's buffer when the file is open there (its unsaved text is what the author sees), else
// from beneath the folder (never outside it).
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "tarn/tarn.hpp"

namespace tarn::tool::lsp {

struct Document {
  std::string uri;
  std::string name;  // as the checker names it: the path relative to the workspace folder
  std::string text;
};

class Workspace {
 public:
  Workspace();

  /// Sets the workspace folder (an absolute path); none: imports resolve against the working
  /// directory, as for `tarn check`.
  void set_root(std::optional<std::string> root);

  /// Opens a document or replaces its text.
  const Document& put(const std::string& uri, std::string text);
  void close(const std::string& uri);
  const Document* find(const std::string& uri) const;
  const std::map<std::string, Document, std::less<>>& documents() const { return documents_; }

  /// How the checker reads an import: an open document of that name first, then the file.
  lang::ReadSource reader() const;
  /// The text of the file the checker names `name`, as reader() reads it; none when unreadable.
  std::optional<std::string> text_of(const std::string& name) const;
  /// The URI of the file the checker names `name`.
  std::string uri_of(const std::string& name) const;

 private:
  std::string name_of(const std::string& uri) const;
  const Document* find_by_name(const std::string& name) const;

  std::optional<std::string> root_;
  std::unique_ptr<lang::FileAccess> files_;
  std::map<std::string, Document, std::less<>> documents_;  // by URI
};

/// The path a file URI names (percent escapes decoded); none for another scheme or a path that
/// holds a NUL. **Example**: "file:///a%20b/p.tarn" -> "/a b/p.tarn".
std::optional<std::string> path_of_uri(std::string_view uri);

/// The file URI of an absolute path. **Example**: "/a b/p.tarn" -> "file:///a%20b/p.tarn".
std::string uri_of_path(std::string_view path);

}  // namespace tarn::tool::lsp
