#include "console/table_file.h"

#include "console/shell.h"

namespace rowkeep {

void read_row(TextReader& in, std::vector<std::string>& cells, int column_count) {
    if (static_cast<int>(cells.size()) < column_count + 1)
        cells.resize(static_cast<std::size_t>(column_count + 1));
    for (int k = 1; k <= column_count; ++k) cells[static_cast<std::size_t>(k)] = in.read_value();
}

void write_row(TextWriter& out, const std::vector<std::string>& cells, int column_count) {
    for (int k = 1; k <= column_count; ++k) {
        const auto i = static_cast<std::size_t>(k);
        out.write_value(i < cells.size() ? cells[i] : std::string(), true);
    }
}

bool row_available(TextReader& in, int column_count) {
    return column_count > 0 && !in.at_end();
}

void rewrite_working_file(Session& s, const std::function<void(TextReader&, TextWriter&)>& body) {
    {
        s.in_file_name = std::string(kWorkingFile);
        s.out_file_name = std::string(kRewriteFile);
        TextReader in(s.dir, kWorkingFile);
        TextWriter out(s.dir, kRewriteFile);
        body(in, out);
    }
    s.shell.run_command(kRewriteCopy);
}

// Placeholder until the load and save of the table-file issue land.
void load_table(Session& s) {
    s.column_count = 0;
    s.size_arrays();
}

bool save_table(Session&, std::string_view, int& rows_written) {
    rows_written = 0;
    return false;
}

}  // namespace rowkeep
