// A scratch name or one of the program's folders taken by something that is not the
// program's own: a symbolic link out of the folder (to a file or folder that exists, or to
// a name that does not), a FIFO, or (for a file's name) a folder. Each is put under the name, then
// the whole program runs the operation that writes or reads it. Nothing outside the folder may
// change, no open may block, the table file stays whole, and the screen names the refused file.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "harness.h"

namespace rowkeep::testing {
namespace {

const std::string kTable = "k;v\r\na;1\r\nb;2\r\n";
const std::string kEdited = "k;v\r\nX;1\r\nb;2\r\n";

enum class Kind { link, dangling_link, fifo, folder };

const char* kind_name(Kind kind) {
    switch (kind) {
        case Kind::link:
            return "link out of the folder";
        case Kind::dangling_link:
            return "link to a missing name outside";
        case Kind::fifo:
            return "FIFO";
        case Kind::folder:
            return "folder";
    }
    return "?";
}

struct Operation {
    const char* name;
    std::string keys;
    std::vector<std::string> tables;  // what t.csv may hold afterwards
    std::string success;              // what the screen shows when the operation succeeded
};

// The load ends from the end menu without saving; the others save where they can so that
// every scratch file of the operation is met.
const Operation kLoad{"load",
                      from_main_menu("131\r9"
                                     "9"
                                     "8"
                                     "9"),
                      {kTable},
                      "rows =  3  columns =  2"};
const Operation kEdit{"row edit and save",
                      from_main_menu("131\r9"
                                     "1X\r\r9"
                                     "9"
                                     "1xx"
                                     "89"),
                      {kTable, kEdited},
                      ""};  // a refused row edit leaves the save to go on
const Operation kSave{"save with export",
                      from_main_menu("131\r9"
                                     "9"
                                     "1xx"
                                     "89"),
                      {kTable},
                      "---------- HTML results ----------"};
const Operation kSort{"sort set-up",
                      from_main_menu("131\r"
                                     "s23xx8"
                                     "1\r5\rx8"),
                      {kTable},
                      "output sort table = t_sort.csv"};
const Operation kCreate{"create table",
                        from_main_menu("21new\r1\rk\r8"
                                       "8"),
                        {kTable},
                        "new table = new.csv"};
const Operation kListing{"listing",
                         from_main_menu("131\r"
                                        "88x"
                                        "9"
                                        "9"
                                        "8"
                                        "9"),
                         {kTable},
                         "ouput (print) file = t.txt"};

// Whether the program deletes what it finds under the name before it uses the name: the
// load clears its own scratch files, and the clean-ups delete the program's names that
// list as files (a link to a file among them; the link goes, not its target).
enum class Cleared { never, links, always };

struct Case {
    std::string name;  // "\" separates folders, as the program names them
    const Operation* operation;
    bool folder;  // one of the program's folders rather than a file
    Cleared cleared;
};

std::vector<Case> cases() {
    std::vector<Case> all;
    auto add = [&](const Operation& op, std::initializer_list<const char*> names,
                   Cleared cleared = Cleared::never, bool folder = false) {
        for (const char* name : names) all.push_back({name, &op, folder, cleared});
    };
    add(kLoad, {"f_03.txt", "f_04.txt", "f_05.txt", "sort_output.txt", "null.txt", "out_null.txt"});
    add(kLoad,
        {"f_11_1.txt", "f_12_1.txt", "f_12_2.txt", "f_13_2.txt", "f_13_3.txt", "f_14_1.txt",
         "f_15_1.txt"},
        Cleared::always);
    add(kEdit, {"f_16_1.txt", "f_16_3.txt", "f_16_4.txt"});
    add(kSave, {"t.htm", "return.txt", "check_01.txt"});
    // Written after the clean-up of txt_in or of the folder's scratch files.
    add(kSave,
        {"txt_in\\f_15_1.txt", "dir_01.txt", "dir_02.txt", "file_t_01.htm", "page_1.htm",
         "page_1_02.htm", "wrd_01.txt", "wrd_02.txt", "wrd_03.txt", "wrd_04.txt", "wrd_05.txt",
         "wrd_06.txt", "wrd_06_1.txt", "index.htm", "search.htm"},
        Cleared::links);
    add(kSave, {"txt_in", "htm_in", "htm_out"}, Cleared::never, true);
    add(kSort, {"file_18.txt", "file_20_1.txt", "file_21_2.txt", "file_24_1.txt", "file_26_1.txt",
                "file_26_2.txt", "file_28.txt"});
    add(kCreate, {"dir_b_01.txt"});
    add(kListing, {"t.txt"});
    return all;
}

// Every entry below a folder, with its kind and, for a file, its bytes: what "nothing
// changed" compares.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> seen;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().lexically_relative(root).string();
        const auto type = it->symlink_status(ec).type();
        if (type == fs::file_type::regular) {
            std::ifstream in(it->path(), std::ios::binary);
            seen[name] = "file:" + std::string(std::istreambuf_iterator<char>(in), {});
        } else {
            seen[name] = "kind " + std::to_string(static_cast<int>(type));
        }
    }
    return seen;
}

