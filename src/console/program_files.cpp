#include "console/program_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

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
    // A folder that is a link leads out of the program's folder: the listing refuses it,
    // and nothing there is the program's own. A failed listing deletes nothing and is
    // recorded, so the step that asked for the clean-up does not report success.
    std::vector<fs::path> files;
    if (!s.files.list(base, files)) return;
    bool matched = false;
    for (const fs::path& path : files) {
        const std::string name = path.filename().string();
        if (!matches_pattern(mask, name)) continue;
        matched = true;
        const bool own = is_program_file(name) ||
                         (!page.empty() && lower_az(s.files.listed_name(path)) == lower_az(page));
        if (own) s.files.remove(path);
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
