// Reading a script whole as UTF-8 text: the verifier's script, imported files, the scripts of
// `tarn check` and `tarn run` (from standard input too).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "tarn/lang/limits.hpp"
#include "tarn/lang/result.hpp"

namespace tarn::lang {

/// Why a file could not be read, as the platform describes it (strerror text), or
/// "stream did not contain valid UTF-8" when the bytes are not UTF-8.
struct ReadError {
  std::string reason;
  bool too_large = false;  // the text went past the size limit of the read
};

/// A text read whole from a file. Move-only; its bytes do not move when it does.
///
/// A large regular file is read into pages mapped and filled in one call for the purpose, not
/// into a string: writing a fresh string faults its pages in one at a time, which cost a 700 KB
/// script more than a quarter of a millisecond.
class SourceText {
 public:
  SourceText() = default;
  explicit SourceText(std::string text) : owned_(std::move(text)) {}
  SourceText(SourceText&& other) noexcept;
  SourceText& operator=(SourceText&& other) noexcept;
  SourceText(const SourceText&) = delete;
  SourceText& operator=(const SourceText&) = delete;
  ~SourceText() { unmap(); }

  std::string_view view() const noexcept {
    return mapped_ != nullptr ? std::string_view(mapped_, size_) : std::string_view(owned_);
  }
  operator std::string_view() const noexcept { return view(); }  // NOLINT: a text is a view
  std::size_t size() const noexcept { return view().size(); }
  /// The text as a string, moved out when it is held as one.
  std::string release() &&;

 private:
  friend class TextReader;  // fills mapped pages in place
  void unmap() noexcept;

  std::string owned_;
  char* mapped_ = nullptr;  // when set, the text is mapped_[0, size_) of mapped_bytes_ mapped
  std::size_t size_ = 0;
  std::size_t mapped_bytes_ = 0;
};

/// Reads the whole file at `path` (relative to the working directory). A directory, a missing or
/// unreadable file, more than `max_bytes` of text, a FIFO that no process writes to, and invalid
/// UTF-8 are failures, and so is a path that holds a NUL byte. "-" is an ordinary file name here.
/// **Example**: read_text_file("/dev/zero").error().reason == "text exceeds 268435456 bytes".
Result<SourceText, ReadError> read_text_file(const std::string& path,
                                             std::size_t max_bytes = kScriptTextLimit);

/// Reads the open descriptor `fd` (standard input, say) from where it stands to its end, by the
/// rules of read_text_file; it neither closes the descriptor nor changes its flags. A pipe whose
/// writer has closed it without writing is the empty text here.
/// **Example**: read_text(STDIN_FILENO) with "report()" piped in -> "report()".
Result<SourceText, ReadError> read_text(int fd, std::size_t max_bytes = kScriptTextLimit);

/// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

}  // namespace tarn::lang
