#include "console/table_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/index.h"
#include "console/shell.h"
#include "console/tokens.h"

namespace rowkeep {

void read_row(TextReader& in, std::vector<std::string>& cells, int column_count) {
    if (static_cast<int>(cells.size()) < column_count + 1) cells.resize(idx(column_count + 1));
    for (int k = 1; k <= column_count; ++k) in.read_value(cells[idx(k)]);
}

void write_row(TextWriter& out, const std::vector<std::string>& cells, int column_count) {
    for (int k = 1; k <= column_count; ++k) {
        const auto i = idx(k);
        out.write_value(i < cells.size() ? cells[i] : std::string(), true);
    }
}

bool row_available(TextReader& in, int column_count) {
    return column_count > 0 && !in.at_end();
}

namespace {

void say_working_file_failure(Session& s, const std::string& cause) {
    s.console.print_text("working file can not be written: " + cause);
    s.console.print_text("<> any key to continue");
    s.console.wait_any_key();
}

}  // namespace

void report_working_file_failure(Session& s) {
    say_working_file_failure(s, s.faults.last_cause());
}

void working_file_missing(Session& s) {
    s.files.fail(ENOENT, std::string(kWorkingFile) + " is missing");
}

void report_working_file_unread(Session& s) {
    s.console.print_text("working file can not be read: " + s.faults.last_cause());
    s.console.print_text("<> any key to continue");
    s.console.wait_any_key();
}

bool rewrite_working_file(Session& s, const std::function<void(TextReader&, TextWriter&)>& body) {
    const long before = s.faults.failures();
    {
        s.in_file_name = std::string(kWorkingFile);
        s.out_file_name = std::string(kRewriteFile);
        TextReader in(s.files, kWorkingFile);
        // A table always has its working file, empty or not: a missing one is no table.
        if (!in.is_open() && s.faults.failures() == before) working_file_missing(s);
        TextWriter out(s.files, kRewriteFile);
        // A working file that could not be read is no empty table: an insert would write
        // every new row for nothing.
        if (s.faults.failures() == before) body(in, out);
        out.close();
    }
    // A part-written f_16_1.txt never goes over the working file; it goes, so that a disk
    // it filled has room again.
    if (s.faults.failures() == before && copy_over_working_file(s, kRewriteCopy)) return true;
    const std::string cause = s.faults.last_cause();
    s.files.remove(s.files.resolve(kRewriteFile));
    say_working_file_failure(s, cause);
    return false;
}

namespace {

struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

FileId file_id(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return {st.st_dev, st.st_ino};
}

}  // namespace

bool copy_over_working_file(Session& s, std::string_view command) {
    const std::filesystem::path working = s.files.resolve(kWorkingFile);
    const FileId old_id = file_id(working);
    const long before = s.faults.failures();
    s.shell.run_command(command);
    // A copy puts a new file in place, whole, or leaves the old one: a failure after it
    // (the command's message that could not be written) does not undo it.
    if (!(file_id(working) == old_id) && !(file_id(working) == FileId{})) return true;
    if (s.faults.failures() == before)
        s.files.fail(EIO, std::string(kWorkingFile) + " was not replaced");
    return false;
}

namespace {

constexpr std::size_t kChunk = 1 << 16;

// f_11_1.txt: every byte of the table file as a one-character quoted record. False when
// the table file exists but could not be opened.
bool write_characters(Session& s) {
    s.out_file_name = "f_11_1.txt";
    TextWriter out(s.files, "f_11_1.txt");
    std::FILE* in = s.files.open_read(s.files.resolve(s.table_name), Links::follow);
    if (!in) return errno == ENOENT;
    std::vector<char> buffer(kChunk);
    std::string records(kChunk * 5, '"');
    for (;;) {
        const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n == 0) break;
        char* record = records.data();
        for (std::size_t i = 0; i < n; ++i, record += 5) {
            record[0] = '"';
            record[1] = buffer[i];
            record[2] = '"';
            record[3] = '\r';
            record[4] = '\n';
        }
        out.write_raw(std::string_view(records.data(), n * 5));
    }
    if (std::ferror(in)) s.files.fail(EIO, s.table_name + ": " + std::strerror(EIO));
    std::fclose(in);
    return true;
}

// The largest cell count of any line of the table file (0 for an empty file).
int widest_line(Session& s) {
    s.in_file_name = s.table_name;
    TextReader in(s.files, s.table_name, Links::follow);
    int widest = 0;
    std::string line;
    while (!in.at_end()) {
        in.read_line(line);
        const int count = static_cast<int>(std::count(line.begin(), line.end(), ';')) + 1;
        widest = std::max(widest, count);
    }
    return widest;
}

// f_12_1.txt: one record of row, column and cell for every cell of the table file.
void write_cells(Session& s) {
    s.in_file_name = s.table_name;
    s.out_file_name = "f_12_1.txt";
    TextReader in(s.files, s.table_name, Links::follow);
    TextWriter out(s.files, "f_12_1.txt");
    std::string line, record;
    // Column numbers as text, made once: a number per cell cost more than the cell.
    std::vector<std::string> columns;
    for (long long row = 1; !in.at_end(); ++row) {
        in.read_line(line);
        line += ';';
        const std::string row_text = plain_number(row);
        std::size_t column = 0;
        std::size_t start = 0;
        for (std::size_t end; (end = line.find(';', start)) != std::string::npos; start = end + 1) {
            if (++column > columns.size())
                columns.push_back(plain_number(static_cast<long long>(column)));
            record.clear();
            record += '"';
            record += row_text;
            record += "\",\"";
            record += columns[column - 1];
            record += "\",\"";
            const std::size_t cell_start = record.size();
            record.append(line, start, end - start);
            std::replace(record.begin() + static_cast<std::ptrdiff_t>(cell_start), record.end(),
                         '"', '\'');
            record += "\"\r\n";
            out.write_raw(record);
        }
    }
}

// One record of f_14_1.txt: row number and cell. Parsed from the whole line, so a cell of
// any length (or with commas) stays whole; cells hold no double quotes.
bool parse_cell_record(const std::string& line, long long& row, std::string& cell) {
    // "row","column","cell"
    if (line.size() < 2 || line.front() != '"') return false;
    const std::size_t row_end = line.find('"', 1);
    if (row_end == std::string::npos) return false;
    const std::size_t column_start = line.find('"', row_end + 1);
    if (column_start == std::string::npos) return false;
    const std::size_t column_end = line.find('"', column_start + 1);
    if (column_end == std::string::npos) return false;
    const std::size_t cell_start = line.find('"', column_end + 1);
    if (cell_start == std::string::npos) return false;
    std::size_t cell_end = line.rfind('"');
    if (cell_end <= cell_start) cell_end = line.size();
    row = 0;
    for (std::size_t i = 1; i < row_end; ++i)
        if (line[i] >= '0' && line[i] <= '9') row = row * 10 + (line[i] - '0');
    cell.assign(line, cell_start + 1, cell_end - cell_start - 1);
    return true;
}

// f_15_1.txt from f_14_1.txt: the cells in order, column_count to a row; a row that has
// fewer cells than that is completed with empty ones, so no cell changes its column.
int write_working_file(Session& s) {
    s.in_file_name = "f_14_1.txt";
    s.out_file_name = std::string(kWorkingFile);
    TextReader in(s.files, "f_14_1.txt");
    TextWriter out(s.files, kWorkingFile);
    const int width = s.column_count;
    int rows = 0, filled = 0;
    long long current = -1;
    std::string line, cell;
    auto finish_row = [&] {
        for (; filled < width; ++filled) out.write_value("", true);
    };
    // The names row is known from the load itself, not only once the viewer has read it.
    s.size_arrays();
    std::fill(s.column_names.begin(), s.column_names.end(), std::string());
    auto keep_name = [&](const std::string& name) {
        if (rows == 1 && filled < width) s.column_names[idx(filled + 1)] = name;
    };
    while (width > 0 && !in.at_end()) {
        in.read_line(line);
        long long row = 0;
        if (!parse_cell_record(line, row, cell)) continue;
        if (row != current || filled == width) {
            if (rows > 0) finish_row();
            current = row;
            filled = 0;
            ++rows;
        }
        keep_name(cell);
        out.write_value(cell, true);
        ++filled;
    }
    if (rows > 0) finish_row();
    return rows;
}

}  // namespace

