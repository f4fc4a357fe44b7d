#include "console/session.h"

#include <ctime>

#include "console/console.h"
#include "console/index.h"
#include "console/shell.h"

namespace rowkeep {

namespace {
std::string format_now(const char* format) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}
}  // namespace

std::string SystemClock::time_of_day() {
    return format_now("%H:%M:%S");
}
std::string SystemClock::date() {
    return format_now("%m-%d-%Y");
}

Session::Session(Console& console_, Shell& shell_, std::filesystem::path dir_, Clock& clock_,
                 std::mt19937& random_)
    : console(console_),
      shell(shell_),
      dir(std::move(dir_)),
      clock(clock_),
      random(random_),
      names(console_.terminal()),
      files(dir, &faults, &names) {
    files.free_on(&deleted);
    shell.use_files(files);
}

void Session::size_arrays() {
    size_arrays(column_count);
}

void Session::size_arrays(int n) {
    const std::size_t size = n < 0 ? 1 : idx(n) + 1;
    for (auto* array :
         {&cells, &column_names, &saved_cells, &col_headings, &column_list, &print_columns}) {
        array->resize(size);
    }
    col_widths.resize(size, col_width);
}

}  // namespace rowkeep
