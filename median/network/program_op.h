// SPDX-License-Identifier: MIT
//
// One instruction of an interpreted separable network
// (separable_KxK_program.h, run by separable_program.h): the min of two
// operands to one place and their max to another.  Each operand is
// base << PROGRAM_INDEX_BITS | index: slot `index` of the region the
// walk's base table gives for `base`.
#pragma once

#include <cstdint>

namespace median::detail {

constexpr int PROGRAM_INDEX_BITS = 10;

struct ProgramOp {
  uint16_t a, b, min, max;
};

}  // namespace median::detail
