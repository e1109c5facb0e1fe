// SPDX-License-Identifier: MIT
//
// The separable networks by window side: SeparableNetwork<K> is the network
// struct of the K x K window (separable_KxK_networks.h).
#pragma once

#include "median/network/separable_11x11_networks.h"
#include "median/network/separable_13x13_networks.h"
#include "median/network/separable_15x15_networks.h"
#include "median/network/separable_17x17_networks.h"
#include "median/network/separable_19x19_networks.h"
#include "median/network/separable_21x21_networks.h"
#include "median/network/separable_3x3_networks.h"
#include "median/network/separable_7x7_networks.h"
#include "median/network/separable_9x9_networks.h"

namespace median::detail {

template <int K>
struct SeparableWindow;
template <>
struct SeparableWindow<3> { using type = Separable3x3; };
template <>
struct SeparableWindow<7> { using type = Separable7x7; };
template <>
struct SeparableWindow<9> { using type = Separable9x9; };
template <>
struct SeparableWindow<11> { using type = Separable11x11; };
template <>
struct SeparableWindow<13> { using type = Separable13x13; };
template <>
struct SeparableWindow<15> { using type = Separable15x15; };
template <>
struct SeparableWindow<17> { using type = Separable17x17; };
template <>
struct SeparableWindow<19> { using type = Separable19x19; };
template <>
struct SeparableWindow<21> { using type = Separable21x21; };

template <int K>
using SeparableNetwork = typename SeparableWindow<K>::type;

}  // namespace median::detail
