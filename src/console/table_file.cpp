#include "console/table_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/index.h"
#include "console/load_pass.h"
#include "console/replace_file.h"
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

// Every scratch file a load writes, the working file last.
constexpr std::string_view kLoadFiles[] = {"f_11_1.txt", "f_12_1.txt", "f_12_2.txt", "f_13_2.txt",
                                           "f_13_3.txt", "f_14_1.txt", kWorkingFile};

void remove_load_files(Session& s) {
    for (std::string_view name : kLoadFiles) s.files.remove(s.files.resolve(name));
}

class WriterOutput : public LoadOutput {
  public:
    explicit WriterOutput(TextWriter& writer) : writer_(writer) {}
    void write(std::string_view bytes) override { writer_.write_raw(bytes); }

  private:
    TextWriter& writer_;
};

// The table file, read a large piece at a time into a buffer that the load's pass may
// read a little past.
class TableReader {
  public:
    TableReader(Session& s, std::FILE* file)
        : s_(s), file_(file), buffer_(kPiece + LoadPass::kLookAhead) {}
    ~TableReader() {
        if (file_) std::fclose(file_);
    }
    TableReader(const TableReader&) = delete;
    TableReader& operator=(const TableReader&) = delete;

    // Hands every piece to take, from the start of the file, while nothing has failed.
    template <class Take>
    void each_piece(long before, Take&& take) {
        if (!file_ || fseeko(file_, 0, SEEK_SET) != 0) return;
        while (s_.faults.failures() == before) {
            const std::size_t n = std::fread(buffer_.data(), 1, kPiece, file_);
            if (n == 0) break;
            take(buffer_.data(), n);
        }
        if (std::ferror(file_)) s_.files.fail(EIO, s_.table_name + ": " + std::strerror(EIO));
    }

  private:
    static constexpr std::size_t kPiece = 1 << 18;
    Session& s_;
    std::FILE* file_;
    std::vector<char> buffer_;
};

// f_11_1.txt, f_12_1.txt and the working file (written to `draft`) from one reading of the
// table file, with column_count, row_count and the column names; the widest line is found
// by a reading before it. False when the table file exists but could not be opened.
bool convert_table(Session& s, const std::string& draft, long before) {
    s.in_file_name = s.table_name;
    std::FILE* file = s.files.open_read(s.files.resolve(s.table_name), Links::follow);
    if (!file && errno != ENOENT) return false;
    TableReader table(s, file);
    LineWidths widths;
    table.each_piece(before, [&](const char* bytes, std::size_t n) { widths.feed(bytes, n); });
    s.column_count = widths.widest();
    s.size_arrays();
    std::fill(s.column_names.begin(), s.column_names.end(), std::string());
    if (s.faults.failures() != before) return true;

    TextWriter characters(s.files, "f_11_1.txt"), cells(s.files, "f_12_1.txt"),
        working(s.files, draft);
    WriterOutput to_characters(characters), to_cells(cells), to_working(working);
    LoadPass pass(s.column_count, to_characters, to_cells, to_working);
    table.each_piece(before, [&](const char* bytes, std::size_t n) { pass.feed(bytes, n); });
    pass.finish();
    characters.close();
    cells.close();
    working.close();
    s.row_count = pass.rows();
    const auto& names = pass.first_row();
    for (std::size_t k = 0; k < names.size() && k + 1 < s.column_names.size(); ++k)
        s.column_names[k + 1] = names[k];
    return true;
}

}  // namespace

bool load_table(Session& s) {
    const long before = s.faults.failures();
    remove_load_files(s);
    // The working file is made beside the others and takes its name once they are all
    // there, so that a load cut short never leaves a working file behind.
    const std::string draft = temporary_name(static_cast<long>(getpid()), "load15");
    bool unreadable = false;
    if (s.faults.failures() == before) unreadable = !convert_table(s, draft, before);
    if (s.faults.failures() == before && !unreadable) {
        s.shell.run_command("copy /y f_12_1.txt  f_12_2.txt > out_null.txt");
        s.shell.run_command("copy /y f_12_1.txt f_13_2.txt > out_null.txt");
        s.shell.run_command("copy /y f_13_2.txt f_13_3.txt > out_null.txt");
        s.shell.run_command("copy /y f_13_3.txt f_14_1.txt > out_null.txt");
        s.in_file_name = "f_14_1.txt";
    }
    if (s.faults.failures() == before && !unreadable)
        s.files.rename(s.files.resolve(draft), s.files.resolve(kWorkingFile));
    if (s.faults.failures() == before && !unreadable) return true;
    // Nothing of a half-made load may be read as the table later.
    const std::string cause = s.faults.last_cause();
    remove_load_files(s);
    s.files.remove(s.files.resolve(draft));
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
