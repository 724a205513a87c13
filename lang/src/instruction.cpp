// Program's ownership of its tree, and the saturating number conversions.
//
// A Program may nest a million deep. Letting the vector destroy its instructions would recurse
// once per level (~Program -> ~Branch -> ~Program ...) and exhaust the call stack, so the
// destructor first moves every nested body onto a work list and destroys them one at a time,
// each one already stripped of its own bodies.
#include "tarn/lang/instruction.hpp"

#include <limits>
#include <utility>

namespace tarn::lang {
namespace {

Program* body_of(Instruction& instruction) {
  if (auto* branch = std::get_if<Branch>(&instruction)) return &branch->body;
  if (auto* conditional = std::get_if<IfGreaterThan>(&instruction)) return &conditional->body;
  return nullptr;
}

}  // namespace

Program::~Program() {
  // The common cases first: a moved-from or empty body, and a body already stripped by the walk
  // below, have nothing to detach.
  if (instructions_.empty()) return;
  // Bodies detached here are destroyed below with no bodies of their own left, so their
  // destructors find nothing to detach and the recursion stops at depth one. The work list holds
  // the bare instruction arrays: each is visited once to detach its bodies, then freed.
  std::vector<std::vector<Instruction>> pending;
  const auto detach_bodies = [&pending](std::vector<Instruction>& instructions) {
    for (Instruction& instruction : instructions) {
      Program* body = body_of(instruction);
      if (body != nullptr && !body->instructions_.empty()) {
        pending.push_back(std::move(body->instructions_));
        body->instructions_.clear();  // a moved-from vector is only "valid"; make it empty
      }
    }
  };
  detach_bodies(instructions_);
  while (!pending.empty()) {
    std::vector<Instruction> next = std::move(pending.back());
    pending.pop_back();
    detach_bodies(next);
  }
}

Program& Program::operator=(Program&& other) noexcept {
  if (this != &other) {
    // The old tree goes through the iterative destructor. It is moved out first so that `other`
    // may even be a part of it (p = std::move(body of p's first instruction)).
    Program old;
    old.instructions_.swap(instructions_);
    instructions_.swap(other.instructions_);
    body_text_length_ = std::exchange(other.body_text_length_, kUnknownLength);
  }
  return *this;
}

std::uint64_t saturate_u64(double x) {
  if (!(x > 0.0)) return 0;  // NaN, negatives and both zeros
  // 2^64 is the first double that does not fit; every smaller one truncates exactly.
  if (x >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(x);
}

std::uint8_t saturate_u8(double x) {
  if (!(x >= 0.0)) return 0;  // NaN and negatives
  if (x > 255.0) return 255;
  return static_cast<std::uint8_t>(x);
}

}  // namespace tarn::lang
