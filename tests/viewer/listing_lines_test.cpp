#include "viewer/listing_lines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "console/tokens.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// A scripted terminal that echoes the line entry as a real one does, so that a resize
// redraws the typed line behind the kept prompt.
class LiveScriptedTerminal : public ScriptedTerminal {
  public:
    using ScriptedTerminal::ScriptedTerminal;
    bool interactive() const override { return true; }
};

struct Listing {
    std::string lead, name;
    int width = 80;
    bool utf8 = false;
    std::string before;     // printed before the listing, ending stay
    int resize_after = -1;  // the row after which the window narrows to 23 columns
};

// Texts of lines: empty, short, around the zone width, with CR and LF inside, one longer
// than a block of gathered lines.
std::string line_text(std::mt19937& random) {
    switch (random() % 9) {
        case 0:
            return "";
        case 1:
            return "a\r\nb";
        case 2:
            return "cut\rover";
        case 3:
            return "x\n";
        case 4:
            return std::string(random() % 200 == 0 ? 70000 : 90, 'w');
        default:
            return std::string(random() % 30, 'k') + "\xc4\x85 1";
    }
}

// Where two outputs part, with the bytes around: a screen of thousands of lines is not
// read whole.
std::string first_difference(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    if (i == a.size() && i == b.size()) return "";
    const std::size_t from = i < 60 ? 0 : i - 60;
    return "at byte " + std::to_string(i) + ":\n" + a.substr(from, 120) + "\n-- against --\n" +
           b.substr(from, 120);
}

// The listing through ListingLines and through print_pieces a line at a time, from row 7
// to row 1003 (numbers of 1 to 4 digits): the same bytes, the same column, and the same
// line redrawn when a resize comes during the next line entry.
void expect_as_print_pieces(const Listing& l, unsigned seed) {
    LiveScriptedTerminal ta("", l.width, 25), tb("", l.width, 25);
    for (ScriptedTerminal* t : {&ta, &tb}) {
        t->set_code_page(l.utf8 ? 65001 : 1250);
        if (l.resize_after >= 0) {
            t->add_resize(23, 25);
            t->add_keys("r");
        }
    }
    Console a(ta), b(tb);
    a.print_text(l.before, Ending::stay);
    b.print_text(l.before, Ending::stay);
    std::mt19937 random(seed);
    {
        ListingLines lines(a, l.lead, l.name);
        for (int row = 7; row <= 1003; ++row) {
            const std::string number = number_text(row);
            lines.begin_row(number);
            for (unsigned i = random() % 4; i > 0; --i) {
                const std::string first = line_text(random), second = line_text(random);
                lines.line(first, second);
                b.print_pieces({{l.lead, Ending::stay},
                                {number, Ending::zone},
                                {l.name, Ending::zone},
                                {first + second, Ending::newline}});
            }
            if (row == l.resize_after) {
                // A key taken between rows, as the console does when the window changed.
                EXPECT_EQ(a.wait_key(), "r");
                EXPECT_EQ(b.wait_key(), "r");
            }
        }
    }
    ASSERT_EQ(first_difference(ta.output(), tb.output()), "");
    ASSERT_EQ(a.column(), b.column());
    for (ScriptedTerminal* t : {&ta, &tb}) {
        t->add_keys("y");
        t->add_resize(50, 25);
        t->add_keys("z\r");
    }
    EXPECT_EQ(a.line_input(), b.line_input());
    EXPECT_EQ(ta.output(), tb.output());
}

// Leads, names around the zone width, past the window's width and holding line ends;
// narrow windows (where a zone ends the line), a column not at the line's start before
// the listing, characters of two bytes, a window resized halfway.
TEST(ListingLines, AsPrintPiecesLineByLine) {
    unsigned seed = 1;
    const std::vector<std::string> names = {"",
                                            "prices",
                                            "thirteen char",
                                            "fourteen chars",
                                            std::string(70, 'n'),
                                            "a\r\nb",
                                            "c\nd",
                                            "\xc5\x99\xc3\xa1"
                                            "dek"};
    for (const std::string lead : {"", "row = "})
        for (const std::string& name : names)
            for (int width : {80, 30, 15, 1})
                for (bool utf8 : {false, true}) {
                    SCOPED_TRACE("lead '" + lead + "', name '" + name + "', width " +
                                 std::to_string(width) + (utf8 ? ", UTF-8" : ""));
                    const std::string before = seed % 3 == 0 ? "abc" : "";
                    const int resize_after = seed % 5 == 0 ? 500 : -1;
                    expect_as_print_pieces({lead, name, width, utf8, before, resize_after}, seed++);
                    if (HasFatalFailure()) return;
                }
}

// A listing left by an exception hands over what it gathered: the screen shows the lines
// made before it, as printing line by line would have.
TEST(ListingLines, AnErrorLeavesTheLinesMadeShown) {
    ScriptedTerminal t("", 80, 25);
    Console c(t);
    try {
        ListingLines lines(c, "row = ", "name");
        lines.begin_row(" 2");
        lines.line("two");
        throw std::runtime_error("stop");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(t.output(), "row =  2      name          two\r\n");
    EXPECT_EQ(c.column(), 0);
}

}  // namespace
}  // namespace rowkeep::testing
