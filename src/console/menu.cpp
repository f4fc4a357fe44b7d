#include "console/menu.h"

#include "console/program_end.h"

namespace rowkeep {

namespace {

void show_block(Console& console, const Menu& menu) {
    for (const auto& entry : menu.entries)
        if (entry.label) console.print_text(*entry.label);
}

const MenuEntry* entry_of(const Menu& menu, const std::string& key) {
    if (key.size() != 1) return nullptr;
    for (const auto& entry : menu.entries)
        if (entry.keys.find(key[0]) != std::string_view::npos) return &entry;
    return nullptr;
}

}  // namespace

std::string run_menu(Console& console, const Menu& menu) {
    unsigned drawn_at = menu.drawn_at;
    show_block(console, menu);
    for (;;) {
        const std::string key =
            menu.redraw ? console.wait_key_or_resize(drawn_at) : console.wait_key();
        if (key.empty()) {
            drawn_at = console.size_changes();
            menu.redraw();
            show_block(console, menu);
            continue;
        }
        const MenuEntry* entry = entry_of(menu, key);
        if (!entry && menu.other_action) menu.other_action();
        const Next next = !entry ? menu.other : entry->action ? entry->action() : Next::leave;
        if (next == Next::leave) return key;
        if (next == Next::show) show_block(console, menu);
    }
}

std::string menu_key(Console& console, std::initializer_list<std::string_view> block,
                     std::string_view keys) {
    Menu menu{{}, keys.empty() ? Next::leave : Next::wait};
    for (auto line : block) menu.entries.push_back({"", std::string(line)});
    menu.entries.push_back({keys, std::nullopt});
    return run_menu(console, menu);
}

std::string wait_for_one_of(Console& console, std::string_view keys) {
    return menu_key(console, {}, keys);
}

void end_program(Console& console) {
    console.print_text("End");
    throw ProgramEnd{};
}

}  // namespace rowkeep
