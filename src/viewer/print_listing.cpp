#include "viewer/print_listing.h"

#include <string>

#include "console/console.h"
#include "console/index.h"
#include "console/menu.h"
#include "console/records.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "viewer/cell_fit.h"

namespace rowkeep {

namespace {

constexpr std::string_view kDateLine = "print date (mm-dd-yy) = 05-22-2017";
constexpr std::string_view kColumnRule = "------------------------------------";

std::string name_of(const std::vector<std::string>& names, int k) {
    auto i = idx(k);
    return i < names.size() ? names[i] : std::string();
}

// "    k/n  name": how a column stands in the listing menus.
std::string column_line(const Session& s, int k) {
    return "    " + plain_number(k) + "/" + plain_number(s.column_count) + "  " +
           name_of(s.column_list, k);
}

bool chosen(const Session& s, int k) {
    return !s.print_columns[idx(k)].empty();
}

void list_all(Session& s) {
    for (int k = 1; k <= s.column_count; ++k) s.console.print_text(column_line(s, k));
}

void select_columns(Session& s) {
    Console& con = s.console;
    int k = 1;
    while (k <= s.column_count) {
        con.print_text(kColumnRule);
        con.print_text(column_line(s, k));
        const std::string key =
            menu_key(con, {"<> any key to continue,  <3> select,  <-> skip up"});
        if (key == "-") {
            if (k > 1) --k;
            continue;
        }
        if (key == "3") {
            auto& slot = s.print_columns[idx(k)];
            std::string name = name_of(s.column_list, k);
            if (slot == name) {
                con.print_text("column was been selected");
                con.print_newline();
            } else {
                slot = name;
                con.print_text("selected column (" + plain_number(k) + ").");
                con.print_text("    " + name);
                con.print_newline();
            }
        }
        ++k;
    }
}

void review_selection(Session& s) {
    Console& con = s.console;
    constexpr std::string_view rule =
        "-------------- a list of already selected columns --------------";
    con.print_text(rule);
    for (int k = 1; k <= s.column_count; ++k)
        if (chosen(s, k)) con.print_text(column_line(s, k));
    con.print_newline();
    con.print_text(rule);

    int k = 1;
    while (k <= s.column_count) {
        if (!chosen(s, k)) {
            ++k;
            continue;
        }
        con.print_text(kColumnRule);
        con.print_text(column_line(s, k));
        const std::string key =
            menu_key(con, {"<Enter> continue,  <Space Bar> cancel, <-> skip up"});
        if (key == "-") {
            // Back only onto a chosen column; otherwise this one is offered again.
            if (k > 1 && chosen(s, k - 1)) --k;
            continue;
        }
        if (key == " ") {
            con.print_text(column_line(s, k));
            con.print_text("the column was removed from the list");
            con.print_newline();
            s.print_columns[idx(k)].clear();
        }
        ++k;
    }
}

// The head of the sum file: what it is and how to add its column up.
void write_sum_head(Session& s, TextWriter& sum, const std::string& time) {
    sum.print_text("table name = " + s.table_name);
    sum.print_text("rows = " + plain_number(s.row_count));
    sum.print_text("empty rows are excluded");
    sum.print_text(kDateLine);
    sum.print_text("print time (h:m:s)    = " + time);
    sum.print_text(
        "Listing is adapted to calculate the sum using MS CALC program by using the "
        "Copy/Paste");
    sum.print_text(" - mark all numerical values in the column");
    sum.print_text(" - use the Copy function");
    sum.print_text(" - activate MS program CALC");
    sum.print_text(" - use the Paste function and click button <=>");
    sum.print_text(" ");
}

// The heading line of the chosen columns; their widths become the current column width.
std::string listing_heading(Session& s) {
    const TextMeasure& m = s.console.measure();
    GridLine heading(m, "", s.row_label_width);
    for (int k = 1; k <= s.column_count; ++k) {
        if (!chosen(s, k)) continue;
        s.col_widths[idx(k)] = s.col_width;
        heading.cell(column_heading(k, name_of(s.column_names, k)), s.col_width, Align::left);
    }
    return heading.text();
}

// Every row of the working file in the chosen columns; with a sum file, each cell of the
// one chosen column also goes there as a term of the sum ("+0" for a blank one).
void write_listing_rows(Session& s, TextWriter& list, TextWriter* sum) {
    const TextMeasure& m = s.console.measure();
    TextReader in(s.files, kWorkingFile);
    int row = 0;
    while (row_available(in, s.column_count)) {
        ++row;
        read_row(in, s.cells, s.column_count);
        GridLine line(m, plain_number(row), s.row_label_width);
        for (int k = 1; k <= s.column_count; ++k) {
            if (!chosen(s, k)) continue;
            const std::string& cell = s.cells[idx(k)];
            line.cell(cell, s.col_widths[idx(k)]);
            if (!sum || cell.empty()) continue;
            if (row == 1)
                sum->print_text(cell);
            else if (trim_blanks(cell).empty())
                sum->print_text("+0");
            else
                sum->print_text("+" + cell);
        }
        list.print_text(line.text());
    }
}

void write_listing(Session& s, int saved_first_col) {
    Console& con = s.console;
    std::string base = s.table_name;
    if (auto p = base.find(".csv"); p != std::string::npos) base.resize(p);
    const std::string list_name = base + ".txt";
    const std::string sum_name = base + "_sum.txt";

    int chosen_count = 0;
    for (int k = 1; k <= s.column_count; ++k)
        if (chosen(s, k)) ++chosen_count;
    const bool with_sum = chosen_count == 1;

    const long before = s.faults.failures();
    const std::string time = s.clock.time_of_day();
    TextWriter list(s.files, list_name);
    list.print_text("table name (file name)= " + s.table_name);
    list.print_text("rows = " + plain_number(s.row_count));
    list.print_text(kDateLine);
    list.print_text("print time (h:m:s)    = " + time);
    list.print_text(" ");

    TextWriter sum;
    if (with_sum) {
        sum.open(s.files, sum_name);
        write_sum_head(s, sum, time);
    }

    const std::string heading = listing_heading(s);
    list.print_text(heading);
    if (with_sum) sum.print_text(trim_blanks(heading));

    write_listing_rows(s, list, with_sum ? &sum : nullptr);
    list.close();
    if (with_sum) sum.close();

    s.first_col = saved_first_col;
    // A listing that could not be written (a full disk, a name taken by a link) is not
    // announced as written.
    if (s.faults.failures() != before) {
        con.print_text("print file can not be written: " + s.faults.last_cause());
        con.print_text("<> any key to continue");
        con.wait_any_key();
        return;
    }
    con.print_text("ouput (print) file = " + list_name + "    rows = ", Ending::stay);
    con.print_number(s.row_count);
    con.print_text("<> any key to continue");
    con.print_text(kRule);
    con.wait_any_key();
}

}  // namespace

void print_listing(Session& s, int& saved_first_col) {
    saved_first_col = s.first_col;
    s.first_col = 1;
    // The viewer sizes these on entry; a direct caller may not have.
    if (static_cast<int>(s.cells.size()) < s.column_count + 1) s.size_arrays();
    if (static_cast<int>(s.col_widths.size()) < s.column_count + 1)
        s.col_widths.resize(idx(s.column_count + 1), s.col_width);
    s.print_columns.assign(idx(s.column_count + 1), std::string());

    run_menu(
        s.console,
        {{
            {"", "-------------------------------------"},
            {"1", "<1> list          columns - all", then_show([&] { list_all(s); })},
            {"2", "<2> list/select   columns - increment", then_show([&] { select_columns(s); })},
            {"3", "<3> list selected columns", then_show([&] { review_selection(s); })},
            {"8", "<8> exit, continue", then_leave([&] { write_listing(s, saved_first_col); })},
            {"", ""},
        }});
}

}  // namespace rowkeep
