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

std::string TextReader::read_value() {
    int c;
    while ((c = peek()) == ' ' || c == '\t') get();
    std::string value;
    if (c < 0) return value;
    auto line_end = [this](int ch) {
        if (ch == '\r') {
            get();
            skip_line_end_after_cr();
            return true;
        }
        if (ch == '\n') {
            get();
            return true;
        }
        return false;
    };
    if (c == '"') {
        get();
        for (;;) {
            c = peek();
            if (c < 0) return value;
            if (c == '"') {
                get();
                break;
            }
            if (c == '\r' || c == '\n') {
                line_end(c);
                return value;
            }
            value += static_cast<char>(get());
        }
        while ((c = peek()) == ' ' || c == '\t') get();
        if (c == ',')
            get();
        else
            line_end(c);
        return value;
    }
    for (;;) {
        c = peek();
        if (c < 0) return value;
        if (c == ',') {
            get();
            return value;
        }
        if (line_end(c)) return value;
        value += static_cast<char>(get());
    }
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
    buffer_.resize(kBufferSize);
    std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
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
    if (std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
        failed_ = true;
        files_.fail(errno, std::strerror(errno));
    }
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
            int pad = zone_padding(column_);
            write_raw(std::string(static_cast<std::size_t>(pad), ' '));
            column_ += pad;
            break;
        }
    }
}

void TextWriter::print_number(long long n, Ending ending) {
    print_text(number_text(n), ending);
}

void TextWriter::write_value(std::string_view value, bool last) {
    std::string out;
    out.reserve(value.size() + 4);
    out += '"';
    out += value;
    out += '"';
    out += last ? "\r\n" : ",";
    write_raw(out);
    column_ = last ? 0 : column_ + static_cast<int>(value.size()) + 3;
}

void TextWriter::abandon() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (!temp_.empty()) ::unlink(temp_.c_str());
    temp_.clear();
    target_.clear();
}

bool TextWriter::close() {
    if (!file_) return !failed_;
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