std::string slashed(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

void run_case(const Case& c, Kind kind) {
    SCOPED_TRACE(std::string(c.operation->name) + ": " + c.name + " as " + kind_name(kind));
    TempDir dir, outside;
    dir.write("t.csv", kTable);
    // Outside: a folder of a user's web pages and notes, under the names the program uses.
    for (const char* name : {"index.htm", "page_1.htm", "t.htm", "f_15_1.txt", "notes.txt"})
        outside.write(std::string("web/") + name, std::string("outside ") + name + "\r\n");
    outside.write("target.txt", "outside target\r\n");

    const std::string name = slashed(c.name);
    const fs::path at = dir.path() / name;
    fs::create_directories(at.parent_path());
    switch (kind) {
        case Kind::link:
            fs::create_symlink(outside.path() / (c.folder ? "web" : "target.txt"), at);
            break;
        case Kind::dangling_link:
            fs::create_symlink(outside.path() / "missing", at);
            break;
        case Kind::fifo:
            ASSERT_EQ(mkfifo(at.c_str(), 0644), 0);
            break;
        case Kind::folder:
            fs::create_directory(at);
            break;
    }
    const auto before = snapshot(outside.path());

    // A FIFO opened for reading or writing would block here for good.
    RunResult r = run_program(dir.path(), c.operation->keys);

    EXPECT_EQ(snapshot(outside.path()), before);
    const std::string table = dir.read("t.csv");
    bool allowed = false;
    for (const auto& t : c.operation->tables) allowed = allowed || table == t;
    EXPECT_TRUE(allowed) << table;
    // A folder is never deleted as a scratch file.
    const bool cleared = (c.cleared == Cleared::always && kind != Kind::folder) ||
                         (c.cleared == Cleared::links && kind == Kind::link);
    if (cleared) {
        // Removed as the program's own name, then made anew: the operation went through.
        EXPECT_NE(r.screen.find(c.operation->success), std::string::npos);
        std::error_code ec;
        const auto type = fs::symlink_status(at, ec).type();
        EXPECT_TRUE(type == fs::file_type::not_found || type == fs::file_type::regular);
    } else {
        // "f_15_1.txt is a link, not a file of the folder", "htm_out is not a folder", ...
        EXPECT_NE(r.screen.find(name + " is "), std::string::npos)
            << "the screen does not name " << name << ":\n"
            << r.screen.substr(r.screen.size() > 1500 ? r.screen.size() - 1500 : 0);
        if (!c.operation->success.empty()) {
            EXPECT_EQ(r.screen.find(c.operation->success), std::string::npos);
        }
    }
}

void run_operation(const Operation& op) {
    for (const Case& c : cases())
        if (c.operation == &op)
            for (Kind kind : {Kind::link, Kind::dangling_link, Kind::fifo, Kind::folder})
                if (!(c.folder && kind == Kind::folder)) run_case(c, kind);
}

TEST(ScratchLinks, Load) {
    run_operation(kLoad);
}
TEST(ScratchLinks, RowEdit) {
    run_operation(kEdit);
}
TEST(ScratchLinks, SaveWithExport) {
    run_operation(kSave);
}
TEST(ScratchLinks, SortSetUp) {
    run_operation(kSort);
}
TEST(ScratchLinks, CreateTable) {
    run_operation(kCreate);
}
TEST(ScratchLinks, Listing) {
    run_operation(kListing);
}

}  // namespace
}  // namespace rowkeep::testing
