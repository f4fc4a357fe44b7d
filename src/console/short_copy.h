// Copying the short pieces the program's files are made of (a value, a number, a bit of
// markup: mostly a few bytes) without a call: in two words that may overlap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rowkeep {

// Copies n bytes from in to out and returns the end of the copy.
inline char* copy_short(char* out, const char* in, std::size_t n) {
    if (n >= 8 && n <= 16) {
        std::uint64_t head, tail;
        std::memcpy(&head, in, 8);
        std::memcpy(&tail, in + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
    } else if (n >= 4 && n < 8) {
        std::uint32_t head, tail;
        std::memcpy(&head, in, 4);
        std::memcpy(&tail, in + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
    } else if (n < 4) {
        for (std::size_t k = 0; k < n; ++k) out[k] = in[k];
    } else {
        std::memcpy(out, in, n);
    }
    return out + n;
}

}  // namespace rowkeep
