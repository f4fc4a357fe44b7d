// Positions and numbers as container indices. The program counts from 1 (columns, rows,
// character positions) in int, as its files and prompts do; a position is never negative
// where it indexes, and this is the one place that says so.
#pragma once

#include <cstddef>

namespace rowkeep {

constexpr std::size_t idx(int i) {
    return static_cast<std::size_t>(i);
}
constexpr std::size_t idx(long long i) {
    return static_cast<std::size_t>(i);
}

}  // namespace rowkeep
