// Test fixtures shared by every test binary: a scratch directory per test, and repeated text.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

namespace tarn::testing {

/// A fresh, empty directory named after the running test, removed again when the test ends.
/// Scripts written into it can be named by absolute path (file) or, with the tool started in
/// the directory (path), by relative path.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path() const { return path_.string(); }
  /// The absolute path of `name` inside the directory.
  std::string file(const std::string& name) const { return (path_ / name).string(); }
  /// Writes `text` to `name` inside the directory, creating or truncating it; returns its path.
  std::string write(const std::string& name, const std::string& text) const;
  /// Creates the subdirectory `name` and returns its absolute path.
  std::string make_dir(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

/// `text` repeated `count` times. **Example**: repeat("if_broken {", 3).
std::string repeat(std::string_view text, std::size_t count);

}  // namespace tarn::testing
