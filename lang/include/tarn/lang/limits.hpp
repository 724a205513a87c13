// The limits of a script run, in one place: how much script text a run holds, how much
// executed-command text it may record, how much fuel it gets unless told otherwise.
//
// Every message that states a limit is built from its constant here (limit_text), so a limit and
// its message cannot drift apart.
#pragma once

#include <cstdint>
#include <string>

namespace tarn::lang {

/// The most script text a run holds (256 MiB): the most read from one file, and the most that
/// the imports open at one time hold together, so one imported file can never pass the second
/// bound alone. Without it a device such as /dev/zero would be read until memory runs out.
inline constexpr std::uint64_t kScriptTextLimit = std::uint64_t{256} << 20;

/// The most executed-command text (1 GiB) that a lineage record, or the result document of
/// `tarn run`, may hold. Those texts grow with the square of the nesting depth: a short script
/// nested deep on a damaged memory starts blocks whose texts total many gigabytes.
inline constexpr std::uint64_t kCommandTextLimit = std::uint64_t{1} << 30;

/// The fuel of a run when the caller names none.
inline constexpr std::uint64_t kDefaultFuel = 100000;

/// A limit in bytes as messages state it: in GiB or MiB when it is a whole number of them, else
/// in bytes. **Example**: kScriptTextLimit -> "256 MiB", kCommandTextLimit -> "1 GiB",
/// 1000 -> "1000 bytes".
inline std::string limit_text(std::uint64_t bytes) {
  constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  if (bytes != 0 && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
  if (bytes != 0 && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace tarn::lang
