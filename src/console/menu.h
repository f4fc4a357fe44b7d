// The key menu: a block of lines and the keys that choose its entries, in one table, run
// by one loop. A reader sees a whole screen's menu at a glance.
#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"

namespace rowkeep {

// The rule of 30 dashes above most menus and prompts.
inline const std::string kRule(30, '-');

// What the menu does once an entry's action is done.
enum class Next {
    wait,   // waits for the next key, the block not shown again
    show,   // shows the block again, then waits
    leave,  // returns from run_menu
};

struct MenuEntry {
    // The one-byte keys that choose the entry ("1\r" for "1" and Enter); empty for a line
    // of the block that no key chooses (a rule, a blank line).
    std::string_view keys;
    // The block's line for the entry; none for a key the block does not list.
    std::optional<std::string> label;
    // Done when one of keys is pressed; without an action the key leaves the menu.
    std::function<Next()> action = {};
};

struct Menu {
    std::vector<MenuEntry> entries;
    // What a key that chooses no entry does; left, it is what run_menu returns.
    Next other = Next::wait;
    // When set, done for such a key first.
    std::function<void()> other_action = {};
    // When set, a resize while the menu waits calls it to draw what stands above the block,
    // then shows the block again, at the new size. drawn_at is size_changes() when the
    // screen above the block was drawn.
    std::function<void()> redraw = {};
    unsigned drawn_at = 0;
};

// An action that does f, then shows the block again.
template <class F>
std::function<Next()> then_show(F f) {
    return [f] {
        f();
        return Next::show;
    };
}

// An action that does f, then leaves the menu.
template <class F>
std::function<Next()> then_leave(F f) {
    return [f] {
        f();
        return Next::leave;
    };
}

// Prints the block (the labels in their order, each a line), then runs the entry of each
// key pressed until one leaves; returns the key that left.
std::string run_menu(Console& console, const Menu& menu);

// The one-question menu: prints the block, each line with the newline ending, then waits
// for one of the keys (one-character keys, "\r" for Enter) and returns it; every other key
// is dropped silently. With no keys given, any key is returned.
std::string menu_key(Console& console, std::initializer_list<std::string_view> block,
                     std::string_view keys = {});

// Waits for a key that is one of keys; drops the others. Prints nothing.
std::string wait_for_one_of(Console& console, std::string_view keys);

// The menus' way out of the program: "End", and the program ends.
[[noreturn]] void end_program(Console& console);

}  // namespace rowkeep
