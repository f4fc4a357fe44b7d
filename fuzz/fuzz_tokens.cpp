// The token and integer rules of typed answers on arbitrary bytes: no fault, bounded
// results, and numbers the program prints read back as themselves.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "console/tokens.h"

using namespace rowkeep;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);

    std::string token = text_token(line);
    if (token.size() > kMaxTextToken) std::abort();
    (void)integer_token(line);
    (void)integer_token(token);

    std::string lowered = lower_az(line);
    if (lowered.size() != line.size()) std::abort();
    for (std::size_t i = 0; i < size; ++i) {
        char c = line[i];
        char want = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lowered[i] != want) std::abort();
    }
    if (trim_blanks(line).size() > line.size()) std::abort();
    (void)is_numeric_text(line);
    if (replace_char(line, ';', ',').size() != line.size()) std::abort();

    // A whole number the program shows is read back as the same number.
    if (size >= 4) {
        std::int32_t n;
        std::memcpy(&n, data, sizeof n);
        if (integer_token(plain_number(n)) != n) std::abort();
        if (integer_token(number_text(n)) != n) std::abort();
    }
    return 0;
}
