// SPDX-License-Identifier: MIT
//
// One instruction of an interpreted separable network
// (separable_KxK_program.h, run by separable_program.h): the min of two
// operands to one place and their max to another.  Each operand is a slot
// of the walk's working memory, by number: the interpreter only scales it
// by the slot's bytes.
#pragma once

#include <cstdint>

namespace median::detail {

struct ProgramOp {
  uint16_t a, b, min, max;
};

}  // namespace median::detail
