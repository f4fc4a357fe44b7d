// The program-wide values and the services every procedure reaches through them.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "console/deleted_files.h"
#include "console/file_system.h"
#include "console/program_end.h"

namespace rowkeep {

class Console;
class Shell;

// Time of day and date as the program shows them.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::string time_of_day() = 0;  // "hh:mm:ss"
    virtual std::string date() = 0;         // "mm-dd-yyyy"
};

class SystemClock : public Clock {
  public:
    std::string time_of_day() override;
    std::string date() override;
};

class FixedClock : public Clock {
  public:
    FixedClock(std::string time, std::string date)
        : time_(std::move(time)), date_(std::move(date)) {}
    std::string time_of_day() override { return time_; }
    std::string date() override { return date_; }

  private:
    std::string time_, date_;
};

// One entry of the sort key list: indices 1 to 4 hold column number, column name,
// first position and last position as decimal texts; index 0 is unused.
using SortKey = std::array<std::string, 5>;

// Where editing stands, as its readers need it.
enum class EditMode {
    none,      // no step of editing is under way: the viewer offers find and the row moves
    editing,   // a row, rows or the structure are being edited: the viewer only shows
    end_edit,  // the save menu is open; the edit loop ends the program if it is left so
};

class SpareFiles;

struct Session {
    // The interpreter is handed the session's file system, so its commands share the faults.
    Session(Console& console_, Shell& shell_, std::filesystem::path dir_, Clock& clock_,
            std::mt19937& random_);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    std::string table_name, selected_table, code_page;
    EditMode edit_mode = EditMode::none;
    std::string program_file_name, sponsor_address;
    std::string in_file_name;

    int row_count = 0, column_count = 0, top_row = 0, edit_row = 0, first_col = 0;
    int console_cols = 80, console_rows = 25;
    int row_label_width = 11, default_col_width = 12, col_width = 12;
    int sort_keys_max = 30;

    // 1-based arrays: index 0 exists and is unused.
    std::vector<std::string> cells, column_names, saved_cells, col_headings, column_list,
        print_columns;
    std::vector<int> col_widths;
    std::vector<SortKey> sort_keys;

    Console& console;
    Shell& shell;
    std::filesystem::path dir;  // the working directory; every file name is relative to it
    Clock& clock;
    std::mt19937& random;
    // Fault injection and the record of file failures, and the door every file operation
    // goes through: pass `files` wherever a folder is wanted.
    FileFaults faults;
    // File names between the code page and the terminal's locale, for every `files`.
    NameCodec names;
    // Large files deleted through `files` are freed on a thread of their own; the session
    // ends once they all are.
    DeletedFiles deleted;
    FileSystem files;

    // Called, when set, as each named step of a long procedure ends: benchmarks time the
    // steps of the HTML export with it. Unset, it costs nothing.
    std::function<void(std::string_view step)> step_done;
    void mark_step(std::string_view step) const {
        if (step_done) step_done(step);
    }

    // While the HTML export runs its word sorts: the files they take for their runs and
    // output (viewer/spare_files.h), made ahead during the scan. Null otherwise.
    SpareFiles* spares = nullptr;

    // Sizes every per-column array to column_count + 1 entries (index 0 unused).
    void size_arrays();
    // Sizes every per-column array to n + 1 entries.
    void size_arrays(int n);
};

}  // namespace rowkeep