namespace {

// Every scratch file a load writes, the working file last.
constexpr std::string_view kLoadFiles[] = {"f_11_1.txt", "f_12_1.txt", "f_12_2.txt", "f_13_2.txt",
                                           "f_13_3.txt", "f_14_1.txt", kWorkingFile};

void remove_load_files(Session& s) {
    for (std::string_view name : kLoadFiles) s.files.remove(s.files.resolve(name));
}

}  // namespace

bool load_table(Session& s) {
    const long before = s.faults.failures();
    remove_load_files(s);
    bool unreadable = false;
    if (s.faults.failures() == before) unreadable = !write_characters(s);
    if (s.faults.failures() == before) {
        s.column_count = widest_line(s);
        s.size_arrays();
        write_cells(s);
        s.shell.run_command("copy /y f_12_1.txt  f_12_2.txt > out_null.txt");
        s.shell.run_command("copy /y f_12_1.txt f_13_2.txt > out_null.txt");
        s.shell.run_command("copy /y f_13_2.txt f_13_3.txt > out_null.txt");
        s.shell.run_command("copy /y f_13_3.txt f_14_1.txt > out_null.txt");
        s.row_count = write_working_file(s);
    }
    if (s.faults.failures() == before) return true;
    // Nothing of a half-made load may be read as the table later.
    const std::string cause = s.faults.last_cause();
    remove_load_files(s);
    s.row_count = 0;
    s.column_count = 0;
    s.size_arrays();
    s.console.print_newline();
    if (unreadable)
        s.console.print_text("table (file) can not be read: " + s.table_name);
    else
        s.console.print_text("table (file) can not be loaded: " + s.table_name + ": " + cause);
    s.console.print_text("<> any key to continue");
    s.console.wait_any_key();
    return false;
}

