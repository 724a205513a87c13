// A Program's tree and its storage, and the saturating number conversions.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "huge_pages.hpp"
#include "tarn/lang/instruction.hpp"
#include "tree_builder.hpp"

namespace tarn::lang {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Conversions, SaturateU64) {
  struct Case {
    double x;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {2.9, 2},
      {0.0, 0},
      {-0.0, 0},
      {-1.0, 0},
      {-kInf, 0},
      {kNaN, 0},
      {0.999, 0},
      {1e30, 18446744073709551615u},
      {kInf, 18446744073709551615u},
      {18446744073709551616.0, 18446744073709551615u},
      {18446744073709549568.0, 18446744073709549568u},
      {9007199254740993.0, 9007199254740992u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(saturate_u64(c.x), c.expected);
  }
}

TEST(Conversions, SaturateU8) {
  struct Case {
    double x;
    std::uint8_t expected;
  };
  const Case cases[] = {{3.9, 3},   {300.0, 255}, {255.5, 255}, {255.0, 255}, {-1.0, 0},
                        {-0.5, 0},  {kNaN, 0},    {kInf, 255},  {-kInf, 0},   {0.0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x);
    EXPECT_EQ(saturate_u8(c.x), c.expected);
  }
}

TEST(ProgramTree, MillionDeepNestIsDestroyedWithoutRecursion) {
  Program program = nested_branch(1'000'000);
  program = nested_branch(2);  // move-assignment releases the old tree
  EXPECT_EQ(canonical_text(program[0]), "Branch([Branch([])])");
}

TEST(ProgramTree, BodiesStayValidAcrossMovesAndManyStorageBlocks) {
  // Built by hand, without a parse's size hint: the storage grows block by block, and every
  // body made before a new block must stay where it was.
  detail::ProgramBuilder owner;
  std::vector<Instruction> statements;
  for (std::uint64_t i = 0; i < 3000; ++i) {
    statements.clear();
    for (std::uint64_t k = 0; k < 1 + i % 5; ++k) statements.emplace_back(Evolve{i});
    owner.instructions().push_back(Branch{owner.add_body(statements)});
  }
  std::vector<Program> moved;
  moved.push_back(std::move(owner).finish());
  moved.resize(16);  // the vector of programs reallocates: the program moves again
  const Program& program = moved.front();
  ASSERT_EQ(program.size(), 3000u);
  for (std::uint64_t i = 0; i < 3000; i += 7) {
    const std::string evolve = "Evolve(" + std::to_string(i) + ")";
    std::string text = "Branch([" + evolve;
    for (std::uint64_t k = 1; k < 1 + i % 5; ++k) text += ", " + evolve;
    ASSERT_EQ(canonical_text(program[i]), text + "])");
  }
}

TEST(ProgramTree, LargeArraysStartOnAHugePageBoundary) {
  detail::HugePageAllocator<Instruction> allocator;
  for (const std::size_t count : {std::size_t{2}, std::size_t{1000}, std::size_t{100'000}}) {
    SCOPED_TRACE(count);
    Instruction* data = allocator.allocate(count);
    if (count * sizeof(Instruction) >= detail::kHugePage) {
      EXPECT_EQ(reinterpret_cast<std::uintptr_t>(data) % detail::kHugePage, 0u);
    }
    // The first and the last element are usable.
    new (data) Instruction(Evolve{1});
    detail::ProgramBuilder owner;
    new (data + count - 1) Instruction(Escalate{owner.text(std::string(100, 'x'))});
    EXPECT_EQ(canonical_text(data[count - 1]).size(), 112u);
    std::destroy_at(data);
    std::destroy_at(data + count - 1);
    allocator.deallocate(data, count);
  }
  // A vector that grows across the boundary keeps its elements.
  std::vector<Instruction, detail::HugePageAllocator<Instruction>> grown;
  for (std::uint64_t i = 0; i < 60'000; ++i) grown.emplace_back(Evolve{i});
  EXPECT_EQ(canonical_text(grown.back()), "Evolve(59999)");
}

TEST(ProgramTree, EmptyBodyNeedsNoStorage) {
  detail::ProgramBuilder owner;
  Body body = owner.add_body({});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(canonical_text(owner.make<IfGreaterThan>(owner.text("x"), 1.0, std::move(body))),
            "IfGreaterThan(\"x\", 1.0, [])");
}

// A body is a view into the Program at the root of its tree, so nothing that holds one may be
// copied out of it: `Instruction c = program[0];` would dangle once the program is gone.
static_assert(!std::is_copy_constructible_v<Body> && !std::is_copy_assignable_v<Body>);
static_assert(!std::is_copy_constructible_v<Branch> && !std::is_copy_constructible_v<IfGreaterThan>);
static_assert(!std::is_copy_constructible_v<Instruction> && !std::is_copy_assignable_v<Instruction>);
static_assert(std::is_nothrow_move_constructible_v<Program>);
static_assert(!std::is_copy_constructible_v<Text> && !std::is_copy_constructible_v<Escalate>);
static_assert(!std::is_copy_constructible_v<AssertBounds>);

}  // namespace
}  // namespace tarn::lang
