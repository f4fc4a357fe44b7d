#include "html/code_page_check.h"

#include "console/console.h"
#include "console/menu.h"
#include "console/program_files.h"
#include "console/records.h"
#include "console/shell.h"
#include "html/table_page.h"

namespace rowkeep {

namespace {

int count_report_lines(Session& s) {
    TextReader report(s.files, "check_01.txt");
    int count = 0;
    while (!report.at_end()) {
        std::string line = report.read_line();
        if (line.find_first_not_of(' ') != std::string::npos) ++count;
    }
    return count;
}

}  // namespace

IndexSettings check_code_page(Session& s) {
    s.console.print_text("checking chcp.com");
    const long before = s.faults.failures();
    {
        TextWriter answer(s.files, "return.txt");
        answer.write_raw("\r\r\n");
    }
    s.shell.run_command("chcp < return.txt > check_01.txt");

    s.row_count = count_report_lines(s);
    // A report that could not be written or read says nothing of the interpreter: the
    // export reports the failure itself.
    if (s.faults.failures() != before) return {};
    if (s.row_count == 0) {
        s.console.print_text("Check availability chcp.com");
        s.console.print_text("Most likely it is necessary to updated the system path variable.");
        s.console.print_text("<9> continue and end");
        wait_for_one_of(s.console, "9");
        throw ProgramEnd{};
    }

    if (s.code_page.empty()) s.code_page = "Windows-65001";
    IndexSettings settings;
    const std::string number = code_page_number(s.code_page);
    settings.charset = charset_name(number);

    s.shell.run_command("chcp " + number);
    // Only what the program made: the user's own notes and pages stay.
    delete_program_files(s, "*.txt");
    delete_program_files(s, "*.htm", table_page_name(s.table_name));
    return settings;
}

}  // namespace rowkeep
