#include "html/keyword_extraction.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "console/console.h"
#include "console/records.h"
#include "console/shell.h"
#include "console/tokens.h"
#include "html/background_trace.h"
#include "html/html_names.h"
#include "html/keyword_scanner.h"
#include "html/word_records.h"
#include "viewer/sort_engine.h"
#include "viewer/spare_files.h"

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

PositionField::PositionField(long long position) {
    constexpr long long kLongestShort = 999999;
    if (position >= 0 && position <= kLongestShort) {
        std::memcpy(text_, "      ", 6);
        char* out = text_ + 6;
        do {
            *--out = static_cast<char>('0' + position % 10);
            position /= 10;
        } while (position > 0);
        size_ = 6;
        return;
    }
    const bool short_form = position <= kLongestShort;
    char digits[24];
    const auto count = static_cast<std::size_t>(
        std::to_chars(digits, digits + sizeof digits, position).ptr - digits);
    const std::size_t width = short_form ? 6 : 10;
    char* out = text_;
    if (!short_form) *out++ = '~';
    for (std::size_t k = count; k < width; ++k) *out++ = ' ';
    std::memcpy(out, digits, count);
    size_ = static_cast<std::size_t>(out + count - text_);
}

std::string position_field(long long position) {
    return std::string(std::string_view(PositionField(position)));
}

long long position_value(std::string_view field) {
    if (field.size() == 6) {  // as the program writes the positions below a million
        long long value = 0;
        bool digits = false, plain = true;
        for (char c : field) {
            if (c >= '0' && c <= '9') {
                value = value * 10 + (c - '0');
                digits = true;
            } else if (c != ' ' || digits) {
                plain = false;
            }
        }
        if (plain && digits) return value;
    }
    if (!field.empty() && field.front() == '~') field.remove_prefix(1);
    while (!field.empty() && field.front() == ' ') field.remove_prefix(1);
    if (!field.empty() && field.size() <= 18) {  // digits alone, as the program writes them
        long long value = 0;
        std::size_t at = 0;
        for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at)
            value = value * 10 + (field[at] - '0');
        if (at == field.size()) return value;
    }
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

// The page with every byte of code 15 or less removed, line by line; its blanks, of which
// each word but a line's first follows one.
std::uint64_t write_clean_copy(Session& s, const std::string& source, const std::string& target) {
    TextReader in(s.files, "htm_in\\" + source);
    TextWriter out(s.files, target);
    write_behind_when(out, file_at_least(in, kWriteBehindBytes));
    auto control = [](char c) { return static_cast<unsigned char>(c) <= 15; };
    std::string_view line;
    std::string cleaned;
    std::uint64_t blanks = 0;
    while (in.next_line(line)) {
        if (std::any_of(line.begin(), line.end(), control)) {
            cleaned.assign(line);
            cleaned.erase(std::remove_if(cleaned.begin(), cleaned.end(), control), cleaned.end());
            line = cleaned;
        }
        out.print_text(line);
        blanks += static_cast<std::uint64_t>(std::count(line.begin(), line.end(), ' '));
    }
    return blanks;
}

// As padded(), appended to text without a string of its own.
void append_padded(std::string& text, long long number, std::size_t width) {
    char digits[24];
    const auto count = static_cast<std::size_t>(
        std::to_chars(digits, digits + sizeof digits, number).ptr - digits);
    if (count < width) text.append(width - count, ' ');
    text.append(digits, count);
}

// Asks for a file ahead for each run the first sort will make of the records written, and
// for its output.
class RunsAhead {
  public:
    explicit RunsAhead(SpareFiles* spares) : spares_(spares) {}
    void counted(std::size_t records) {
        records_ += records;
        const std::size_t files = (records_ + run_lines_ - 1) / run_lines_ + 1;
        if (spares_ != nullptr && files > asked_) {
            asked_ = files;
            spares_->make_ahead(files);
        }
    }

  private:
    SpareFiles* spares_;
    const std::size_t run_lines_ = SortJob("", "").run_lines;
    std::size_t records_ = 0, asked_ = 0;
};

