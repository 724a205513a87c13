// What the fuzz targets assert. A broken property aborts, which both libFuzzer and the replay
// runner report as a failure together with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace tarn::fuzz {

inline void require(bool property, const char* what) {
  if (!property) {
    std::fprintf(stderr, "fuzz oracle failed: %s\n", what);
    std::abort();
  }
}

}  // namespace tarn::fuzz
