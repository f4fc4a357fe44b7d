#include "console/console.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <string>
#include <vector>

#include "console/code_page.h"
#include "console/menu.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

TEST(PrintZones, PaddingToTheNextBoundary) {
    EXPECT_EQ(zone_padding(0), 14);
    EXPECT_EQ(zone_padding(2), 12);
    EXPECT_EQ(zone_padding(14), 14);
    EXPECT_EQ(zone_padding(27), 1);
    EXPECT_EQ(advance_column(5, "ab"), 7);
    EXPECT_EQ(advance_column(5, "ab\r\nxyz"), 3);
    EXPECT_EQ(advance_column(5, "ab\r"), 0);
}

TEST(PrintZones, OnTheConsoleAndItsWidthRule) {
    ScriptedTerminal t("", 40, 25);
    Console c(t);
    c.print_number(1, Ending::zone);
    c.print_text("x", Ending::stay);
    EXPECT_EQ(t.output(), " 1" + std::string(12, ' ') + "x");
    // Column 15: the next boundary 28 counted from 1 is 29 > 40 - 14: a new line instead.
    c.print_text("", Ending::zone);
    EXPECT_EQ(t.output().substr(t.output().size() - 2), "\r\n");
    EXPECT_EQ(c.column(), 0);
    // At 80 columns the same value pads.
    ScriptedTerminal wide("", 80, 25);
    Console w(wide);
    w.print_text(std::string(15, 'a'), Ending::zone);
    EXPECT_EQ(wide.output(), std::string(15, 'a') + std::string(13, ' '));
    // The column wraps modulo the console width.
    ScriptedTerminal narrow("", 20, 25);
    Console n(narrow);
    n.print_text(std::string(25, 'b'), Ending::stay);
    EXPECT_EQ(n.column(), 5);
}

TEST(Prompts, QuestionMarkAndTokens) {
    ScriptedTerminal t("  abc,def\r3.7\r\"a,b\" c\r", 80, 25);
    Console c(t);
    EXPECT_EQ(c.prompt_input("name = "), "abc");
    EXPECT_EQ(c.prompt_integer("number of columns = "), 4);
    EXPECT_EQ(c.line_input(), "\"a,b\" c");
    EXPECT_EQ(t.output(), "name = ?   abc,def\r\nnumber of columns = ? 3.7\r\n\"a,b\" c\r\n");
}

TEST(Prompts, EditingKeysInTheTypedLine) {
    std::string keys = "abc";
    keys += "\x1b[D\x1b[D\x7f";  // Left Left Backspace: "bc" with the cursor before b
    keys +=
        "X\x1b[F"
        "Y\x1b[H\x1b[3~\r";
    ScriptedTerminal t(keys, 80, 25);
    Console c(t);
    EXPECT_EQ(c.line_input(), "bcY");
}

TEST(Keys, PollNeverWaitsAndKeepsOrder) {
    ScriptedTerminal t("ab", 80, 25);
    Console c(t);
    EXPECT_EQ(c.poll_key(), "a");
    EXPECT_EQ(c.poll_key(), "b");
    EXPECT_EQ(c.poll_key(), "");
    EXPECT_THROW(c.wait_key(), ProgramEnd);
}

TEST(Keys, ScriptedInputIsNeverDropped) {
    ScriptedTerminal t(std::string(2000, 'k'), 80, 25);
    Console c(t);
    int n = 0;
    while (c.poll_key() == "k") ++n;
    EXPECT_EQ(n, 2000);
}

// Keys that arrive as the UTF-8 terminal's characters, each converted into the code
// page when the program takes it.
class Utf8KeyboardTerminal : public ScriptedTerminal {
  public:
    explicit Utf8KeyboardTerminal(std::vector<std::string> keys)
        : ScriptedTerminal(""), keys_(std::move(keys)) {}
    bool read_keys(int, std::deque<std::string>& keys) override {
        if (keys_.empty()) return false;
        keys.insert(keys.end(), keys_.begin(), keys_.end());
        keys_.clear();
        return true;
    }
    std::string key_in_code_page(std::string key) override {
        return key.size() < 2 ? key : utf8_to_code_page(code_page(), key);
    }

  private:
    std::vector<std::string> keys_;
};

TEST(Keys, TypedAheadKeysTakeTheCodePageActiveWhenTaken) {
    // "ñ", "ř", "€" and "x" arrive together while Windows-1250 is active.
    Utf8KeyboardTerminal t({"\xc3\xb1", "\xc5\x99", "\xe2\x82\xac", "x"});
    Console c(t);
    ASSERT_TRUE(t.set_code_page(1252));
    EXPECT_EQ(c.poll_key(), "\xf1");
    ASSERT_TRUE(t.set_code_page(1250));
    EXPECT_EQ(c.poll_key(), "\xf8");
    // A page with two bytes for the character: two one-byte keys.
    ASSERT_TRUE(t.set_code_page(54936));
    EXPECT_EQ(c.wait_key(), "\xa2");
    EXPECT_EQ(c.wait_key(), "\xe3");
    EXPECT_EQ(c.wait_key(), "x");
}

