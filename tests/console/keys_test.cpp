#include "console/keys.h"

#include <gtest/gtest.h>

#include <vector>

#include "console/line_editor.h"

namespace rowkeep {
namespace {

std::vector<std::string> decode(std::string_view bytes, bool time_out = true) {
    KeyDecoder d;
    for (char c : bytes) d.feed(static_cast<unsigned char>(c));
    if (time_out) d.timeout();
    std::vector<std::string> keys;
    while (d.has_key()) keys.push_back(d.take());
    return keys;
}

TEST(KeyDecoder, SequencesBecomeScanCodes) {
    struct Case {
        std::string_view bytes;
        unsigned char scan;
    } cases[] = {
        {"\x1b[A", kScanUp},      {"\x1b[B", kScanDown},  {"\x1b[C", kScanRight},
        {"\x1b[D", kScanLeft},    {"\x1bOA", kScanUp},    {"\x1b[H", kScanHome},
        {"\x1b[F", kScanEnd},     {"\x1b[1~", kScanHome}, {"\x1b[4~", kScanEnd},
        {"\x1b[5~", kScanPgUp},   {"\x1b[6~", kScanPgDn}, {"\x1b[2~", kScanInsert},
        {"\x1b[3~", kScanDelete}, {"\x1bOP", kScanF1},    {"\x1b[21~", kScanF10},
        {"\x1b[[A", kScanF1},
    };
    for (const auto& c : cases) {
        auto keys = decode(c.bytes);
        ASSERT_EQ(keys.size(), 1u) << c.bytes.substr(1);
        EXPECT_TRUE(is_extended(keys[0], c.scan)) << c.bytes.substr(1);
    }
}

TEST(KeyDecoder, CharactersEnterAndEsc) {
    EXPECT_EQ(decode("a\r\nb\nc\r"), (std::vector<std::string>{"a", "\r", "b", "\r", "c", "\r"}));
    EXPECT_EQ(decode("\x7f\x08"), (std::vector<std::string>{"\x7f", "\x08"}));
    EXPECT_EQ(decode("\xe9"), (std::vector<std::string>{"\xe9"}));
    // Esc then an ordinary key: both.
    EXPECT_EQ(decode("\x1bx"), (std::vector<std::string>{"\x1b", "x"}));
    // Unknown sequences are dropped, the keys after them kept.
    EXPECT_EQ(decode("\x1b[1;5Az"), (std::vector<std::string>{"z"}));
}

TEST(KeyDecoder, LoneEscNeedsTheTimeout) {
    KeyDecoder d;
    d.feed(27);
    EXPECT_FALSE(d.has_key());
    EXPECT_TRUE(d.pending());
    d.timeout();
    EXPECT_EQ(d.take(), "\x1b");
    // A half sequence cut short by the timeout gives nothing.
    d.feed(27);
    d.feed('[');
    d.timeout();
    EXPECT_FALSE(d.has_key());
    EXPECT_FALSE(d.pending());
}

TEST(KeyDecoder, Utf8CharactersAreOneKeyEachAndWaitForTheirRest) {
    KeyDecoder d(true);
    for (char c : std::string_view("a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\x1b[Bz"))
        d.feed(static_cast<unsigned char>(c));
    std::vector<std::string> keys;
    while (d.has_key()) keys.push_back(d.take());
    EXPECT_EQ(keys, (std::vector<std::string>{"a", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80",
                                              extended_key(kScanDown), "z"}));
    // A character split between two reads is kept whole, however long the gap.
    d.feed(0xc5);
    EXPECT_FALSE(d.has_key());
    EXPECT_TRUE(d.pending());
    d.feed(0x99);
    EXPECT_EQ(d.take(), "\xc5\x99");
    // Cut short by another key, or by the timeout: what came is a key of its own.
    d.feed(0xc5);
    d.feed('x');
    EXPECT_EQ(d.take(), "\xc5");
    EXPECT_EQ(d.take(), "x");
    d.feed(0xe2);
    d.feed(0x82);
    d.timeout();
    EXPECT_EQ(d.take(), "\xe2\x82");
    EXPECT_FALSE(d.pending());
    // A stray continuation byte or an invalid lead is one key.
    d.feed(0x80);
    d.feed(0xff);
    EXPECT_EQ(d.take(), "\x80");
    EXPECT_EQ(d.take(), "\xff");
    // Without UTF-8 every byte is a key, as before.
    EXPECT_EQ(decode("\xc3\xa9"), (std::vector<std::string>{"\xc3", "\xa9"}));
}

TEST(LineEditor, EditingKeysAndEdges) {
    LineEditor e(10);
    e.left();
    e.backspace();
    EXPECT_FALSE(e.delete_under());  // the beep at the end
    EXPECT_EQ(e.text(), "");
    for (char c : std::string("abcd")) e.insert(c);
    EXPECT_EQ(e.cursor(), 4u);
    e.right();
    EXPECT_EQ(e.cursor(), 4u);
    e.left();
    e.backspace();
    EXPECT_EQ(e.text(), "abd");
    EXPECT_EQ(e.cursor(), 2u);
    EXPECT_TRUE(e.delete_under());
    EXPECT_EQ(e.text(), "ab");
    e.home();
    e.backspace();
    EXPECT_EQ(e.text(), "ab");
    e.insert('X');
    EXPECT_EQ(e.text(), "Xab");
    e.end();
    EXPECT_EQ(e.cursor(), 3u);
    e.tab();
    EXPECT_EQ(e.text(), "Xab     ");
    e.tab();
    EXPECT_EQ(e.text().size(), 16u);
    e.up();
    EXPECT_EQ(e.cursor(), 6u);
    e.up();
    EXPECT_EQ(e.cursor(), 0u);
    e.down();
    EXPECT_EQ(e.cursor(), 10u);
    e.down();
    EXPECT_EQ(e.cursor(), 16u);
    e.clear();
    EXPECT_EQ(e.text(), "");
    EXPECT_EQ(e.cursor(), 0u);
}

TEST(LineEditor, ApplyKeyValues) {
    LineEditor e;
    bool beep = false;
    for (char c : std::string("ab")) EXPECT_FALSE(e.apply(std::string(1, c), beep));
    e.apply(extended_key(kScanHome), beep);
    e.apply(extended_key(kScanDelete), beep);
    EXPECT_EQ(e.text(), "b");
    e.apply(extended_key(kScanEnd), beep);
    e.apply(extended_key(kScanDelete), beep);
    EXPECT_TRUE(beep);
    e.apply("\x7f", beep);
    EXPECT_EQ(e.text(), "");
    e.apply("x", beep);
    e.apply("\x1b", beep);
    EXPECT_EQ(e.text(), "");
    e.apply("\x01", beep);  // control characters are not inserted
    e.apply(extended_key(kScanF1), beep);
    EXPECT_EQ(e.text(), "");
    EXPECT_TRUE(e.apply("\r", beep));
}

}  // namespace
}  // namespace rowkeep
