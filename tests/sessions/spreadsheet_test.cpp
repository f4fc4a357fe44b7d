// Tables and a real spreadsheet: a table saved by the program goes through LibreOffice
// to .xlsx and back with every cell intact, and a ";" table LibreOffice writes loads
// with every cell in its column.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "console/records.h"
#include "console/table_file.h"
#include "harness.h"
#include "viewer/sort_engine.h"

namespace rowkeep::testing {
namespace {

using Grid = std::vector<std::vector<std::string>>;

// ";" separated, no text delimiter, UTF-8 (the cells here are ASCII), first line 1;
// on import every column is text so that "007" stays "007".
constexpr const char* kCsvFilter = "Text - txt - csv (StarCalc)";
const std::string kImportOptions = "59,,76,1,1/2/2/2/3/2/4/2/5/2/6/2";
const std::string kExportOptions = "59,,76,1";

std::string find_soffice() {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        fs::path candidate = fs::path(dirs.substr(start, end - start)) / "soffice";
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
        start = end + 1;
    }
    return "";
}

// Runs a program with its arguments (no shell), output to the void; its exit status.
int run(const std::vector<std::string>& args) {
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Spreadsheet : public ::testing::Test {
  protected:
    void SetUp() override {
        soffice_ = find_soffice();
        if (soffice_.empty())
            GTEST_SKIP()
                << "soffice (libreoffice-calc-nogui) not found: spreadsheet round trip not run";
    }
    // Converts file in dir to the given target ("xlsx", "csv:...") into out_dir.
    void convert(const fs::path& file, const std::string& to, const std::string& infilter,
                 const fs::path& out_dir) {
        std::vector<std::string> args = {
            soffice_,       "-env:UserInstallation=file://" + profile_.path().string(),
            "--headless",   "--norestore",
            "--convert-to", to};
        if (!infilter.empty()) args.push_back("--infilter=" + infilter);
        args.insert(args.end(), {"--outdir", out_dir.string(), file.string()});
        ASSERT_EQ(run(args), 0) << "soffice failed on " << file;
    }
    std::string soffice_;
    TempDir profile_;  // soffice's own profile, away from the user's
};

Grid grid_of(const std::string& bytes) {
    Grid grid;
    std::vector<std::string> row;
    std::string cell;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        char c = i < bytes.size() ? bytes[i] : '\n';
        if (c == ';') {
            row.push_back(cell);
            cell.clear();
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            if (i >= bytes.size() && row.empty() && cell.empty()) break;
            row.push_back(cell);
            cell.clear();
            grid.push_back(row);
            row.clear();
        } else {
            cell += c;
        }
    }
    return grid;
}

const Grid kCells = {
    {"name", "code", "price", "note", "date", "empty"},
    {"apple", "007", "1,5", "red, sweet", "05-22-2017", ""},
    {"pear", "0.50", "2", "  two blanks", "2017-05-22", ""},
    {"plum's", "1e5", "-3", "a 'quoted' word", "12:30", "x"},
    {"", "TRUE", "=1+1", "#N/A", "100%", ""},
    {"last", "", "", "", "", "end"},
};

std::string table_bytes(const Grid& grid) {
    std::string out;
    for (const auto& row : grid) {
        for (std::size_t i = 0; i < row.size(); ++i) out += (i ? ";" : "") + row[i];
        out += "\r\n";
    }
    return out;
}

TEST_F(Spreadsheet, SavedTableToXlsxAndBack) {
    TempDir dir;
    dir.write("fruit.csv", table_bytes(kCells));
    // Select it, leave the viewer, save, end.
    RunResult r = run_program(dir.path(), std::string(kStartKeys) +
                                              "1"
                                              "31\r"
                                              "9"
                                              "9"
                                              "1  "
                                              "89");
    ASSERT_FALSE(r.input_ended);
    std::string saved = dir.read("fruit.csv");
    ASSERT_EQ(grid_of(saved), kCells);

    fs::path xlsx_dir = dir.path() / "xlsx", back_dir = dir.path() / "back";
    fs::create_directories(xlsx_dir);
    fs::create_directories(back_dir);
    convert(dir.path() / "fruit.csv", "xlsx", std::string(kCsvFilter) + ":" + kImportOptions,
            xlsx_dir);
    ASSERT_TRUE(fs::exists(xlsx_dir / "fruit.xlsx"));
    convert(xlsx_dir / "fruit.xlsx", "csv:" + std::string(kCsvFilter) + ":" + kExportOptions, "",
            back_dir);
    std::ifstream in(back_dir / "fruit.csv", std::ios::binary);
    std::string back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(grid_of(back), kCells) << back;
}

TEST_F(Spreadsheet, LibreOfficeTableLoadsInItsColumns) {
    TempDir dir;
    // LibreOffice reads a comma table (a cell may hold a comma between quotes) and writes
    // it with ";" and no text delimiter.
    dir.write("source.csv",
              "name,code,price,note,date,empty\n"
              "apple,007,\"1,5\",\"red, sweet\",05-22-2017,\n"
              "pear,0.50,2,\"  two blanks\",2017-05-22,\n"
              "plum's,1e5,-3,a 'quoted' word,12:30,x\n"
              ",TRUE,=1+1,#N/A,100%,\n"
              "last,,,,,end\n");
    fs::path out_dir = dir.path() / "out";
    fs::create_directories(out_dir);
    convert(dir.path() / "source.csv", "csv:" + std::string(kCsvFilter) + ":" + kExportOptions,
            std::string(kCsvFilter) + ":44,34,76,1,1/2/2/2/3/2/4/2/5/2/6/2", out_dir);
    std::ifstream in(out_dir / "source.csv", std::ios::binary);
    std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(grid_of(written), kCells) << written;
    dir.write("fromcalc.csv", written);

    TestSession t(dir.path(), "");
    t.session.selected_table = "fromcalc.csv";
    t.session.table_name = "fromcalc.csv";
    load_table(t.session);
    ASSERT_EQ(t.session.column_count, 6);
    TextReader work(dir.path(), kWorkingFile);
    Grid loaded;
    while (row_available(work, t.session.column_count)) {
        std::vector<std::string> row;
        for (int c = 0; c < t.session.column_count; ++c) row.push_back(work.read_value());
        loaded.push_back(row);
    }
    EXPECT_EQ(loaded, kCells);
}

}  // namespace
}  // namespace rowkeep::testing
