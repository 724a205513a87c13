// The memory the verifier builds for payload 1337, shared by the run tests.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tarn/memory/state_memory.hpp"

namespace tarn::lang {

/// The driver's memory for payload 1337, optionally with one position zeroed.
struct Memory {
  std::array<std::int8_t, 4> signs = memory::kDefaultSigns;
  std::array<double, 4> values = memory::encode(1337.0);
  static Memory damaged(std::size_t index) {
    Memory m;
    m.values[index] = 0.0;
    return m;
  }
};

}  // namespace tarn::lang
