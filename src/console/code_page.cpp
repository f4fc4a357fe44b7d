#include "console/code_page.h"

#include <cerrno>

#include "console/index.h"

namespace rowkeep {

std::string iconv_name(int code_page) {
    std::string name;
    if (code_page == 65001)
        name = "UTF-8";
    else if (code_page == 54936)
        name = "GB18030";
    else if (code_page == 936)
        name = "CP936";
    else if ((code_page >= 1250 && code_page <= 1258) || code_page == 437 || code_page == 850 ||
             code_page == 852 || code_page == 866 || code_page == 874 || code_page == 932 ||
             code_page == 949 || code_page == 950)
        name = "CP" + std::to_string(code_page);
    else if (code_page >= 28591 && code_page <= 28599)
        name = "ISO-8859-" + std::to_string(code_page - 28590);
    return name;
}

Converter::Converter(const std::string& from, const std::string& to)
    : cd_(iconv_open(to.c_str(), from.c_str())), from_utf8_(from == "UTF-8") {
    if (valid()) build_table(from);
}

namespace {

// Pages whose bytes are each one character, mapped without state. CP1255 and CP1258 are
// left out: iconv joins a letter with the accent that follows it there.
bool one_byte_page(const std::string& name) {
    static constexpr const char* kPages[] = {
        "CP1250",     "CP1251",     "CP1252",     "CP1253",     "CP1254",     "CP1256",
        "CP1257",     "CP437",      "CP850",      "CP852",      "CP866",      "CP874",
        "ISO-8859-1", "ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5", "ISO-8859-6",
        "ISO-8859-7", "ISO-8859-8", "ISO-8859-9"};
    for (const char* page : kPages)
        if (name == page) return true;
    return false;
}

}  // namespace

void Converter::build_table(const std::string& from) {
    if (!one_byte_page(from)) return;
    std::vector<std::string> table(256);
    std::string all;
    for (int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b);
        all += byte;
        char* in = &byte;
        std::size_t in_left = 1;
        char buffer[64];
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        const std::size_t r = iconv(cd_, &in, &in_left, &o, &o_left);
        if (r == idx(-1) && errno != EILSEQ) return;  // not one byte, one character
        table[idx(b)] = r == idx(-1) ? std::string("?") : std::string(buffer, idx(o - buffer));
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    // The table must say what iconv says of the bytes run together.
    std::string joined;
    for (const std::string& t : table) joined += t;
    if (convert(all) != joined || !pending_.empty()) {
        pending_.clear();
        return;
    }
    table_ = std::move(table);
}

Converter::~Converter() {
    if (valid()) iconv_close(cd_);
}

std::string Converter::convert(std::string_view bytes) {
    if (!valid()) return std::string(bytes);
    if (!table_.empty()) {
        std::string out;
        out.reserve(bytes.size());
        std::size_t i = 0;
        while (i < bytes.size()) {
            // Bytes that stay as they are (ASCII, into UTF-8) go in runs.
            std::size_t run = i;
            while (run < bytes.size()) {
                const std::string& t = table_[static_cast<unsigned char>(bytes[run])];
                if (t.size() != 1 || t[0] != bytes[run]) break;
                ++run;
            }
            out.append(bytes.data() + i, run - i);
            if (run == bytes.size()) break;
            out += table_[static_cast<unsigned char>(bytes[run])];
            i = run + 1;
        }
        return out;
    }
    std::string input = pending_ + std::string(bytes);
    pending_.clear();
    std::string out;
    char* in = input.data();
    std::size_t in_left = input.size();
    char buffer[4096];
    while (in_left > 0) {
        char* o = buffer;
        std::size_t o_left = sizeof buffer;
        std::size_t r = iconv(cd_, &in, &in_left, &o, &o_left);
        out.append(buffer, idx(o - buffer));
        if (r != idx(-1)) break;
        if (errno == E2BIG) continue;
        if (errno == EINVAL) {  // a character cut short: keep it for the next call
            pending_.assign(in, in_left);
            break;
        }
        // EILSEQ: a byte the source does not define, or a character the target lacks.
        out += '?';
        // Skip one whole UTF-8 character when the source is UTF-8, else one byte.
        std::size_t skip = 1;
        auto lead = static_cast<unsigned char>(*in);
        if (from_utf8_ && lead >= 0xc0) {
            while (skip < in_left && (static_cast<unsigned char>(in[skip]) & 0xc0) == 0x80 &&
                   skip < 4)
                ++skip;
        }
        in += skip;
        in_left -= skip;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string Converter::convert_whole(std::string_view bytes) {
    std::string out = convert(bytes);
    if (!pending_.empty()) {
        out += '?';
        pending_.clear();
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::string convert_text(const std::string& from, const std::string& to, std::string_view bytes) {
    if (from.empty() || to.empty() || from == to) return std::string(bytes);
    Converter c(from, to);
    return c.convert_whole(bytes);
}

std::string code_page_to_utf8(int code_page, std::string_view bytes) {
    std::string name = iconv_name(code_page);
    if (name.empty() || name == "UTF-8") return std::string(bytes);
    Converter c(name, "UTF-8");
    return c.convert(bytes);
}

std::string utf8_to_code_page(int code_page, std::string_view bytes) {
    std::string name = iconv_name(code_page);
    if (name.empty() || name == "UTF-8") return std::string(bytes);
    Converter c("UTF-8", name);
    return c.convert(bytes);
}

}  // namespace rowkeep
