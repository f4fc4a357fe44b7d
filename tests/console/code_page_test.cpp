#include "console/code_page.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <random>
#include <string>

namespace rowkeep {
namespace {

// The whole text through iconv at once, "?" for a byte the page does not define: what a
// terminal is shown of a page's bytes.
std::string through_iconv(const std::string& from, const std::string& text) {
    iconv_t cd = iconv_open("UTF-8", from.c_str());
    EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << from;
    std::string input = text, out;
    char* in = input.data();
    std::size_t in_left = input.size();
    while (in_left > 0) {
        char buffer[256];
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        const std::size_t r = iconv(cd, &in, &in_left, &o, &o_left);
        out.append(buffer, static_cast<std::size_t>(o - buffer));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        out += '?';
        ++in;
        --in_left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

TEST(Converter, EveryPageShowsItsBytesAsIconvDoesInAnyPieces) {
    std::mt19937 random(5);
    for (int page : {437, 850, 852, 866, 874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258,
                     28591, 28592, 28595, 28597, 28599}) {
        const std::string name = iconv_name(page);
        SCOPED_TRACE(name);
        Converter to_screen(name, "UTF-8");
        ASSERT_TRUE(to_screen.valid());
        std::string text;
        // Every byte, then long runs of ASCII broken by bytes above 127 and undefined ones.
        for (int b = 0; b < 256; ++b) text += static_cast<char>(b);
        std::uniform_int_distribution<int> any(0, 255), ascii(32, 126), odds(0, 9);
        for (int i = 0; i < 20000; ++i)
            text += static_cast<char>(odds(random) == 0 ? any(random) : ascii(random));
        std::string shown;
        std::uniform_int_distribution<std::size_t> piece(0, 300);
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t n = std::min(piece(random), text.size() - at);
            shown += to_screen.convert(std::string_view(text).substr(at, n));
            at += n;
        }
        shown += to_screen.convert_whole("");
        EXPECT_EQ(shown, through_iconv(name, text));
    }
}

}  // namespace
}  // namespace rowkeep