void scan_page(Session& s, KeywordScanner& scanner, const std::string& page, TextWriter& words,
               RunsAhead& ahead) {
    std::string trace_name = page;
    std::size_t dot = trace_name.find(".htm");
    trace_name.replace(dot, 4, ".txt");
    TextReader in(s.files, page);
    BackgroundTrace trace(s.files, trace_name);
    scanner.start_page();
    const std::string page_field = "\",\"" + page + "\",\"";
    std::string_view line;
    std::string page_and_line;
    while (in.next_line(line)) {
        scanner.scan_gathering(line, trace);
        if (scanner.words().empty()) continue;
        // The values between a record's word and its position are the same for the line.
        page_and_line.assign(page_field);
        append_padded(page_and_line, scanner.line_number(), 10);
        page_and_line.append("\",\"");
        for (const WordAt& w : scanner.words())
            write_pieces(words, "\"", w.text, page_and_line, PositionField(w.position), "\",\"",
                         w.text, "\"\r\n");
        ahead.counted(scanner.words().size());
    }
    scanner.finish_trace(trace);
}

// The sorted file is only read from here on, until the results step deletes it: it becomes
// a second name of the sort's output, not a copy. The runs are merged from their files, not
// kept in memory: memory fresh from the system costs more a page than reading the page back.
void run_sort(Session& s, const char* in, const char* out, const char* label, SpareFiles* spares) {
    s.console.print_text(label);
    SortJob job(in, out, label);
    job.spares = spares;
    job.share_output = true;
    job.keep_bytes = 0;
    sort_file(s, job);
}

template <class... Values>
bool any_quote(const Values&... values) {
    return (contains(std::string_view(values), "\"") || ...);
}

// The occurrence numbers into wrd_04.txt: a word's records counted from 1.
class OccurrenceCounter {
  public:
    explicit OccurrenceCounter(TextWriter& out) : out_(out) {}
    // page_to_position, when given, is the three first values as a record holds them
    // with the quotes and commas between.
    void add(std::string_view page, std::string_view line, std::string_view position,
             std::string_view word, std::string_view id, std::string_view page_to_position = {}) {
        if (id == previous_id_) {
            ++occurrence_;
        } else {
            occurrence_ = 1;
            previous_id_.assign(id);
        }
        write(page, line, position, word, id, page_to_position);
    }
    // The same for a caller that numbers the words itself and so knows when the id
    // changes (it never calls add() as well).
    void add_numbered(bool new_id, std::string_view page, std::string_view line,
                      std::string_view position, std::string_view word, std::string_view id,
                      std::string_view page_to_position = {}) {
        occurrence_ = new_id ? 1 : occurrence_ + 1;
        write(page, line, position, word, id, page_to_position);
    }

  private:
    void write(std::string_view page, std::string_view line, std::string_view position,
               std::string_view word, std::string_view id, std::string_view page_to_position) {
        // The program's own pages and ids hold the names at their start.
        if (!(page.starts_with("page_") || contains(page, "page_")) ||
            !(id.starts_with("id") || contains(id, "id")))
            return;
        if (page_to_position.empty())
            write_record(out_, page, line, position, word, id, Digits(occurrence_));
        else
            write_record(out_, page_to_position, word, id, Digits(occurrence_));
    }

    TextWriter& out_;
    std::string previous_id_;
    long long occurrence_ = 0;
};

// wrd_03.txt to wrd_04.txt.
void count_occurrences(Session& s) {
    WordFileReader in(s.files, "wrd_03.txt");
    TextWriter out(s.files, "wrd_04.txt");
    const bool many = in.many_records();
    write_behind_when(out, many);
    read_ahead_when(in, many);
    OccurrenceCounter counter(out);
    while (in.read(5)) counter.add(in[0], in[1], in[2], in[3], in[4]);
}

// wrd_02.txt to wrd_03.txt, a word's id being the 0-based place of its first record in
// the sorted list, and in the same pass wrd_04.txt from the records written: read back
// they are the same values, unless one holds a double quote (a page of the user's own
// named so), when wrd_04.txt is made again from wrd_03.txt as read.
void number_words_and_count_occurrences(Session& s) {
    bool quoted = false;
    {
        WordFileReader in(s.files, "wrd_02.txt");
        TextWriter ids(s.files, "wrd_03.txt");
        TextWriter occurrences(s.files, "wrd_04.txt");
        const bool many = in.many_records();
        write_behind_when(ids, many);
        write_behind_when(occurrences, many);
        read_ahead_when(in, many);
        OccurrenceCounter counter(occurrences);
        std::string previous_word;
        WordId id;
        for (long long count = 0; in.read(5); ++count) {
            // word, page, line, position, word
            const bool new_word = count == 0 || in[0] != previous_word;
            if (new_word) {
                id.set(count);
                previous_word.assign(in[0]);
            }
            // A line of the plain form holds no quote within its values, and its page,
            // line and position lie there as the record writes them, with the quotes and
            // commas between.
            if (!in.plain_line().empty()) {
                const std::string_view page_to_position(
                    in[1].data(),
                    static_cast<std::size_t>(in[3].data() + in[3].size() - in[1].data()));
                write_record(ids, page_to_position, in[0], id);
                if (!quoted)
                    counter.add_numbered(new_word, in[1], in[2], in[3], in[0], id,
                                         page_to_position);
                continue;
            }
            write_record(ids, in[1], in[2], in[3], in[0], id);
            quoted = quoted || any_quote(in[1], in[2], in[3], in[0]);
            if (!quoted) counter.add_numbered(new_word, in[1], in[2], in[3], in[0], id);
        }
    }
    if (quoted) count_occurrences(s);
}

