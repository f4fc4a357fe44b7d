#include "console/text_measure.h"

#include <iconv.h>
#include <utf8proc.h>

#include "console/index.h"

namespace rowkeep {

namespace {

// A decoded UTF-8 character: its length and code point; length 0 when the bytes at pos
// start no valid sequence.
struct Decoded {
    std::size_t length = 0;
    std::int32_t code_point = 0;
};

Decoded decode_utf8(std::string_view text, std::size_t pos) {
    utf8proc_int32_t cp = 0;
    auto n = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + pos),
                              static_cast<utf8proc_ssize_t>(text.size() - pos), &cp);
    if (n <= 0) return {};
    return {idx(n), cp};
}

int code_point_width(std::int32_t cp) {
    if (cp < 0x80) return 1;  // controls in a cell keep one column, as the single-byte pages
    return utf8proc_charwidth(cp);
}

// The number of bytes a UTF-8 lead byte announces; 0 for a byte that leads nothing.
std::size_t utf8_sequence_length(unsigned char lead) {
    if (lead >= 0xc2 && lead <= 0xdf) return 2;
    if (lead >= 0xe0 && lead <= 0xef) return 3;
    if (lead >= 0xf0 && lead <= 0xf4) return 4;
    return 0;
}

bool in(unsigned char b, unsigned char low, unsigned char high) {
    return b >= low && b <= high;
}

}  // namespace

struct TextMeasure::Iconv {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    ~Iconv() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

TextMeasure::TextMeasure(int code_page) {
    if (code_page == 65001) {
        kind_ = Kind::utf8;
    } else if (code_page == 54936) {
        kind_ = Kind::gb18030;
        to_utf8_ = std::make_shared<Iconv>();
    } else {
        kind_ = Kind::single_byte;
    }
}

std::size_t TextMeasure::gb18030_length(std::string_view text, std::size_t pos) const {
    const std::size_t left = text.size() - pos;
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    if (!in(at(0), 0x81, 0xfe) || left < 2) return 1;
    if (in(at(1), 0x40, 0x7e) || in(at(1), 0x80, 0xfe)) return 2;
    if (in(at(1), 0x30, 0x39) && left >= 4 && in(at(2), 0x81, 0xfe) && in(at(3), 0x30, 0x39))
        return 4;
    return 1;
}

std::size_t TextMeasure::char_length(std::string_view text, std::size_t pos) const {
    if (pos >= text.size()) return 0;
    switch (kind_) {
        case Kind::single_byte:
            return 1;
        case Kind::gb18030:
            return gb18030_length(text, pos);
        case Kind::utf8: {
            if (static_cast<unsigned char>(text[pos]) < 0x80) return 1;
            Decoded d = decode_utf8(text, pos);
            return d.length == 0 ? 1 : d.length;
        }
    }
    return 1;
}

int TextMeasure::gb18030_width(std::string_view bytes) const {
    if (bytes.size() == 1 || !to_utf8_ || to_utf8_->cd == reinterpret_cast<iconv_t>(-1)) return 1;
    char in_buf[4], out_buf[8];
    bytes.copy(in_buf, bytes.size());
    char* in_p = in_buf;
    char* out_p = out_buf;
    std::size_t in_left = bytes.size(), out_left = sizeof out_buf;
    iconv(to_utf8_->cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(to_utf8_->cd, &in_p, &in_left, &out_p, &out_left) == idx(-1))
        return 1;  // a sequence GB18030 leaves undefined: the terminal shows one mark
    std::string_view utf8(out_buf, idx(out_p - out_buf));
    Decoded d = decode_utf8(utf8, 0);
    return d.length == 0 ? 1 : code_point_width(d.code_point);
}

int TextMeasure::char_width(std::string_view text, std::size_t pos) const {
    if (pos >= text.size()) return 0;
    if (kind_ == Kind::single_byte || static_cast<unsigned char>(text[pos]) < 0x80) return 1;
    if (kind_ == Kind::gb18030) return gb18030_width(text.substr(pos, gb18030_length(text, pos)));
    Decoded d = decode_utf8(text, pos);
    return d.length == 0 ? 1 : code_point_width(d.code_point);
}

int TextMeasure::width(std::string_view text) const {
    if (kind_ == Kind::single_byte) return static_cast<int>(text.size());
    int columns = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += char_length(text, pos))
        columns += char_width(text, pos);
    return columns;
}

std::size_t TextMeasure::count(std::string_view text) const {
    if (kind_ == Kind::single_byte) return text.size();
    std::size_t n = 0;
    for (std::size_t pos = 0; pos < text.size(); pos += char_length(text, pos)) ++n;
    return n;
}

std::size_t TextMeasure::offset_of(std::string_view text, std::size_t n) const {
    if (kind_ == Kind::single_byte) return n < text.size() ? n : text.size();
    std::size_t pos = 0;
    for (; n > 0 && pos < text.size(); --n) pos += char_length(text, pos);
    return pos;
}

std::size_t TextMeasure::fitting(std::string_view text, int columns) const {
    if (columns <= 0) columns = 0;
    if (kind_ == Kind::single_byte) return idx(columns) < text.size() ? idx(columns) : text.size();
    std::size_t pos = 0;
    int used = 0;
    while (pos < text.size()) {
        int w = char_width(text, pos);
        if (used + w > columns) break;
        used += w;
        pos += char_length(text, pos);
    }
    return pos;
}

std::size_t TextMeasure::previous(std::string_view text, std::size_t pos) const {
    if (pos == 0) return 0;
    if (pos > text.size()) pos = text.size();
    if (kind_ == Kind::single_byte) return pos - 1;
    // GB18030 cannot be read backwards, and an invalid UTF-8 byte must count exactly as
    // it does forwards: walk from the start.
    std::size_t at = 0;
    for (;;) {
        std::size_t next = at + char_length(text, at);
        if (next >= pos) return at;
        at = next;
    }
}

std::size_t TextMeasure::missing(std::string_view text) const {
    if (kind_ == Kind::single_byte || text.empty()) return 0;
    std::size_t start = previous(text, text.size());
    std::string_view last = text.substr(start);
    auto b = [&](std::size_t i) { return static_cast<unsigned char>(last[i]); };
    if (kind_ == Kind::gb18030) {
        if (last.size() == 1 && in(b(0), 0x81, 0xfe)) return 1;
        // A lead byte and a digit wait for the second half of a four-byte character.
        if (start >= 1 && last.size() == 1 && in(b(0), 0x30, 0x39)) {
            std::size_t lead = previous(text, start);
            if (start - lead == 1 && in(static_cast<unsigned char>(text[lead]), 0x81, 0xfe))
                return 2;
        }
        return 0;
    }
    // UTF-8: the last whole character is the text's end; look for a lead byte among the last
    // three bytes whose sequence runs past the end with only continuation bytes after it.
    for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
        auto lead = static_cast<unsigned char>(text[text.size() - back]);
        if ((lead & 0xc0) == 0x80) continue;
        std::size_t need = utf8_sequence_length(lead);
        if (need <= back) return 0;
        if (decode_utf8(text, text.size() - back).length != 0) return 0;
        return need - back;
    }
    return 0;
}

std::string first_characters(const TextMeasure& m, std::string_view text, std::size_t n) {
    return std::string(text.substr(0, m.offset_of(text, n)));
}

}  // namespace rowkeep
