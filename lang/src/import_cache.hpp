// What a run keeps of the files it imports.
//
// A file is often imported again: a file that imports itself does so at every level, a shared one
// wherever it is needed. What was parsed from a file is reused while the file's stamp (device,
// inode, size, modification time) is unchanged, so an import repeated costs a stat, not a read and
// a parse; a changed file is read and parsed anew.
//
// The parsed programs stay for the whole run anyway: the run's log refers to their instructions.
// The texts need not. A text serves only to locate run errors in its file (when the policy was
// compiled with spans) and, for a file without a stamp, to tell whether it changed. So a text is
// kept only for those, and the texts kept after their imports ended count against the same budget
// as the imports open (kScriptTextLimit): a text that would not fit beside them lets them go.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tarn/lang/file_access.hpp"
#include "tarn/lang/instruction.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang::detail {

/// One text of one imported file, as the run read it.
struct ImportedFile {
  std::string name;  // as the import names it
  std::optional<FileStamp> stamp;
  std::shared_ptr<const Program> program;
  std::optional<SourceText> text;  // kept, see above; always there while open when locating
  std::uint64_t size = 0;          // bytes of the text
  std::uint32_t open = 0;          // imports of it running now
  bool current = true;             // still what an import of `name` finds, unless it changed
};

class ImportCache {
 public:
  /// `files` reads the texts; `budget` bounds the texts held; `locate` keeps each text while
  /// its imports run.
  ImportCache(const FileAccess& files, std::uint64_t budget, bool locate)
      : files_(files), budget_(budget), locate_(locate) {}

  /// The file (1, 2, ...) that an import of `name` runs when one parsed before still is what
  /// `name` holds. Otherwise 0, with the text read (at most `max_bytes`) in `fresh`, for the
  /// caller to parse and add().
  Result<std::uint32_t, ReadError> find(const std::string& name, std::size_t max_bytes,
                                        std::optional<FileText>& fresh);
  /// Adds the program parsed from `fresh`, as the current file of `name`.
  std::uint32_t add(const std::string& name, FileText fresh,
                    std::shared_ptr<const Program> program);

  /// An import of `file` starts, holding `bytes` of text open until it ends (leave()).
  void enter(std::uint32_t file, std::uint64_t bytes);
  void leave(std::uint32_t file, std::uint64_t bytes);

  const ImportedFile& operator[](std::uint32_t file) const { return files_read_[file - 1]; }
  /// The bytes of text that the imports now running hold, one count per running import.
  std::uint64_t open_text_bytes() const { return open_text_bytes_; }

 private:
  void hold(ImportedFile& file, SourceText text);
  void let_go(ImportedFile& file);
  /// Lets go of the texts of files no import runs when `bytes` more would pass the budget.
  void make_room(std::uint64_t bytes);

  const FileAccess& files_;
  std::uint64_t budget_;
  bool locate_;
  std::vector<ImportedFile> files_read_;
  std::unordered_map<std::string, std::uint32_t> current_;  // name -> its current file
  std::uint64_t held_bytes_ = 0;
  std::uint64_t open_text_bytes_ = 0;
};

}  // namespace tarn::lang::detail
