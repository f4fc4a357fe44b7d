#include "table/create_table.h"

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/index.h"
#include "console/menu.h"
#include "console/program_files.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "table/save_copy.h"
#include "table/table_selection.h"
#include "table/table_structure.h"

namespace rowkeep {

namespace {

constexpr std::string_view kListing = "dir_b_01.txt";

// The existence check: the full listing's lines between its five header lines and its two
// summary lines are the files that match, and each is shown.
int show_existing(Session& s) {
    s.shell.run_command("dir " + command_name(s.table_name) + " > " + std::string(kListing));
    TextReader listing(s.files, kListing);
    int lines = 0;
    while (!listing.at_end()) {
        listing.read_line();
        ++lines;
    }
    listing.rewind();
    int shown = 0;
    for (int i = 1; i <= lines; ++i) {
        std::string line = listing.read_line();
        if (i > 5 && i <= lines - 2) {
            s.console.print_text(line);
            ++shown;
        }
    }
    s.console.print_newline();
    return shown;
}

bool overwrite_chosen(Session& s) {
    Console& c = s.console;
    c.print_text(kRule);
    c.print_text("Table exist.");
    const Menu question{{
                            {"", ""},
                            {"1\r", "<1> or <Enter> exit"},
                            {"2", "<2> overwrite with new table"},
                        },
                        Next::leave};
    return run_menu(c, question) == "2";
}

// The column names as typed; a value is stored as cleaned for the table file, an empty
// one as a single blank so the line keeps its cell.
std::vector<std::string> ask_column_names(Session& s) {
    Console& c = s.console;
    // Filled as the names come rather than sized up front: a mistyped count of millions
    // must not allocate millions of names before the first is asked.
    std::vector<std::string> names(1);
    names.reserve(idx(std::min(s.column_count, 4096)) + 1);
    c.print_newline();
    for (int i = 1; i <= s.column_count; ++i) {
        c.print_number(i, Ending::stay);
        std::string name = clean_column_name(c.prompt_input("      column name = "));
        names.push_back(name.empty() ? " " : name);
    }
    return names;
}

// The two lines of a new table: the names, then one blank cell per column.
bool write_new_table(Session& s) {
    std::string heading, blanks;
    for (int i = 1; i <= s.column_count; ++i) {
        if (i > 1) {
            heading += ';';
            blanks += ';';
        }
        heading += s.column_names[idx(i)];
        blanks += ' ';
    }
    // Replaced as a whole, so an overwrite that fails leaves the old table as it was.
    TextWriter out;
    if (!out.open_replacing(s.files, s.table_name)) return false;
    out.print_text(heading);
    out.print_text(blanks);
    return out.close();
}

void create_one(Session& s) {
    Console& c = s.console;
    c.print_text(kRule);
    s.selected_table = lower_az(c.prompt_input("new table name (without .csv extension) = "));
    std::string name = trim_blanks(s.selected_table);
    // A name that is a path would write outside the program's folder.
    if (name.empty() || !safe_copy_name(name)) {
        c.print_text("table (file) name is incorrect");
        return;
    }
    s.table_name = name + ".csv";
    const long before = s.faults.failures();
    const bool listed = show_existing(s) > 0;
    // A listing that could not be made or read must not pass for "no such table".
    if (s.faults.failures() != before) {
        report_folder_failure(s);
        return;
    }
    if ((listed || exists_in_folder(s, s.table_name)) && !overwrite_chosen(s)) return;
    c.print_text(kRule);
    c.print_text("new table = ", Ending::stay);
    c.print_text(s.table_name);
    c.print_newline();
    s.column_count = c.prompt_integer("number of columns = ");
    if (s.column_count < 1) {
        c.print_text("number of columns is incorrect");
        return;
    }
    s.column_names = ask_column_names(s);
    if (!write_new_table(s)) {
        c.print_text("table (file) can not be created");
        c.print_text(s.faults.last_cause());
    }
}

}  // namespace

void create_table(Session& s) {
    s.console.print_newline();
    run_menu(s.console, {{
                            {"", kRule},
                            {"1", "<1> create table", then_show([&] { create_one(s); })},
                            {"8", "<8> exit"},
                        }});
}

}  // namespace rowkeep
