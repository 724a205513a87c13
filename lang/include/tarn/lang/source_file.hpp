// Reading a script file whole as UTF-8 text: the verifier's script, imported files, `tarn check`.
#pragma once

#include <string>
#include <string_view>

#include "tarn/lang/result.hpp"

namespace tarn::lang {

/// Why a file could not be read, as the platform describes it (strerror text), or
/// "stream did not contain valid UTF-8" when the bytes are not UTF-8.
struct ReadError {
  std::string reason;
};

/// Reads the whole file at `path` (relative to the working directory). A directory, a missing or
/// unreadable file and invalid UTF-8 are failures. "-" is an ordinary file name here.
Result<std::string, ReadError> read_text_file(const std::string& path);

/// True when `bytes` is well-formed UTF-8 (no overlongs, no surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

}  // namespace tarn::lang
