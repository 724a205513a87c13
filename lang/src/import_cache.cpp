// What a run keeps of the files it imports (see import_cache.hpp).
#include "import_cache.hpp"

#include <utility>

namespace tarn::lang::detail {

Result<std::uint32_t, ReadError> ImportCache::find(const std::string& name,
                                                   std::size_t max_bytes,
                                                   std::optional<FileText>& fresh) {
  const std::optional<FileStamp> now = files_.stamp(name);
  const auto known = current_.find(name);
  ImportedFile* previous = known != current_.end() ? &files_read_[known->second - 1] : nullptr;
  if (previous != nullptr && now && previous->stamp == now && (previous->text || !locate_)) {
    return known->second;
  }

  make_room(now ? now->size : max_bytes);
  auto read = files_.read(name, max_bytes);
  if (!read) return fail(std::move(read).error());
  // Read again, but unchanged: what was parsed from it serves (and the text, if it went, is back).
  if (previous != nullptr &&
      (read->stamp ? read->stamp == previous->stamp
                   : previous->text && previous->text->view() == read->text.view())) {
    if (locate_ && !previous->text) hold(*previous, std::move(read->text));
    return known->second;
  }
  fresh = std::move(*read);
  return 0;
}

std::uint32_t ImportCache::add(const std::string& name, FileText fresh,
                               std::shared_ptr<const Program> program) {
  const auto id = static_cast<std::uint32_t>(files_read_.size() + 1);
  auto [known, added] = current_.try_emplace(name, id);
  if (!added) {
    // The name's earlier text is no longer what an import finds: it goes once no import runs it.
    ImportedFile& earlier = files_read_[known->second - 1];
    earlier.current = false;
    if (earlier.open == 0) let_go(earlier);
    known->second = id;
  }
  ImportedFile& file = files_read_.emplace_back();
  file.name = name;
  file.stamp = fresh.stamp;
  file.program = std::move(program);
  file.size = fresh.text.size();
  // Without a stamp only the text tells whether the file changed.
  if (locate_ || !file.stamp) hold(file, std::move(fresh.text));
  return id;
}

void ImportCache::enter(std::uint32_t file, std::uint64_t bytes) {
  files_read_[file - 1].open += 1;
  open_text_bytes_ += bytes;
}

void ImportCache::leave(std::uint32_t file, std::uint64_t bytes) {
  ImportedFile& left = files_read_[file - 1];
  left.open -= 1;
  open_text_bytes_ -= bytes;
  if (left.open == 0 && !left.current) let_go(left);
}

void ImportCache::hold(ImportedFile& file, SourceText text) {
  held_bytes_ += text.size();
  file.text = std::move(text);
}

void ImportCache::let_go(ImportedFile& file) {
  if (!file.text) return;
  held_bytes_ -= file.text->size();
  file.text.reset();
}

void ImportCache::make_room(std::uint64_t bytes) {
  if (held_bytes_ <= budget_ && bytes <= budget_ - held_bytes_) return;
  for (ImportedFile& file : files_read_) {
    if (file.open == 0) let_go(file);
  }
}

}  // namespace tarn::lang::detail