TEST(Keys, WaitEndsEarlyOnAResizeOnlyWhenAskedTo) {
    ScriptedTerminal t("", 80, 25);
    t.add_resize(60, 20);
    t.add_keys("a");
    t.add_resize(50, 20);
    t.add_keys("b");
    Console c(t);
    const unsigned drawn_at = c.size_changes();
    EXPECT_EQ(c.wait_key_or_resize(drawn_at), "");
    EXPECT_EQ(c.console_size(), std::make_pair(60, 20));
    EXPECT_EQ(c.wait_key_or_resize(c.size_changes()), "a");
    // A plain wait sleeps on through a resize.
    EXPECT_EQ(c.wait_key(), "b");
    EXPECT_EQ(c.console_size(), std::make_pair(50, 20));
}

TEST(Menus, WrongKeysDroppedSilently) {
    ScriptedTerminal t(std::string("x\x1b[A") + "2", 80, 25);
    Console c(t);
    EXPECT_EQ(menu_key(c, {"----", "<1> one", "<2> two"}, "12"), "2");
    EXPECT_EQ(t.output(), "----\r\n<1> one\r\n<2> two\r\n");
}

// print_pieces prints, counts the column and keeps the screen line as print_text does piece
// by piece: the same output, the same column, and the same line drawn again when the window
// is resized during the next line entry. Pieces hold line ends, run past the kept line's
// length, and end in zones near the right edge.
// A scripted terminal that echoes the line entry as a real one does, so that a resize
// redraws the typed line behind the kept prompt.
class LiveScriptedTerminal : public ScriptedTerminal {
  public:
    using ScriptedTerminal::ScriptedTerminal;
    bool interactive() const override { return true; }
};

// Pieces of every length around the 8-byte steps in which line ends are looked for, with
// CR and LF anywhere (the last byte of a step, the first after it), > 1024-byte pieces and
// zones at the right edge; in a single-byte page and in UTF-8 (characters of 2 bytes
// counted as one column); the kept line checked by a resize during the next line entry.
using Piece = std::pair<std::string, Ending>;

// The pieces through print_pieces and through print_text one by one: the same bytes, the
// same column, and the same line redrawn when a resize comes during the next line entry.
void expect_as_piece_by_piece(const std::vector<Piece>& pieces, bool utf8, bool lead, int round) {
    ASSERT_EQ(pieces.size(), 4u);
    LiveScriptedTerminal ta("", 60, 25), tb("", 60, 25);
    for (ScriptedTerminal* t : {&ta, &tb}) t->set_code_page(utf8 ? 65001 : 1250);
    Console a(ta), b(tb);
    a.print_text(lead ? "lead " : "", Ending::stay);
    b.print_text(lead ? "lead " : "", Ending::stay);
    a.print_pieces({{pieces[0].first, pieces[0].second},
                    {pieces[1].first, pieces[1].second},
                    {pieces[2].first, pieces[2].second},
                    {pieces[3].first, pieces[3].second}});
    for (const auto& [text, ending] : pieces) b.print_text(text, ending);
    ASSERT_EQ(ta.output(), tb.output()) << round;
    ASSERT_EQ(a.column(), b.column()) << round;
    for (ScriptedTerminal* t : {&ta, &tb}) {
        t->add_keys("y");
        t->add_resize(50, 25);
        t->add_keys("x\r");
    }
    EXPECT_EQ(a.line_input(), b.line_input());
    ASSERT_EQ(ta.output(), tb.output()) << round;
}

// Pieces of every length around the 8-byte steps in which line ends are looked for, with
// CR and LF anywhere (the last byte of a step, the first after it), > 1024-byte pieces and
// zones at the right edge; in a single-byte page and in UTF-8 (characters of 2 bytes
// counted as one column).
TEST(PrintPieces, AsPrintTextPieceByPiece) {
    std::mt19937 random(5);
    auto piece = [&](bool utf8) {
        static const std::size_t lengths[] = {0, 1, 5, 7, 8, 9, 13, 15, 16, 17, 30, 700, 1500};
        std::string text(lengths[random() % std::size(lengths)], 'a');
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned pick = random() % 40;
            text[i] = pick == 0 ? '\r' : pick == 1 ? '\n' : pick < 8 ? ' ' : 'a';
            if (utf8 && pick == 8 && i + 1 < text.size()) {
                text[i] = '\xc4';
                text[++i] = '\x85';
            }
        }
        return Piece(text, static_cast<Ending>(random() % 3));
    };
    for (int round = 0; round < 1600; ++round) {
        const bool utf8 = round % 4 >= 2;
        expect_as_piece_by_piece({piece(utf8), piece(utf8), piece(utf8), piece(utf8)}, utf8,
                                 round % 2, round);
    }
    // The line a redraw shows: all of the piece after its last LF, even past 1024 bytes,
    // then the further pieces up to 1024 bytes.
    const std::string tail(1500, 'b');
    expect_as_piece_by_piece({{"x", Ending::zone},
                              {"a\n" + tail, Ending::stay},
                              {"c", Ending::zone},
                              {"d", Ending::stay}},
                             false, true, -1);
    expect_as_piece_by_piece(
        {{"a\nb", Ending::stay}, {"c\rd", Ending::zone}, {tail, Ending::stay}, {"e", Ending::stay}},
        false, false, -2);
}

}  // namespace
}  // namespace rowkeep::testing
