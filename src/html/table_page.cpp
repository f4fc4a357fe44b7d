#include "html/table_page.h"

#include "console/console.h"
#include "console/index.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/table_file.h"
#include "console/tokens.h"
#include "html/html_names.h"
#include "html/word_records.h"

namespace rowkeep {

std::string table_page_name(std::string_view table_name) {
    std::size_t at = table_name.find(".csv");
    if (at == std::string_view::npos) return std::string(table_name) + ".htm";
    return std::string(table_name.substr(0, at + 1)) + "htm";
}

bool right_aligned_cell(std::string_view text) {
    return is_numeric_text(text);
}

namespace {

// Browsers know no "Windows-65001": a UTF-8 page declares itself as such.
std::string page_charset(const std::string& code_page) {
    return code_page_number(code_page) == "65001" ? charset_name("65001") : code_page;
}

void write_head(Session& s, TextWriter& page, const std::string& page_name) {
    page.print_text("<html>", Ending::stay);
    page.print_text("<head> <meta http-equiv=\"content-type\"  content=\"text/html;charset=" +
                    page_charset(s.code_page) + "\">");
    page.print_text("<title>");
    page.print_text(page_name);
    page.print_text("</title>");
    page.print_text("<style type =\"text/css\">");
    page.print_text("\ndiv.ol {text-align: left}\n</style>");
    page.print_text("</head>");
    page.print_text("<body>");
    page.print_text("The table was created with program: " + s.program_file_name + " <br>");
    page.print_text("The table was written with code page " + s.code_page +
                    ", for further use we recommend UTF-8.");
    page.print_text(maker_link_line());
    if (!s.sponsor_address.empty()) page.print_text(sponsor_line(s.sponsor_address));
    page.print_text("<br>");
    page.print_text("<table border=\"1\">");
}

}  // namespace

void write_table_page(Session& s) {
    const int columns = s.column_count < 0 ? 0 : s.column_count;
    const auto size = idx(columns + 1);
    if (s.column_names.size() < size) s.column_names.resize(size);
    if (s.cells.size() < size) s.cells.resize(size);

    s.in_file_name = std::string(kWorkingFile);
    TextReader in(s.files, kWorkingFile);
    for (int i = 1; i <= columns; ++i) s.column_names[idx(i)] = trim_blanks(in.read_value());
    in.rewind();

    const std::string page_name = table_page_name(s.table_name);
    TextWriter page(s.files, page_name);
    write_behind_when(page, file_at_least(in, kWriteBehindBytes));
    write_head(s, page, page_name);

    const std::string right = "<td style=\"text-align: right\">";
    for (int r = 1; row_available(in, columns); ++r) {
        page.print_text("<tr>");
        page.print_text(right + plain_number(r) + "</td>");
        for (int i = 1; i <= columns; ++i) {
            std::string cell = trim_blanks(in.read_value());
            if (cell.empty()) cell = " ";
            page.print_text(right_aligned_cell(cell) ? right : "<td>");
            if (s.column_names[idx(i)] == "link_location" && r > 1 &&
                contains(lower_az(cell), "http"))
                page.print_text("<a href=\"" + cell + "\"> link_location_" + plain_number(r) +
                                "</a>");
            else
                page.print_text(cell);
            page.print_text("</td>");
        }
        page.print_text("</tr>");
    }
    page.print_text("</table>");
    page.print_text("</body>");
    page.print_text("</html>");
    in.close();
    page.close();

    s.shell.run_command("md htm_in");
    s.shell.run_command("del /q htm_in\\*.*");
    // The page is not written again before the code page check deletes it.
    s.shell.run_sharing_copy("copy " + command_name(page_name) + " htm_in\\");
    s.console.print_newline();
}

}  // namespace rowkeep
