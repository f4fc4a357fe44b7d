// Positions and numbers as container indices. The program counts from 1 (columns, rows,
// character positions) in signed integers, as its files and prompts do; a position is
// never negative where it indexes, and this is the one place that says so.
#pragma once

#include <cstddef>
#include <type_traits>

namespace rowkeep {

template <class T>
requires std::is_integral_v<T> && std::is_signed_v<T>
constexpr std::size_t idx(T i) {
    return static_cast<std::size_t>(i);
}

}  // namespace rowkeep
