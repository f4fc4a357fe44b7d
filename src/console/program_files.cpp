#include "console/program_files.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "console/console.h"
#include "console/records.h"
#include "console/tokens.h"

namespace rowkeep {

namespace {

constexpr std::string_view kProgramNames[] = {
    "f_*.txt",       "file_*.txt", "wrd_*.txt",    "dir_*.txt", "page_*.txt",
    "check_*.txt",   "return.txt", "out_null.txt", "null.txt",  "sort_output.txt",
    "cell.edit.txt", "page_*.htm", "file_*.htm",   "index.htm", "search.htm",
};

}  // namespace

bool is_program_file(std::string_view name) {
    for (std::string_view pattern : kProgramNames)
        if (matches_pattern(pattern, name)) return true;
    return false;
}

void delete_program_files(Session& s, std::string_view pattern, std::string_view page) {
    std::string folder, mask(pattern);
    if (auto slash = pattern.find_last_of('\\'); slash != std::string_view::npos) {
        folder = std::string(pattern.substr(0, slash));
        mask = std::string(pattern.substr(slash + 1));
    }
    const fs::path base = folder.empty() ? s.dir : s.files.resolve(folder);
    std::error_code ec;
    // A folder that is a link leads out of the program's folder: nothing there is its own.
    const bool real_folder = fs::symlink_status(base, ec).type() == fs::file_type::directory;
    bool matched = false;
    for (const auto& entry : fs::directory_iterator(real_folder ? base : fs::path(), ec)) {
        const std::string name = entry.path().filename().string();
        if (!matches_pattern(mask, name) ||
            entry.symlink_status(ec).type() == fs::file_type::directory)
            continue;
        matched = true;
        const bool own =
            is_program_file(name) ||
            (!page.empty() && lower_az(s.files.listed_name(entry.path())) == lower_az(page));
        if (own) unlink(entry.path().c_str());
    }
    // What the interpreter's delete says when nothing matches.
    if (!matched) {
        std::string shown(pattern);
        std::replace(shown.begin(), shown.end(), '\\', '/');
        s.console.print_text("Could Not Find " + shown);
    }
}

bool exists_in_folder(const Session& s, std::string_view name) {
    std::error_code ec;
    const auto type = fs::symlink_status(s.files.resolve(name), ec).type();
    return type != fs::file_type::not_found && type != fs::file_type::directory;
}

}  // namespace rowkeep
