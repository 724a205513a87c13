// Trees of instructions built by hand, for the tests of canonical text and of a Program's storage.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

#include "program_storage.hpp"
#include "tarn/lang/instruction.hpp"

namespace tarn::lang {

/// A body of `builder`'s tree holding the given instructions.
template <class... Kinds>
Body body_of(detail::ProgramBuilder& builder, Kinds&&... instructions) {
  std::vector<Instruction> statements;
  (statements.emplace_back(std::forward<Kinds>(instructions)), ...);
  return builder.add_body(statements);
}

/// A program of one Branch nested `depth` deep around an empty body:
/// Branch([Branch([...Branch([])...])]).
inline Program nested_branch(std::size_t depth) {
  detail::ProgramBuilder builder;
  Instruction inner = Branch{};
  for (std::size_t i = 1; i < depth; ++i) inner = Branch{body_of(builder, std::move(inner))};
  builder.instructions().push_back(std::move(inner));
  return std::move(builder).finish();
}

}  // namespace tarn::lang
