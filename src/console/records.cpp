#include "console/records.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "console/tokens.h"

namespace rowkeep {

namespace {

constexpr std::size_t kBufferSize = 1 << 16;

char lower_letter(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

fs::path resolve_name(const fs::path& dir, std::string_view name) {
    return FileSystem(dir).resolve(name);
}

bool matches_pattern(std::string_view pattern, std::string_view name) {
    // Iterative glob with backtracking on the last "*".
    std::size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' || lower_letter(pattern[p]) == lower_letter(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    // "*.*" (and "*.") match names without a dot too, as on the program's platform.
    if (p > 0 && pattern[p - 1] == '*' && p < pattern.size() && pattern[p] == '.' &&
        pattern.find_first_not_of('*', p + 1) == std::string_view::npos)
        return true;
    return p == pattern.size();
}

// ---------------------------------------------------------------- reader

bool TextReader::open(const FileSystem& files, std::string_view name, Links links) {
    close();
    files_ = files;
    return open_path(files_.resolve(name), links);
}

bool TextReader::open_path(const fs::path& path, Links links) {
    close();
    file_ = files_.open_read(path, links);
    if (!file_) return false;
    buffer_.resize(kBufferSize);
    pos_ = len_ = 0;
    base_ = 0;
    return true;
}

void TextReader::close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    pos_ = len_ = 0;
    base_ = 0;
}

bool TextReader::fill() {
    if (!file_) return false;
    base_ += len_;
    pos_ = 0;
    len_ = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    return len_ > 0;
}

int TextReader::peek() {
    if (pos_ >= len_ && !fill()) return -1;
    return static_cast<unsigned char>(buffer_[pos_]);
}

int TextReader::get() {
    int c = peek();
    if (c >= 0) ++pos_;
    return c;
}

bool TextReader::at_end() {
    return peek() < 0;
}

void TextReader::rewind() {
    if (!file_) return;
    seek(0);
}

void TextReader::seek(std::uint64_t offset) {
    if (!file_) return;
    if (offset >= base_ && offset <= base_ + len_) {
        pos_ = static_cast<std::size_t>(offset - base_);
        return;
    }
    fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
    base_ = offset;
    pos_ = len_ = 0;
}

void TextReader::skip_line_end_after_cr() {
    if (peek() == '\n') get();
}

std::string TextReader::read_line() {
    std::string line;
    for (;;) {
        if (pos_ >= len_ && !fill()) return line;
        // Scan the buffer for the line end in one go.
        const char* start = buffer_.data() + pos_;
        std::size_t avail = len_ - pos_;
        std::size_t i = 0;
        while (i < avail && start[i] != '\n' && start[i] != '\r') ++i;
        line.append(start, i);
        pos_ += i;
        if (i < avail) {
            int c = get();
            if (c == '\r') skip_line_end_after_cr();
            return line;
        }
    }
}

void TextReader::skip_blanks() {
    for (;;) {
        if (pos_ >= len_ && !fill()) return;
        const char c = buffer_[pos_];
        if (c != ' ' && c != '\t') return;
        ++pos_;
    }
}

bool TextReader::take_line_end() {
    const int c = peek();
    if (c == '\r') {
        ++pos_;
        skip_line_end_after_cr();
        return true;
    }
    if (c == '\n') {
        ++pos_;
        return true;
    }
    return false;
}

// Appends the bytes up to the first of the stops (or the end of the file) to value and
// returns that stop, not taken; -1 at the end of the file.
template <char A, char B, char C>
int TextReader::take_until(std::string& value) {
    for (;;) {
        if (pos_ >= len_ && !fill()) return -1;
        const char* start = buffer_.data() + pos_;
        const std::size_t avail = len_ - pos_;
        std::size_t i = 0;
        while (i < avail && start[i] != A && start[i] != B && start[i] != C) ++i;
        value.append(start, i);
        pos_ += i;
        if (i < avail) return static_cast<unsigned char>(start[i]);
    }
}

std::string TextReader::read_value() {
    skip_blanks();
    std::string value;
    int c = peek();
    if (c < 0) return value;
    if (c == '"') {
        ++pos_;
        c = take_until<'"', '\r', '\n'>(value);
        if (c != '"') {
            // A quote left open ends with its line (or the file).
            if (c >= 0) take_line_end();
            return value;
        }
        ++pos_;
        skip_blanks();
        if (peek() == ',')
            ++pos_;
        else
            take_line_end();
        return value;
    }
    c = take_until<',', '\r', '\n'>(value);
    if (c == ',')
        ++pos_;
    else if (c >= 0)
        take_line_end();
    return value;
}

// ---------------------------------------------------------------- writer

bool TextWriter::open(const FileSystem& files, std::string_view name) {
    close();
    files_ = files;
    return open_path(files_.resolve(name));
}

bool TextWriter::open_path(const fs::path& path) {
    close();
    failed_ = false;
    written_ = false;
    column_ = 0;
    target_.clear();
    temp_.clear();
    path_ = path;
    file_ = files_.open_write(path);
    if (!file_) {
        failed_ = true;
        return false;
    }
    pending_.clear();
    pending_.reserve(kBufferSize);
    // pending_ is the buffer; the library's own would only copy the bytes once more.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    return true;
}

bool TextWriter::open_replacing(const FileSystem& files, std::string_view name) {
    close();
    files_ = files;
    fs::path target = files_.resolve(name);
    fs::path temp = target.parent_path() /
                    (".rowkeep-" + std::to_string(getpid()) + "-" + target.filename().string());
    if (!open_path(temp)) return false;
    target_ = target;
    temp_ = temp;
    return true;
}

void TextWriter::flush_pending() {
    if (pending_.empty()) return;
    if (!failed_ && std::fwrite(pending_.data(), 1, pending_.size(), file_) != pending_.size()) {
        failed_ = true;
        files_.fail(errno, std::strerror(errno));
    }
    pending_.clear();
}

// Pieces gather in pending_ and reach the file in large writes: a record file is written
// a few bytes at a time, and one library call per piece cost more than the bytes.
void TextWriter::write_raw(std::string_view bytes) {
    if (!file_) {
        failed_ = true;
        return;
    }
    if (!written_) {
        written_ = true;
        if (!files_.first_write(path_)) failed_ = true;
    }
    if (failed_) return;
    if (pending_.size() + bytes.size() > kBufferSize) {
        flush_pending();
        if (bytes.size() >= kBufferSize) {
            if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
                failed_ = true;
                files_.fail(errno, std::strerror(errno));
            }
            return;
        }
    }
    pending_.append(bytes);
}

void TextWriter::print_text(std::string_view text, Ending ending) {
    write_raw(text);
    column_ = advance_column(column_, text);
    switch (ending) {
        case Ending::newline:
            write_raw("\r\n");
            column_ = 0;
            break;
        case Ending::stay:
            break;
        case Ending::zone: {
            static constexpr std::string_view kBlanks = "              ";
            static_assert(kBlanks.size() >= kZoneWidth);
            int pad = zone_padding(column_);
            write_raw(kBlanks.substr(0, static_cast<std::size_t>(pad)));
            column_ += pad;
            break;
        }
    }
}

void TextWriter::print_number(long long n, Ending ending) {
    print_text(number_text(n), ending);
}

void TextWriter::write_value(std::string_view value, bool last) {
    const std::size_t size = value.size() + (last ? 4 : 3);
    if (file_ && pending_.size() + size <= kBufferSize) {
        pending_ += '"';
        pending_.append(value);
        pending_.append(last ? "\"\r\n" : "\",");
    } else {
        write_raw("\"");
        write_raw(value);
        write_raw(last ? "\"\r\n" : "\",");
    }
    column_ = last ? 0 : column_ + static_cast<int>(value.size()) + 3;
}

void TextWriter::abandon() {
    pending_.clear();
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    target_.clear();
}

bool TextWriter::close() {
    if (!file_) return !failed_;
    flush_pending();
    // A write that failed was recorded when it happened; these record their own.
    if (!failed_ && !files_.flush(file_, path_, !temp_.empty())) failed_ = true;
    if (!files_.close(file_, path_)) failed_ = true;
    file_ = nullptr;
    if (!temp_.empty()) {
        if (!failed_ && !files_.rename(temp_, target_)) failed_ = true;
        if (failed_) ::unlink(temp_.c_str());
        temp_.clear();
        target_.clear();
    }
    return !failed_;
}

}  // namespace rowkeep