// The records of wrd_06.txt into wrd_06_<k>.txt, a file for each page.
class PageSplit {
  public:
    // many: the records come from a file of about kWriteBehindRecords records or more.
    PageSplit(Session& s, bool many) : s_(s), many_(many) {}
    void add(const WordFileReader& r) {
        if (k_ == 0 || r[0] != page_) {
            part_.close();
            part_.open(s_.files, "wrd_06_" + plain_number(++k_) + ".txt");
            write_behind_when(part_, many_);
            page_.assign(r[0]);
        }
        copy_record(part_, r, 6);
    }

  private:
    Session& s_;
    bool many_;
    TextWriter part_;
    std::string page_;
    int k_ = 0;
};

void split_by_page(Session& s) {
    WordFileReader in(s.files, "wrd_06.txt");
    const bool many = in.many_records();
    PageSplit split(s, many);
    read_ahead_when(in, many);
    while (in.read(6)) split.add(in);
}

// wrd_05.txt to wrd_06.txt, the records of pages and ids only, split by page in the same
// pass (again from wrd_06.txt as read when a value holds a double quote).
std::uint64_t keep_indexed_words_and_split(Session& s) {
    bool quoted = false;
    std::uint64_t kept = 0;
    {
        WordFileReader in(s.files, "wrd_05.txt");
        TextWriter out(s.files, "wrd_06.txt");
        const bool many = in.many_records();
        write_behind_when(out, many);
        read_ahead_when(in, many);
        PageSplit split(s, many);
        while (in.read(6)) {
            if (!contains(in[0], "page_") || !contains_id_any_case(in[4])) continue;
            copy_record(out, in, 6);
            ++kept;
            // A line of the plain form holds no quote within its values.
            quoted = quoted || (in.plain_line().empty() &&
                                any_quote(in[0], in[1], in[2], in[3], in[4], in[5]));
            if (!quoted) split.add(in);
        }
    }
    if (quoted) split_by_page(s);
    return kept;
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
    std::uint64_t page_blanks = 0;
    for (const std::string& name : listing_lines(s, "dir_01.txt")) {
        std::size_t at = name.find(".htm");
        if (at == std::string::npos) continue;
        const std::string copy = name.substr(0, at) + "_01.htm";
        page_blanks += write_clean_copy(s, name, copy);
        ++n;
        const std::string page = "page_" + plain_number(n) + ".htm";
        // The clean copy is only read from here on, until the results step deletes it.
        s.shell.run_sharing_copy("copy " + command_name(copy) + "  " + page);
        // A folder under the page's name takes the copy into itself, and the page would be
        // left out of the index unnoticed.
        std::error_code ec;
        if (fs::symlink_status(s.files.resolve(page), ec).type() == fs::file_type::directory)
            s.files.fail(EISDIR, page + " is not a regular file");
    }
    s.shell.run_command("dir /b page_*.htm > dir_02.txt");

    KeywordScanner scanner;  // an element left open runs on into the next page
    TextWriter words(s.files, "wrd_01.txt");
    write_behind_when(words, page_blanks >= kWriteBehindRecords);
    RunsAhead ahead(s.spares);
    for (const std::string& line : listing_lines(s, "dir_02.txt")) {
        if (!contains(line, ".htm")) continue;
        scan_page(s, scanner, trim_blanks(line), words, ahead);
    }
}

std::uint64_t sort_and_number_words(Session& s) {
    run_sort(s, "wrd_01.txt", "wrd_02.txt", "Sort 1/2", s.spares);
    s.mark_step("sort 1/2");
    number_words_and_count_occurrences(s);
    s.mark_step("ids and occurrences");
    run_sort(s, "wrd_04.txt", "wrd_05.txt", "Sort 2/2", s.spares);
    s.mark_step("sort 2/2");
    const std::uint64_t kept = keep_indexed_words_and_split(s);
    s.mark_step("filter and split");
    return kept;
}

}  // namespace rowkeep
