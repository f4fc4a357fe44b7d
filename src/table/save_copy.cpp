#include "table/save_copy.h"

#include <filesystem>
#include <string>
#include <system_error>

#include "console/console.h"
#include "console/menu.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "html/code_page_check.h"
#include "html/html_export.h"

namespace rowkeep {

namespace {

// The summary of a save or copy; a table file that could not be written says so
// instead, since the rows then went nowhere.
void print_summary(Session& s, const std::string& destination, bool written, int rows) {
    Console& c = s.console;
    c.print_newline();
    if (written) {
        c.print_text("copy/save ========== " + destination + "   rows =" + number_text(rows) +
                     " /" + number_text(rows) + " ==========");
    } else {
        c.print_text("table (file) can not be written: " + destination);
        if (!s.faults.last_cause().empty()) c.print_text(s.faults.last_cause());
    }
    c.print_newline();
}

// True when the working file's copy in txt_in is whole: only then may the export, which
// deletes every *.txt of the folder, run.
bool working_copy_kept(const Session& s) {
    std::error_code ec;
    auto original = fs::file_size(s.files.resolve(kWorkingFile), ec);
    if (ec) return false;
    auto kept = fs::file_size(s.files.resolve("txt_in\\f_15_1.txt"), ec);
    return !ec && kept == original;
}

// After the export, which deletes the working file: its copy comes back. When the copy
// fails (a full disk), a second name for the kept copy needs no room.
bool bring_back_working_file(Session& s) {
    s.shell.run_command("copy txt_in\\f_15_1.txt");
    // A copy is whole or nothing, so a working file of the kept copy's size is that copy,
    // or the one an export that failed early left in place.
    if (working_copy_kept(s)) return true;
    const fs::path kept = s.files.resolve("txt_in\\f_15_1.txt");
    const fs::path working = s.dir / kWorkingFile;
    std::error_code ec;
    if (fs::exists(working, ec)) s.files.remove(working);
    return s.files.link(kept, working) && working_copy_kept(s);
}

void save(Session& s) {
    Console& c = s.console;
    std::string destination = s.table_name;
    c.print_text(destination);
    int rows = 0;
    bool written = save_table(s, destination, rows);
    print_summary(s, destination, written, rows);
    if (written) {
        const long before = s.faults.failures();
        s.shell.run_command("md txt_in");
        s.shell.run_command("del /q txt_in\\*.*");
        s.shell.run_command("copy f_15_1.txt txt_in\\");
        if (s.faults.failures() != before || !working_copy_kept(s)) {
            c.print_text("HTML export failed (working file copy): " + s.faults.last_cause());
        } else {
            // The export counts other things in row_count and keeps the names it shows
            // (trimmed, or as far as it got) in column_names; the table has not changed.
            const int rows_of_table = s.row_count;
            const std::vector<std::string> names = s.column_names;
            html_export(s);
            s.row_count = rows_of_table;
            s.column_names = names;
            if (!bring_back_working_file(s)) {
                // The table file is saved, but editing can not go on without its working
                // file: an edit or save of a missing one would lose the table.
                report_working_file_failure(s);
                c.print_text("The table is saved. The program ends.");
                c.print_text("End");
                throw ProgramEnd{};
            }
            // The export leaves the console in code page 1252; editing goes on in the
            // table's own page, or its letters would show and be typed as another page's.
            if (const std::string number = code_page_number(s.code_page); !number.empty())
                s.shell.run_command("chcp " + number);
        }
    }
    c.print_text("<> any key to continue");
    c.wait_any_key();
}

void copy(Session& s) {
    Console& c = s.console;
    c.print_newline();
    c.print_text("copy table:");
    std::string destination = c.prompt_input("destination table name (without extension) = ");
    if (destination.empty())
        destination =
            "noname_" + s.clock.date() + "_" + replace_char(s.clock.time_of_day(), ':', '_');
    if (!safe_copy_name(destination)) {
        c.print_text("table (file) name is incorrect");
    } else {
        destination += ".csv";
        int rows = 0;
        bool written = save_table(s, destination, rows);
        print_summary(s, destination, written, rows);
    }
    c.print_text("<> any key to continue");
    c.wait_any_key();
}

// After "8": editing goes on, or the program ends; any other key goes back to the save
// menu's keys, without its block.
Next continue_or_end(Session& s) {
    const std::string key = run_menu(
        s.console, {{
                        {"", kRule},
                        {"1\r", "<1> or <Enter> edit continue"},
                        {"9", "<9>            end  program",
                         [&]() -> Next {
                             s.shell.run_command("for %i in (f_*.txt) do del /q %i > out_null.txt");
                             end_program(s.console);
                         }},
                    },
                    Next::leave});
    if (key != "1" && key != "\r") return Next::wait;
    s.edit_mode = EditMode::editing;
    return Next::leave;
}

}  // namespace

bool safe_copy_name(std::string_view name) {
    if (name == "." || name == "..") return false;
    for (char c : name) {
        const auto ch = static_cast<unsigned char>(c);
        if (ch == '/' || ch == '\\' || ch < 32 || ch == 127) return false;
    }
    return true;
}

void save_menu(Session& s) {
    s.edit_mode = EditMode::end_edit;
    run_menu(s.console,
             {{
                 {"", std::string(40, '-')},
                 {"1\r", "<1> or <Enter> save table (*.csv, *.htm)", then_show([&] { save(s); })},
                 {"2", "<2> copy            table (*.csv)", then_show([&] { copy(s); })},
                 {"8", "<8> exit", [&] { return continue_or_end(s); }},
             }});
}

}  // namespace rowkeep
