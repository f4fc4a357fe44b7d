#include "html/keyword_extraction.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <system_error>
#include <vector>

#include "console/console.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "html/html_names.h"
#include "html/keyword_scanner.h"
#include "viewer/sort_engine.h"

namespace rowkeep {

std::string word_id(long long number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return "id" + digits;
}

std::string padded(long long number, std::size_t width) {
    std::string digits = std::to_string(number);
    if (digits.size() < width) digits.insert(0, width - digits.size(), ' ');
    return digits;
}

std::string position_field(long long position) {
    constexpr long long kLongestShort = 999999;
    return position <= kLongestShort ? padded(position, 6) : "~" + padded(position, 10);
}

long long position_value(std::string_view field) {
    if (!field.empty() && field.front() == '~') field.remove_prefix(1);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    long long value = 0;
    std::from_chars(field.data(), field.data() + field.size(), value);
    return value;
}

namespace {

std::vector<std::string> listing_lines(Session& s, std::string_view name) {
    std::vector<std::string> lines;
    TextReader listing(s.files, name);
    while (!listing.at_end()) lines.push_back(lower_az(listing.read_line()));
    return lines;
}

// The page with every byte of code 15 or less removed, line by line.
void write_clean_copy(Session& s, const std::string& source, const std::string& target) {
    TextReader in(s.files, "htm_in\\" + source);
    TextWriter out(s.files, target);
    while (!in.at_end()) {
        std::string line = in.read_line();
        std::string kept;
        kept.reserve(line.size());
        for (char c : line)
            if (static_cast<unsigned char>(c) > 15) kept += c;
        out.print_text(kept);
    }
}

void scan_page(Session& s, KeywordScanner& scanner, const std::string& page, TextWriter& words) {
    std::string trace_name = page;
    std::size_t dot = trace_name.find(".htm");
    trace_name.replace(dot, 4, ".txt");
    TextReader in(s.files, page);
    TextWriter trace(s.files, trace_name);
    TraceSink sink = [&trace](std::string_view text, Ending ending) {
        trace.print_text(text, ending);
    };
    scanner.start_page();
    while (!in.at_end()) {
        std::string line = in.read_line();
        for (const FoundWord& w : scanner.scan_line(line, sink)) {
            words.write_value(w.text, false);
            words.write_value(page, false);
            words.write_value(padded(scanner.line_number(), 10), false);
            words.write_value(position_field(w.position), false);
            words.write_value(w.text, true);
        }
    }
}

struct WordRecord {
    std::string page, line, position, word, id, occurrence;
};

// page, line, position, word, id and, when wanted, the occurrence number.
bool read_record(TextReader& in, WordRecord& r, bool with_occurrence) {
    if (in.at_end()) return false;
    // Into the record's own strings: a word file has millions of values.
    in.read_value(r.page);
    in.read_value(r.line);
    in.read_value(r.position);
    in.read_value(r.word);
    in.read_value(r.id);
    if (with_occurrence) in.read_value(r.occurrence);
    return true;
}

void write_record(TextWriter& out, const WordRecord& r) {
    out.write_value(r.page, false);
    out.write_value(r.line, false);
    out.write_value(r.position, false);
    out.write_value(r.word, false);
    out.write_value(r.id, false);
    out.write_value(r.occurrence, true);
}

void run_sort(Session& s, const char* in, const char* out, const char* label) {
    s.console.print_text(label);
    sort_file(s, {in, out, label});
}

}  // namespace

void number_and_scan_pages(Session& s) {
    const std::string listing = "dir /b htm_in > dir_01.txt";
    s.shell.run_command(listing);
    for (const std::string& name : listing_lines(s, "dir_01.txt"))
        s.shell.run_command("rename " + command_name("htm_in\\" + name) + "  " +
                            command_name("file_" + name));
    { TextWriter empty(s.files, "dir_02.txt"); }

    s.shell.run_command(listing);
    int n = 0;
    for (const std::string& name : listing_lines(s, "dir_01.txt")) {
        std::size_t at = name.find(".htm");
        if (at == std::string::npos) continue;
        const std::string copy = name.substr(0, at) + "_01.htm";
        write_clean_copy(s, name, copy);
        ++n;
        const std::string page = "page_" + plain_number(n) + ".htm";
        s.shell.run_command("copy " + command_name(copy) + "  " + page);
        // A folder under the page's name takes the copy into itself, and the page would be
        // left out of the index unnoticed.
        std::error_code ec;
        if (fs::symlink_status(s.files.resolve(page), ec).type() == fs::file_type::directory)
            s.files.fail(EISDIR, page + " is not a regular file");
    }
    s.shell.run_command("dir /b page_*.htm > dir_02.txt");

    KeywordScanner scanner;  // an element left open runs on into the next page
    TextWriter words(s.files, "wrd_01.txt");
    for (const std::string& line : listing_lines(s, "dir_02.txt")) {
        if (!contains(line, ".htm")) continue;
        scan_page(s, scanner, trim_blanks(line), words);
    }
}

void sort_and_number_words(Session& s) {
    run_sort(s, "wrd_01.txt", "wrd_02.txt", "Sort 1/2");
    s.mark_step("sort 1/2");

    {  // a word's id is the 0-based place of its first record in the sorted list
        TextReader in(s.files, "wrd_02.txt");
        TextWriter out(s.files, "wrd_03.txt");
        std::string previous_word, id, word, page, line, position, text;
        for (long long count = 0; !in.at_end(); ++count) {
            in.read_value(word);
            in.read_value(page);
            in.read_value(line);
            in.read_value(position);
            in.read_value(text);
            if (count == 0 || word != previous_word) id = word_id(count);
            previous_word.swap(word);
            out.write_value(page, false);
            out.write_value(line, false);
            out.write_value(position, false);
            out.write_value(previous_word, false);
            out.write_value(id, true);
        }
    }
    {
        TextReader in(s.files, "wrd_03.txt");
        TextWriter out(s.files, "wrd_04.txt");
        WordRecord r;
        std::string previous_id;
        long long occurrence = 0;
        while (read_record(in, r, false)) {
            occurrence = r.id == previous_id ? occurrence + 1 : 1;
            previous_id = r.id;
            r.occurrence = plain_number(occurrence);
            if (contains(r.page, "page_") && contains(r.id, "id")) write_record(out, r);
        }
    }

    s.mark_step("ids and occurrences");
    run_sort(s, "wrd_04.txt", "wrd_05.txt", "Sort 2/2");
    s.mark_step("sort 2/2");

    {
        TextReader in(s.files, "wrd_05.txt");
        TextWriter out(s.files, "wrd_06.txt");
        WordRecord r;
        while (read_record(in, r, true))
            if (contains(r.page, "page_") && contains(lower_az(r.id), "id")) write_record(out, r);
    }
    {
        TextReader in(s.files, "wrd_06.txt");
        TextWriter part;
        WordRecord r;
        std::string page;
        int k = 0;
        while (read_record(in, r, true)) {
            if (k == 0 || r.page != page) {
                part.close();
                part.open(s.files, "wrd_06_" + plain_number(++k) + ".txt");
                page = r.page;
            }
            write_record(part, r);
        }
    }
    s.mark_step("filter and split");
}

}  // namespace rowkeep
