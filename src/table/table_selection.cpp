#include "table/table_selection.h"

#include <vector>

#include "console/console.h"
#include "console/menu.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "viewer/sort_engine.h"

namespace rowkeep {

namespace {

constexpr std::string_view kListFile = "f_05.txt";

void build_list(Session& s) {
    s.shell.run_command("dir /b *.csv > f_03.txt");
    sort_file(s, {"f_03.txt", "f_04.txt"});
    TextReader in(s.files, "f_04.txt");
    TextWriter out(s.files, kListFile);
    while (!in.at_end()) {
        std::string line = lower_az(in.read_line());
        if (line.find("csv") != std::string::npos || line.find("htm") != std::string::npos)
            out.print_text(line);
    }
}

void print_numbered(Session& s, int n, const std::string& name) {
    s.console.print_text(numbered_line(n, name));
}

// The paged listing from an asked line: a pause after each line, "3" lists the rest at
// once, "8" stops.
void paged_listing(Session& s, TextReader& list) {
    s.console.print_text(std::string(31, '-'));
    int first = s.console.prompt_integer("selct table (row) = ");
    list.rewind();
    int n = 0;
    bool paused = true;
    while (!list.at_end()) {
        std::string name = list.read_line();
        ++n;
        if (n < first) continue;
        if (!paused) {
            print_numbered(s, n, name);
            continue;
        }
        s.console.print_newline();
        print_numbered(s, n, name);
        const std::string key =
            menu_key(s.console, {"<> any key to continue,  <3> list all rest,  <8> exit"});
        if (key == "8") break;
        if (key == "3") paused = false;
    }
}

void list_all(Session& s, TextReader& list) {
    list.rewind();
    for (int n = 1; !list.at_end(); ++n) print_numbered(s, n, list.read_line());
}

// The table of the number asked into selected_table; false for a number outside the list.
bool choose_table(Session& s, TextReader& list, int count) {
    s.console.print_text(std::string(32, '-'));
    const int chosen = s.console.prompt_integer("select table (row) = ");
    s.console.print_text(std::string(32, '-'));
    if (chosen < 1 || chosen > count) return false;
    list.rewind();
    std::string name;
    for (int n = 1; n <= chosen && !list.at_end(); ++n) name = list.read_line();
    s.selected_table = name;
    return true;
}

}  // namespace

std::string numbered_line(int n, const std::string& name) {
    std::size_t margin = n < 10 ? 7 : n < 100 ? 6 : n < 1000 ? 5 : 4;
    return std::string(margin, ' ') + number_text(n) + "  " + name;
}

void report_folder_failure(Session& s) {
    s.console.print_text(std::string(31, '-'));
    s.console.print_text("folder can not be read or written: " + s.faults.last_cause());
    s.console.print_text("<> any key to continue");
    s.console.wait_any_key();
}

bool select_table(Session& s) {
    const long before = s.faults.failures();
    build_list(s);
    // A listing that failed is not an empty folder: "no select" would be untrue.
    if (s.faults.failures() != before) {
        report_folder_failure(s);
        return false;
    }
    s.in_file_name = std::string(kListFile);
    TextReader list(s.files, kListFile);
    int count = 0;
    while (!list.at_end()) {
        list.read_line();
        ++count;
    }
    // Nor is a list that could not be read.
    if (s.faults.failures() != before) {
        report_folder_failure(s);
        return false;
    }
    if (count == 0) {
        s.console.print_text(std::string(31, '-'));
        s.console.print_text("no select");
        return false;
    }
    bool chosen = false;
    run_menu(
        s.console,
        {{
            {"", "-------------------------------"},
            {"1", "<1> list all tables", then_show([&] { list_all(s, list); })},
            {"2", "<2> list      tables - increment", then_show([&] { paged_listing(s, list); })},
            {"3", "<3> select  table",
             [&] {
                 chosen = choose_table(s, list, count);
                 return chosen ? Next::leave : Next::show;
             }},
            {"8", "<8> exit", then_leave([&] {
                 list.close();
                 s.shell.run_command("cls");
             })},
        }});
    return chosen;
}

}  // namespace rowkeep
