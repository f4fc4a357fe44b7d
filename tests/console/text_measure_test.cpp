#include "console/text_measure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "console/code_page.h"
#include "console/keys.h"
#include "console/line_editor.h"
#include "console/tokens.h"
#include "viewer/cell_fit.h"

namespace rowkeep {
namespace {

const std::string kChinese = "中华人民共和国北京市";  // ten wide characters
const std::string kMixed = "Agliè 北京 e\xcc\x81";    // e + combining acute at the end

// True when every character of text (in m's code page) is whole: re-encoding survives.
bool whole_characters(int code_page, const std::string& text) {
    std::string utf8 = code_page_to_utf8(code_page, text);
    return utf8.find('?') == std::string::npos && utf8_to_code_page(code_page, utf8) == text;
}

TEST(TextMeasure, SingleBytePagesCountBytes) {
    TextMeasure m(1250);
    const std::string text = "\xe8\x9a\x9e ab";  // č š ž in 1250, and more
    EXPECT_EQ(m.width(text), 6);
    EXPECT_EQ(m.count(text), 6u);
    EXPECT_EQ(m.fitting(text, 2), 2u);
    EXPECT_EQ(m.previous(text, 3), 2u);
    EXPECT_EQ(m.missing("\xe8"), 0u);
    TextMeasure gbk_is_not_single(54936);
    EXPECT_FALSE(gbk_is_not_single.single_byte());
}

TEST(TextMeasure, Utf8SequencesWidthsAndInvalidBytes) {
    TextMeasure m(65001);
    EXPECT_EQ(m.char_length(kMixed, 4), 2u);  // è
    EXPECT_EQ(m.char_length(kChinese, 0), 3u);
    EXPECT_EQ(m.char_length("\xf0\x9f\x98\x80", 0), 4u);
    EXPECT_EQ(m.width(kChinese), 20);
    // A g l i è blank (6) + 2 wide (4) + blank + e + combining (1 + 1 + 0).
    EXPECT_EQ(m.width(kMixed), 12);
    EXPECT_EQ(m.count(kMixed), 11u);
    // Bytes that start no valid sequence: a lone continuation, a cut sequence, an
    // overlong form, a surrogate; each is one character one column wide.
    for (std::string bad : {"\x80", "\xc4", "\xc0\xaf", "\xed\xa0\x80", "\xff"}) {
        EXPECT_EQ(m.char_length(bad, 0), 1u) << bad.size();
        EXPECT_EQ(m.count(bad), bad.size());
        EXPECT_EQ(m.width(bad), static_cast<int>(bad.size()));
    }
    EXPECT_EQ(m.previous(kChinese, 6), 3u);
    EXPECT_EQ(m.previous(kChinese, 5), 3u);  // inside a character: its start
    EXPECT_EQ(m.offset_of(kChinese, 2), 6u);
    EXPECT_EQ(m.offset_of(kChinese, 99), kChinese.size());
    // Fitting never cuts a character and keeps a combining mark with its letter.
    EXPECT_EQ(m.fitting(kChinese, 5), 6u);
    EXPECT_EQ(m.fitting("e\xcc\x81x", 1), 3u);
    // What a typed character still lacks.
    EXPECT_EQ(m.missing("a\xc4"), 1u);
    EXPECT_EQ(m.missing("\xe4\xb8"), 1u);
    EXPECT_EQ(m.missing("\xf0\x9f"), 2u);
    EXPECT_EQ(m.missing("\xc4\x8d"), 0u);
    EXPECT_EQ(m.missing("\x80"), 0u);
}

TEST(TextMeasure, Gb18030OneTwoAndFourBytes) {
    TextMeasure m(54936);
    const std::string gb = utf8_to_code_page(54936, kChinese);
    ASSERT_EQ(gb.size(), 20u);
    EXPECT_EQ(m.count(gb), 10u);
    EXPECT_EQ(m.width(gb), 20);
    // A four-byte character (U+00DF ß is 0x81 0x30 0x89 0x38 in GB18030) is one column.
    const std::string four = utf8_to_code_page(54936, "ß");
    ASSERT_EQ(four.size(), 4u);
    EXPECT_EQ(m.char_length(four + "a", 0), 4u);
    EXPECT_EQ(m.width(four + "a"), 2);
    EXPECT_EQ(m.previous("a" + four, 5), 1u);
    // A trail byte that looks like ASCII stays in its character.
    const std::string with_ascii_trail = utf8_to_code_page(54936, "丂");  // 0x81 0x40
    ASSERT_EQ(with_ascii_trail, "\x81\x40");
    EXPECT_EQ(m.count("@" + with_ascii_trail + "@"), 3u);
    EXPECT_EQ(m.missing("\x81"), 1u);
    EXPECT_EQ(m.missing("\x81\x30"), 2u);
    EXPECT_EQ(m.missing(four), 0u);
}

TEST(CellFit, WideTextCutsWholeCharactersAtEveryWidth) {
    for (int page : {65001, 54936}) {
        TextMeasure m(page);
        const std::string cell = page == 65001 ? kChinese : utf8_to_code_page(54936, kChinese);
        const std::string ascii(20, 'x');
        for (int w = 5; w <= 12; ++w) {
            const std::string fitted = fit_cell(m, cell, w);
            SCOPED_TRACE(std::to_string(page) + " width " + std::to_string(w));
            EXPECT_EQ(m.width(fitted), w);
            EXPECT_EQ(fitted.back(), '-');
            EXPECT_TRUE(whole_characters(page, fitted));
            // The cut shows as many columns as the ASCII cell's cut, less a blank at most.
            const int shown = m.width(std::string_view(fitted).substr(0, m.fitting(cell, w - 1)));
            EXPECT_GE(shown, w - 2);
            EXPECT_EQ(fit_cell(m, ascii, w).size(), static_cast<std::size_t>(w));
            EXPECT_EQ(m.width(cut_line(m, cell, w)), w - (w % 2));
        }
        // Short enough: padded by columns, not bytes.
        const std::string two = first_characters(m, cell, 2);
        EXPECT_EQ(fit_cell(m, two, 6), two + "  ");
    }
    TextMeasure single(1252);
    EXPECT_EQ(fit_cell(single, "abcdefgh", 5), "abcd-");
    EXPECT_EQ(fit_cell(single, "12", 5), "   12");
}

TEST(LineEditor, Utf8CharactersMoveAndDeleteWhole) {
    LineEditor e(10, 65001);
    bool beep = false;
    for (char c : std::string("a\xc4\x8d中b")) e.apply(std::string(1, c), beep);
    EXPECT_EQ(e.text(), "a\xc4\x8d中b");
    EXPECT_EQ(e.cursor_column(), 5);
    e.left();
    e.left();
    EXPECT_EQ(e.cursor(), 3u);
    EXPECT_EQ(e.cursor_column(), 2);
    EXPECT_TRUE(e.delete_under());
    EXPECT_EQ(e.text(),
              "a\xc4\x8d"
              "b");
    e.backspace();
    EXPECT_EQ(e.text(), "ab");
    e.end();
    e.tab();
    EXPECT_EQ(e.text(), "ab      ");
    // A lead byte followed by a key that is no continuation goes in as it came.
    e.clear();
    e.apply("\xc4", beep);
    EXPECT_EQ(e.text(), "");
    e.apply(extended_key(kScanHome), beep);
    EXPECT_EQ(e.text(), "\xc4");
    EXPECT_EQ(e.cursor(), 0u);
}

TEST(LineEditor, Gb18030FourByteCharacterWithDigitBytes) {
    LineEditor e(80, 54936);
    bool beep = false;
    const std::string four = utf8_to_code_page(54936, "ß");
    for (char c : "x" + four + "y") e.apply(std::string(1, c), beep);
    EXPECT_EQ(e.text(), "x" + four + "y");
    e.left();
    e.backspace();
    EXPECT_EQ(e.text(), "xy");
}

// Random bytes, biased to lead and trail bytes: the boundaries found forwards and backwards
// agree, and every cut lands on one of them within its column limit.
TEST(TextMeasure, BoundariesAgreeOnRandomBytes) {
    std::mt19937 random(7);
    const unsigned char pool[] = {'a',  ' ',  '0',  '9',  0x40, 0x7e, 0x80, 0x81, 0xa1, 0xbf,
                                  0xc3, 0xc4, 0xcc, 0xe4, 0xed, 0xf0, 0xf4, 0xfe, 0xff};
    for (int page : {1250, 54936, 65001}) {
        TextMeasure m(page);
        for (int round = 0; round < 300; ++round) {
            std::string text;
            const int n = static_cast<int>(random() % 24);
            for (int i = 0; i < n; ++i) text += static_cast<char>(pool[random() % sizeof pool]);
            std::vector<std::size_t> starts;
            for (std::size_t at = 0; at < text.size(); at += m.char_length(text, at)) {
                ASSERT_GE(m.char_length(text, at), 1u);
                starts.push_back(at);
            }
            ASSERT_EQ(m.count(text), starts.size());
            for (std::size_t i = 0; i < starts.size(); ++i) {
                const std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
                EXPECT_EQ(m.previous(text, end), starts[i]) << page << " " << round;
                EXPECT_EQ(m.offset_of(text, i), starts[i]);
            }
            for (int columns = 0; columns <= 10; ++columns) {
                const std::size_t cut = m.fitting(text, columns);
                EXPECT_TRUE(cut == text.size() ||
                            std::find(starts.begin(), starts.end(), cut) != starts.end());
                EXPECT_LE(m.width(text.substr(0, cut)), columns);
            }
        }
    }
}

TEST(TextToken, LongLineCutAtWholeCharacters) {
    std::string line;
    for (int i = 0; i < 5000; ++i) line += "中";
    const std::string value = text_token(TextMeasure(65001), line);
    EXPECT_EQ(value.size(), 3u * kMaxTextToken);
    EXPECT_EQ(text_token(TextMeasure(1250), line).size(), kMaxTextToken);
    const std::string gb = utf8_to_code_page(54936, line);
    EXPECT_EQ(text_token(TextMeasure(54936), "x" + gb).size(), 1 + 2 * (kMaxTextToken - 1));
}

}  // namespace
}  // namespace rowkeep
