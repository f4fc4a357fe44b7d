#include "startup/start_program.h"

#include <system_error>

#include "console/console.h"
#include "console/folder_lock.h"
#include "console/menu.h"
#include "console/program_names.h"
#include "console/replace_file.h"
#include "console/shell.h"
#include "startup/code_page_choice.h"
#include "startup/main_menu.h"

namespace rowkeep {

namespace {

void show_start_screen(Session& s) {
    Console& c = s.console;
    if (!s.sponsor_address.empty()) c.print_text(s.sponsor_address);
    const std::string equals(58, '=');
    c.print_text(equals);
    c.print_newline();
    c.print_text("Program for create/edit Rowkeep (MS Excel compatible table *.csv).");
    c.print_newline();
    c.print_text("Program name (Rowkeep): " + s.program_file_name);
    c.print_text(kMakerLine);
    c.print_newline();
    c.print_text("Terms of use:");
    c.print_text(
        "Author of the program is not responsible for any consequences resulting from errors "
        "in the program.");
    c.print_text("Users respect this risk and take the program on their own responsibility.");
    c.print_newline();
    for (int i = 0; i < 4; ++i) c.print_text("");
    c.print_newline();
    c.print_text("More information: " + std::string(kMakerAddress));
    if (!s.sponsor_address.empty()) c.print_text("Sponsored by:     " + s.sponsor_address);
    c.print_text(equals);
    c.print_text("Do you accept the terms of use?");
    c.print_newline();
}

void show_notice(Console& c) {
    c.print_newline();
    c.print_text("--------- PROGRAM MUST BE INSTALLED IN OWN DIRECTORY ---------");
    c.print_text("The program must be installed in its own directory along with working files.");
    c.print_text(
        "During the execution of the program will wipe most of the * .txt files , and other "
        "files.");
    c.print_newline();
    c.print_text(
        "The character <;> is reserved as a separator in files (*.csv) and therefore should "
        "not be included in the input data.");
    c.print_text("Files tagged with: f_*.txt are reserved for the program.");
    c.print_text(std::string(62, '-'));
    c.print_newline();
}

// The temporaries a killed program left in the folder and in its own sub-folders (real
// folders only: a link may lead anywhere). One that can not be removed costs only space,
// but the user is told.
void remove_left_temporaries(Session& s) {
    bool removed = remove_stale_temporaries(s.files, s.dir);
    for (const char* sub : {"txt_in", "htm_in", "htm_out"}) {
        std::error_code ec;
        const std::filesystem::path folder = s.dir / sub;
        if (std::filesystem::symlink_status(folder, ec).type() ==
            std::filesystem::file_type::directory)
            removed = remove_stale_temporaries(s.files, folder) && removed;
    }
    if (removed) return;
    s.console.print_text("temporary files can not be removed: " + s.faults.last_cause());
    s.console.print_text("<> any key to continue");
    s.console.wait_any_key();
}

}  // namespace

void start_program(Session& s) {
    // Before any file is touched: a second program in the folder would mix its working
    // files with this one's.
    FolderLock lock(s.files);
    if (lock.state() == FolderLock::State::busy) {
        s.console.print_text("Rowkeep is already running in this folder");
        throw ProgramEnd{};
    }
    if (lock.state() == FolderLock::State::failed) {
        s.console.print_text("Rowkeep can not lock this folder: " + lock.reason());
        s.console.print_text("<> any key to end");
        s.console.wait_any_key();
        throw ProgramEnd{};
    }
    remove_left_temporaries(s);

    s.sort_keys_max = 30;
    s.row_label_width = 11;
    s.default_col_width = 12;
    s.col_width = s.default_col_width;
    s.shell.run_command("chcp 1250");
    ProgramNames names = derive_program_names(kSourceFileName);
    s.program_file_name = names.program_file_name;
    s.sponsor_address = names.sponsor_address;

    show_start_screen(s);
    if (menu_key(s.console, {"<1> yes, continue", "<2> no,  end"}, "12") == "2") throw ProgramEnd{};
    show_notice(s.console);
    if (menu_key(s.console, {"<1> continue", "<2> end"}, "12") == "2") throw ProgramEnd{};

    choose_code_page(s);
    s.shell.run_command("chcp " +
                        s.code_page.substr(s.code_page.size() > 8 ? 8 : s.code_page.size()));
    s.console.print_newline();
    main_menu(s);
}

}  // namespace rowkeep
