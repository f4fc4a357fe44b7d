#include "console/menu.h"

#include <gtest/gtest.h>

#include <string>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// A menu of every kind of entry: a rule, listed keys, an unlisted one, and a way out.
struct Recorded {
    ScriptedTerminal t;
    Console c{t};
    std::string done;
    Menu menu(Next other) {
        return {{
                    {"", "--"},
                    {"1", "<1> show", [this] { return done += "1", Next::show; }},
                    {"2\r", "<2> or <Enter> wait", [this] { return done += "2", Next::wait; }},
                    {"5", std::nullopt, [this] { return done += "5", Next::show; }},
                    {"8", "<8> exit"},
                },
                other};
    }
    explicit Recorded(std::string_view keys) : t(keys, 80, 25) {}
};

TEST(Menus, EachEntryDecidesWhetherTheBlockShowsAgainAndUnknownKeysAreDropped) {
    Recorded r("x1\r5z8");
    EXPECT_EQ(run_menu(r.c, r.menu(Next::wait)), "8");
    EXPECT_EQ(r.done, "125");
    const std::string block = "--\r\n<1> show\r\n<2> or <Enter> wait\r\n<8> exit\r\n";
    EXPECT_EQ(r.t.output(), block + block + block);
}

TEST(Menus, AnUnknownKeyCanLeaveOrShowTheBlockAfterItsAction) {
    // An extended key (255 and a scan code) is no entry's, whatever its second byte.
    Recorded leave(
        "\xff"
        "2");
    EXPECT_EQ(run_menu(leave.c, leave.menu(Next::leave)),
              "\xff"
              "2");
    EXPECT_EQ(leave.done, "");

    Recorded shown("zz8");
    Menu menu = shown.menu(Next::show);
    menu.other_action = [&] { shown.done += "?"; };
    EXPECT_EQ(run_menu(shown.c, menu), "8");
    EXPECT_EQ(shown.done, "??");
    EXPECT_EQ(shown.t.output().size(),
              3 * std::string("--\r\n<1> show\r\n<2> or <Enter> wait\r\n<8> exit\r\n").size());
}

TEST(Menus, AResizeRedrawsAboveTheBlockOnlyWhenAsked) {
    Recorded r("");
    r.t.add_resize(60, 20);
    r.t.add_keys("8");
    Menu menu = r.menu(Next::wait);
    menu.drawn_at = r.c.size_changes();
    menu.redraw = [&] { r.c.print_text("above at " + std::to_string(r.c.console_size().first)); };
    EXPECT_EQ(run_menu(r.c, menu), "8");
    const std::string block = "--\r\n<1> show\r\n<2> or <Enter> wait\r\n<8> exit\r\n";
    EXPECT_EQ(r.t.output(), block + "above at 60\r\n" + block);

    Recorded plain("");
    plain.t.add_resize(60, 20);
    plain.t.add_keys("8");
    EXPECT_EQ(run_menu(plain.c, plain.menu(Next::wait)), "8");
    EXPECT_EQ(plain.t.output(), block);
}

}  // namespace
}  // namespace rowkeep::testing
