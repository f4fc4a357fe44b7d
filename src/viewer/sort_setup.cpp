// How it works: the user picks up to sort_keys_max key columns and, for each, the
// character positions of its key part. Every data row then gets a fixed-width key (the
// key parts joined), built through the files file_18 (all key parts, entry after entry),
// file_20_<n> (the parts of entry n), file_21_<n> (the running join) and file_24_1 (keys
// padded to one width). The keys go in front of the rows (file_26_1), the sort engine
// sorts them (file_26_2), and the heading plus those lines become <name>_sort.csv.
// A long table's files are read a batch ahead and written behind, on threads of their own,
// while this one makes the rows and the screen.
#include "viewer/sort_setup.h"

#include <unistd.h>

#include <algorithm>
#include <string>

#include "console/console.h"
#include "console/index.h"
#include "console/menu.h"
#include "console/program_files.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/listing_lines.h"
#include "viewer/rows_ahead.h"
#include "viewer/sort_engine.h"
#include "viewer/spare_files.h"

namespace rowkeep {

namespace {

constexpr std::string_view kMenuRule = "------------------------------";
constexpr std::string_view kPartRule = "------------------------------------";

enum Field { kColumn = 1, kName = 2, kFirst = 3, kLast = 4 };

// Positions are bounded so that a mistyped number cannot make every row's key a
// gigabyte of blanks; no cell of a table comes near this length in practice.
constexpr int kMaxKeyPosition = 32767;

std::string blanks(long long n) {
    return std::string(idx(n > 0 ? n : 0), ' ');
}

int used_entries(const Session& s) {
    int n = 0;
    while (n + 1 < static_cast<int>(s.sort_keys.size()) &&
           !s.sort_keys[idx(n + 1)][kColumn].empty())
        ++n;
    return n;
}

SortKey& entry(Session& s, int e) {
    return s.sort_keys[idx(e)];
}

std::string column_name(const Session& s, int k) {
    auto i = idx(k);
    return i < s.column_names.size() ? s.column_names[i] : std::string();
}

int entry_column(Session& s, int e) {
    return integer_token(entry(s, e)[kColumn]);
}
int entry_first(Session& s, int e) {
    return integer_token(entry(s, e)[kFirst]);
}
int entry_last(Session& s, int e) {
    return integer_token(entry(s, e)[kLast]);
}

// Character positions first to last of the cell (fewer when it is shorter); nothing when
// last is below first. Positions count characters of the code page, never bytes.
// A single-byte page answers without a call: a character is a byte.
std::size_t offset_of(const TextMeasure& m, std::string_view text, std::size_t n) {
    return m.single_byte() ? std::min(n, text.size()) : m.offset_of(text, n);
}
std::size_t count(const TextMeasure& m, std::string_view text) {
    return m.single_byte() ? text.size() : m.count(text);
}

std::string_view cut_text(const TextMeasure& m, std::string_view cell, int first, int last) {
    long long from = std::max(first, 1);
    if (last < from) return {};
    const std::size_t begin = offset_of(m, cell, idx(from - 1));
    if (begin >= cell.size()) return {};
    const std::size_t end = offset_of(m, cell, idx(last));  // after character `last`
    return cell.substr(begin, end - begin);
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// A key part behind the preview's indent: the cut text trimmed and padded to the part's
// length, numbers to the right, text to the left. Made row after row in one buffer, whose
// first bytes stay the indent's blanks.
class IndentedPart {
  public:
    IndentedPart(long long indent, long long length)
        : indent_(idx(std::max(indent, 0LL))), length_(length), bytes_(indent_ + 64, ' ') {}

    // The indent and the part made from the trimmed text.
    std::string_view make(const TextMeasure& m, std::string_view text) {
        const long long pad = length_ - static_cast<long long>(count(m, text));
        const std::size_t blanks = idx(std::max(pad, 0LL));
        size_ = indent_ + text.size() + blanks;
        if (bytes_.size() < size_) bytes_.resize(std::max(size_, 2 * bytes_.size()));
        char* p = bytes_.data() + indent_;
        const bool numeric = is_numeric_text(text);
        if (numeric) p = std::fill_n(p, blanks, ' ');
        if (!text.empty()) p = std::copy(text.begin(), text.end(), p);
        if (!numeric) std::fill_n(p, blanks, ' ');
        return {bytes_.data(), size_};
    }
    // The indent and the key part of the cell: positions first to last, trimmed and padded;
    // nothing when last is below first.
    std::string_view make(const TextMeasure& m, std::string_view cell, int first, int last) {
        if (length_ <= 0) {
            size_ = indent_;
            return {bytes_.data(), size_};
        }
        return make(m, trimmed(cut_text(m, cell, first, last)));
    }
    // The part last made, without the indent.
    std::string_view part() const { return {bytes_.data() + indent_, size_ - indent_}; }

  private:
    const std::size_t indent_;
    const long long length_;
    std::string bytes_;
    std::size_t size_ = 0;
};

// A row number in the console's number form (" 2", " 3", ...), counted up in place rather
// than made afresh for every row of a long listing.
class RowNumber {
  public:
    explicit RowNumber(int row) : text_(number_text(std::max(row, 0))) {}
    std::string_view text() const { return text_; }
    void next() {
        for (std::size_t i = text_.size(); i-- > 1;) {
            if (text_[i] != '9') {
                ++text_[i];
                return;
            }
            text_[i] = '0';
        }
        text_.insert(1, 1, '1');
    }

  private:
    std::string text_;  // a blank, then the digits
};

// The value in `column` of the next row of `columns` values; the others are passed over.
void read_cell(TextReader& in, int column, int columns, std::string& cell) {
    cell.clear();
    for (int k = 1; k <= columns; ++k) {
        if (k == column)
            in.read_value(cell);
        else
            in.skip_value();
    }
}

void list_columns(Session& s) {
    for (int k = 1; k <= s.column_count; ++k) {
        s.console.print_number(k, Ending::zone);
        s.console.print_text(column_name(s, k));
    }
}

void select_columns(Session& s) {
    Console& con = s.console;
    int k = 1;
    while (k <= s.column_count) {
        con.print_text(kMenuRule);
        con.print_number(k, Ending::zone);
        con.print_text(column_name(s, k));
        const std::string key =
            menu_key(con, {"<> any key to continue,  <3> select,  <-> skip up", ""});
        if (key == "-") {
            if (k > 1) --k;
            continue;
        }
        if (key == "3") {
            int e = used_entries(s) + 1;
            if (e <= s.sort_keys_max) {
                entry(s, e) = SortKey{"", plain_number(k), column_name(s, k), "", ""};
                con.print_number(e, Ending::zone);
                con.print_text("selected column = " + column_name(s, k));
            }
        }
        ++k;
    }
}

void print_entry(Session& s, int e) {
    s.console.print_number(e, Ending::zone);
    s.console.print_text(entry(s, e)[kName]);
}

void review_entries(Session& s) {
    Console& con = s.console;
    constexpr std::string_view rule =
        "-------------- sort, a list of already selected columns --------------";
    con.print_text(rule);
    for (int e = 1; e <= used_entries(s); ++e) print_entry(s, e);
    con.print_newline();
    con.print_text(rule);

    int e = 1;
    while (e <= used_entries(s)) {
        print_entry(s, e);
        const std::string key =
            menu_key(con, {"<Enter> continue, <Space Bar> cancel, <-> skip up", ""});
        if (key == "-") {
            if (e > 1) --e;
        } else if (key == " ") {
            print_entry(s, e);
            con.print_text("column was excluded");
            con.print_newline();
            // The entries behind move up; the freed last place is cleared, so no entry
            // stands twice even when every place was in use.
            int n = used_entries(s);
            for (int i = e; i < n; ++i) entry(s, i) = entry(s, i + 1);
            entry(s, n) = SortKey{};
        } else {
            ++e;
        }
    }
}

// The preview of one entry's positions over every data row whose cut text is not blank.
void preview(Session& s, int e) {
    Console& con = s.console;
    const int column = entry_column(s, e), first = entry_first(s, e), last = entry_last(s, e);
    const std::string& name = entry(s, e)[kName];
    const long long length = static_cast<long long>(last) - first + 1;
    const std::string ruler =
        blanks(first + 3LL - static_cast<long long>(plain_number(first).size())) +
        plain_number(first) + ">" + blanks(length) + "<" + plain_number(last);
    const std::string indent = blanks(first + 4LL);

    const long before = s.faults.failures();
    TextReader in(s.files, kWorkingFile);
    // The preview's own wait follows: the message is read there.
    if (s.faults.failures() != before)
        con.print_text("working file can not be read: " + s.faults.last_cause());
    const TextMeasure& m = con.measure();
    std::string cell;
    if (row_available(in, s.column_count)) read_cell(in, column, s.column_count, cell);
    RowsAhead rows(in, s.column_count, column, s.row_count - 1L);
    std::string_view row_cell;
    RowNumber number(2);
    IndentedPart part(first + 4LL, length);
    ListingLines lines(con, "", name);
    for (int r = 2; r <= s.row_count && rows.next(row_cell); ++r, number.next()) {
        const std::string_view text = cut_text(m, row_cell, first, last);
        const std::string_view trimmed_text = trimmed(text);
        if (trimmed_text.empty()) continue;
        lines.begin_row(number.text());
        lines.line(ruler);
        lines.line(indent, text);
        lines.line(part.make(m, trimmed_text));
    }
}

void ask_positions(Session& s) {
    Console& con = s.console;
    const int n = used_entries(s);
    int e = 1;
    while (e <= n) {
        con.print_text(kMenuRule);
        con.print_text(plain_number(e) + "/" + plain_number(n), Ending::zone);
        con.print_text(entry(s, e)[kName]);
        con.print_text(entry(s, e)[kName]);
        const int first = con.prompt_integer("first position for key string = ");
        const int last = con.prompt_integer("last  position for key string = ");
        // A cell has no position before 1; a last position below the first gives an
        // empty key part.
        entry(s, e)[kFirst] = plain_number(std::clamp(first, 1, kMaxKeyPosition));
        entry(s, e)[kLast] = plain_number(std::min(last, kMaxKeyPosition));
        preview(s, e);
        const std::string key =
            menu_key(con, {"<> any key to continue,  <Enter> repeat,  <-> skip up", ""});
        if (key == "-") {
            if (e > 1) --e;
        } else if (key != "\r") {
            ++e;
        }
    }
}

std::string numbered(std::string_view stem, int n) {
    return std::string(stem) + plain_number(n) + ".txt";
}

// Says that the sort's output table was not written, and why; the sort ends the program.
[[noreturn]] void sort_failed(Session& s, const std::string& out_name) {
    Console& con = s.console;
    con.print_text("sort table can not be written: " + out_name + ": " + s.faults.last_cause());
    con.print_text("<> any key to continue");
    con.wait_any_key();
    con.print_text("End");
    throw ProgramEnd{};
}

// A long table's scratch file goes to the disk on a thread of its own while the next
// rows are made; a short one's costs less written at once than a thread and a second
// buffer would.
void write_behind_if_long(TextWriter& out, int data_rows) {
    if (data_rows >= 16384) out.write_behind();
}

// Opens a scratch file for writing, as a new file of that name would be opened; when no
// file has the name, a spare made ahead takes it. One that could not be opened is not there.
void open_scratch(Session& s, SpareFiles& spares, TextWriter& out, std::string_view name) {
    const fs::path path = s.files.resolve(name);
    if (!spares.give(path)) {
        out.open_path(s.files, path);
    } else if (!out.open_over(s.files, path)) {
        ::unlink(path.c_str());
    }
}

// file_18.txt: the key part of every data row for each entry in turn, each shown as a
// preview line below its entry.
void write_key_parts(Session& s, SpareFiles& spares, int n) {
    Console& con = s.console;
    const TextMeasure& m = con.measure();
    TextWriter parts;
    open_scratch(s, spares, parts, "file_18.txt");
    write_behind_if_long(parts, s.row_count - 1);
    std::string cell;
    for (int e = 1; e <= n; ++e) {
        const int column = entry_column(s, e), first = entry_first(s, e), last = entry_last(s, e);
        const std::string& name = entry(s, e)[kName];
        IndentedPart part(first + 4LL, static_cast<long long>(last) - first + 1);
        con.print_text(kPartRule);
        print_entry(s, e);
        TextReader in(s.files, kWorkingFile);
        if (row_available(in, s.column_count)) read_cell(in, column, s.column_count, cell);
        RowsAhead rows(in, s.column_count, column, s.row_count - 1L);
        std::string_view row_cell;
        RowNumber number(2);
        ListingLines lines(con, "row = ", name);
        for (int r = 2; r <= s.row_count; ++r, number.next()) {
            // A short working file gives empty cells rather than a short key file.
            if (!rows.next(row_cell)) row_cell = {};
            lines.begin_row(number.text());
            lines.line(part.make(m, row_cell, first, last));
            parts.write_value(part.part(), true);
        }
    }
}

// Hands the next `count` values of `in` to `use`, as read_value reads them one after
// another (empty past the file's end), read ahead on a second thread.
template <class Use>
void for_each_value(TextReader& in, int count, Use use) {
    RowsAhead values(in, 1, 1, count);
    std::string_view value;
    int r = 0;
    for (; r < count && values.next(value); ++r) use(value);
    std::string rest;
    for (; r < count; ++r) {
        in.read_value(rest);
        use(std::string_view(rest));
    }
}

// file_20_<e>.txt: the key parts of entry e, one file an entry.
void split_fields(Session& s, SpareFiles& spares, int n, int data_rows) {
    Console& con = s.console;
    con.print_text(kPartRule);
    con.print_text("Fields for sort");
    TextReader parts(s.files, "file_18.txt");
    for (int e = 1; e <= n; ++e) {
        TextWriter field;
        open_scratch(s, spares, field, numbered("file_20_", e));
        write_behind_if_long(field, data_rows);
        print_entry(s, e);
        for_each_value(parts, data_rows,
                       [&](std::string_view part) { field.write_value(part, true); });
    }
}

// file_21_<e+1>.txt: the key parts of entries 1 to e joined, row by row.
void join_fields(Session& s, SpareFiles& spares, int n, int data_rows) {
    s.shell.run_command("copy /y file_20_1.txt file_21_2.txt > out_null.txt");
    std::string key, part;
    for (int e = 2; e <= n; ++e) {
        TextReader joined(s.files, numbered("file_21_", e));
        TextReader field(s.files, numbered("file_20_", e));
        TextWriter out;
        open_scratch(s, spares, out, numbered("file_21_", e + 1));
        write_behind_if_long(out, data_rows);
        for (int r = 0; r < data_rows; ++r) {
            joined.read_value(key);
            field.read_value(part);
            out.write_value(key.append(part), true);
        }
    }
}

// file_24_1.txt: the joined keys padded to the widest, each ended by "|".
void pad_keys(Session& s, SpareFiles& spares, const std::string& key_file, int data_rows) {
    const TextMeasure& m = s.console.measure();
    std::size_t widest = 0;
    {
        TextReader keys(s.files, key_file);
        for_each_value(keys, data_rows,
                       [&](std::string_view k) { widest = std::max(widest, count(m, k)); });
    }
    TextReader keys(s.files, key_file);
    TextWriter padded;
    open_scratch(s, spares, padded, "file_24_1.txt");
    write_behind_if_long(padded, data_rows);
    const std::string blanks(widest, ' ');
    for_each_value(keys, data_rows, [&](std::string_view k) {
        padded.write_raw(k);
        const std::size_t length = count(m, k);
        if (length < widest) padded.write_raw(std::string_view(blanks).substr(0, widest - length));
        padded.print_text("|");
    });
}

// file_26_1.txt: each data row of the working file behind its padded key.
void prefix_rows(Session& s, SpareFiles& spares) {
    TextReader padded(s.files, "file_24_1.txt");
    TextReader in(s.files, kWorkingFile);
    TextWriter rows;
    open_scratch(s, spares, rows, "file_26_1.txt");
    write_behind_if_long(rows, s.row_count - 1);
    std::string line, value;
    if (row_available(in, s.column_count)) read_row(in, s.cells, s.column_count);
    RowsAhead values(in, s.column_count, 0, std::max(s.row_count - 1L, 0L));
    std::string_view key, joined;
    while (padded.next_line(key)) {
        if (!key.empty()) key.remove_suffix(1);
        rows.write_raw(key);
        rows.write_raw(";");
        if (values.next(joined)) {
            rows.print_text(joined);
            continue;
        }
        // Past the rows read ahead: from the working file itself, empty at its end.
        line.clear();
        for (int k = 1; k <= s.column_count; ++k) {
            if (k > 1) line += ';';
            in.read_value(value);
            line += value;
        }
        rows.print_text(line);
    }
}

// file_28.txt: the heading of the key and the table's columns, then the sorted rows.
void write_sorted_table(Session& s, SpareFiles& spares, int n) {
    std::string heading = "s_" + entry(s, 1)[kName];
    for (int e = 2; e <= n; ++e) heading += " + s_" + entry(s, e)[kName];
    for (int k = 1; k <= s.column_count; ++k) heading += ";" + column_name(s, k);
    TextWriter table;
    open_scratch(s, spares, table, "file_28.txt");
    write_behind_if_long(table, s.row_count - 1);
    table.print_text(heading);
    // The sorted lines are CR LF lines already: they go over a buffer at a time.
    TextReader sorted(s.files, "file_26_2.txt");
    copy_lines(sorted, table);
}

void build_and_sort(Session& s, SpareFiles& spares) {
    Console& con = s.console;
    const long before = s.faults.failures();
    std::string out_name = s.table_name;
    if (auto p = out_name.find(".csv"); p != std::string::npos) out_name.resize(p);
    out_name += "_sort.csv";
    // Each step reads what the one before wrote: after a failure none goes on, as a key
    // file or sorted file that failed would make an output table of the wrong rows.
    auto stop_if_failed = [&] {
        if (s.faults.failures() != before) sort_failed(s, out_name);
    };
    const int n = used_entries(s);
    const int data_rows = std::max(s.row_count - 1, 0);

    write_key_parts(s, spares, n);

    stop_if_failed();
    split_fields(s, spares, n, data_rows);
    stop_if_failed();
    con.print_newline();

    join_fields(s, spares, n, data_rows);
    stop_if_failed();
    const std::string key_file = numbered("file_21_", std::max(n, 1) + 1);

    pad_keys(s, spares, key_file, data_rows);
    prefix_rows(s, spares);

    stop_if_failed();
    SortJob job("file_26_1.txt", "file_26_2.txt");
    job.spares = &spares;
    // Nothing writes to file_26_2.txt after the sort: it is a second name of the sort's
    // output rather than a copy of its bytes.
    job.share_output = true;
    sort_file(s, job);

    stop_if_failed();
    write_sorted_table(s, spares, n);

    stop_if_failed();
    // The copy has no overwrite switch: an existing output table (perhaps edited by hand)
    // is replaced only when the user says so.
    bool replace = true;
    if (exists_in_folder(s, out_name)) {
        con.print_text("Overwrite " + out_name + "? (Yes/No/All): ", Ending::stay);
        const std::string answer = con.line_input();
        replace =
            !answer.empty() && std::string_view("yYaA").find(answer[0]) != std::string_view::npos;
    }
    if (replace) s.shell.run_command("copy file_28.txt " + command_name(out_name));
    if (replace) stop_if_failed();
    if (!replace) con.print_text("        0 file(s) copied.");
    con.print_text("output sort table = " + out_name);
    con.print_text("End");
    throw ProgramEnd{};
}

}  // namespace

void sort_setup(Session& s, int& saved_first_col) {
    saved_first_col = s.first_col;
    s.first_col = 1;
    if (static_cast<int>(s.cells.size()) < s.column_count + 1) s.size_arrays();
    s.sort_keys.assign(idx(std::max(s.sort_keys_max, 0) + 1), SortKey{});

    run_menu(
        s.console,
        {{
            {"", std::string(kMenuRule)},
            {"1", "<1> list          columns - all", then_show([&] { list_columns(s); })},
            {"2", "<2> list/select   columns - increment", then_show([&] { select_columns(s); })},
            {"3", "<3> list selected columns", then_show([&] { review_entries(s); })},
            {"8", "<8> exit, continue"},
            {"", ""},
        }});
    if (used_entries(s) == 0) return;

    // From here the sort follows. Its files (the key files, the rows, the run files and the
    // output table) are made ahead while the positions are asked and previewed, and the
    // keys built: each new file is a search past every inode freed lately, which on a busy
    // disk costs more than the bytes written.
    const int n = used_entries(s);
    const std::size_t data_rows = static_cast<std::size_t>(std::max(s.row_count - 1, 0));
    // The sort keeps the last sort's run files for its own when it deletes them.
    SpareFiles spares(s.files.dir());
    const std::size_t runs = (data_rows + 1999) / 2000;
    // With file_18, file_20_<e>, file_21_<e> beyond the copied one, file_24_1, file_26_1
    // and file_28.
    spares.make_ahead(runs + static_cast<std::size_t>(2 * n + 3));

    for (;;) {
        ask_positions(s);
        s.console.print_newline();
        std::string key =
            menu_key(s.console, {"-----------------------------", "<3> repeat creating sort keys",
                                 "<8> exit, continue ", ""});
        if (key == "8") break;
    }
    build_and_sort(s, spares);
}

}  // namespace rowkeep