bool save_table(Session& s, std::string_view name, int& rows_written) {
    rows_written = 0;
    const long before = s.faults.failures();
    s.in_file_name = std::string(kWorkingFile);
    s.out_file_name = std::string(name);
    TextWriter out;
    if (!out.open_replacing(s.files, name)) return false;
    TextReader in(s.files, kWorkingFile);
    if (!in.is_open() && s.faults.failures() == before) working_file_missing(s);
    const int width = s.column_count;
    std::vector<std::string> row(idx(std::max(width, 0) + 1));
    std::string line;
    long long values = 0;
    while (row_available(in, width)) {
        for (int k = 1; k <= width; ++k) {
            auto& cell = row[idx(k)];
            if (in.at_end()) {
                cell.clear();
                continue;
            }
            cell = in.read_value();
            ++values;
        }
        line.clear();
        for (int k = 1; k <= width; ++k) {
            if (k > 1) line += ';';
            line += row[idx(k)];
        }
        out.print_text(line);
        ++rows_written;
    }
    // A missing, short or unreadable working file never replaces a table.
    const long long expected =
        static_cast<long long>(std::max(s.row_count, 0)) * std::max(width, 0);
    if (s.faults.failures() == before && values != expected)
        s.files.fail(EIO, "the working file holds " + std::to_string(values) + " of " +
                              std::to_string(expected) + " values");
    if (s.faults.failures() != before) {
        out.abandon();
        rows_written = 0;
        return false;
    }
    return out.close();
}

}  // namespace rowkeep
