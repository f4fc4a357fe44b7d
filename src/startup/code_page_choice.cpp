#include "startup/code_page_choice.h"

#include "console/index.h"
#include "console/menu.h"

namespace rowkeep {

const std::array<CodePageEntry, 11> kCodePages = {{
    {"Windows-1250",
     "Central Europe languages: Albanian, Croatian, Czech, Hungarian, Polish, Romanian, "
     "Serbian (Latin), Slovak, Slovenian"},
    {"Windows-1251",
     "Cyrillic languages: Azeri, Belarusian, Bulgarian, Macedonian, Kazakh, Kyrgyz, "
     "Mongolian, Russian, Serbian, Tatar, Ukrainian, Uzbek"},
    {"Windows-1252",
     "Latin 1 languages: Afrikaans, Basque, Catalan, Danish, Dutch, English, Faroese, "
     "Finnish, French, Galician, German, Icelandic, Indonesian, Italian, Malay, Norwegian, "
     "Portuguese, Spanish, Swahili, Swedish"},
    {"Windows-1253", "Greek"},
    {"Windows-1254", "Turkic languages: Azeri (Latin), Turkish, Uzbek (Latin)"},
    {"Windows-1255", "Hebrew"},
    {"Windows-1256", "Arabic, Farsi, Urdu"},
    {"Windows-1257", "Baltic languages: Estonian, Latvian, Lithuanian"},
    {"Windows-1258", "Vietnamese"},
    {"Windows-54936", "China"},
    {"Windows-65001", "Unicode (UTF-8): all languages"},
}};

namespace {

void list_entry(Console& c, int number, bool with_rule) {
    if (with_rule) c.print_text(std::string(31, '-'));
    const auto& entry = kCodePages[idx(number - 1)];
    c.print_number(number, Ending::zone);
    c.print_text(entry.name);
    c.print_text(entry.description);
}

// Steps through the entries; true when one was chosen.
bool step_entries(Session& s) {
    Console& c = s.console;
    for (int number = 1; number <= static_cast<int>(kCodePages.size()); ++number) {
        list_entry(c, number, true);
        const std::string key = menu_key(c, {"<> any key to continue, <3> select, <8> exit"});
        if (key == "3") {
            c.print_text("--------- selected code page ----------");
            list_entry(c, number, false);
            s.code_page = std::string(kCodePages[idx(number - 1)].name);
            c.print_text("Windows code page = " + s.code_page);
            return true;
        }
        if (key == "8") return false;
    }
    return false;
}

void list_all(Console& c) {
    for (int number = 1; number <= static_cast<int>(kCodePages.size()); ++number)
        list_entry(c, number, true);
}

}  // namespace

void choose_code_page(Session& s) {
    Console& c = s.console;
    run_menu(c, {{
                    {"", "---------------------------------"},
                    {"1", "<1> list all    Windows code page", then_show([&] { list_all(c); })},
                    {"2", "<2> list/select Windows code page - increment",
                     [&] { return step_entries(s) ? Next::leave : Next::show; }},
                    {"8", "<8> exit, end", [&]() -> Next { end_program(c); }},
                }});
}

}  // namespace rowkeep
