// Rewriting a file in place without a moment in which it is half written.
#pragma once

#include <string>
#include <string_view>

#include "tarn/lang/result.hpp"

namespace tarn::tool {

/// Replaces the contents of the file at `path` by `bytes`: they are written to a new file in the
/// same directory, with the old file's permission bits, flushed to the device, and renamed over
/// it, so that a reader (or a crash) sees the old text or the new one, never a mix. A symbolic
/// link is followed: the file it names is replaced and the link stays. On failure the file is as
/// it was and the error is the platform's reason.
/// **Example**: replace_file("policy.tarn", "report()\n").
Result<void, std::string> replace_file(const std::string& path, std::string_view bytes);

}  // namespace tarn::tool
