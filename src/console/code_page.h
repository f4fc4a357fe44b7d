// Conversion between a console code page and UTF-8 with iconv.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>
#include <vector>

namespace rowkeep {

// The iconv name of a console code page number, or "" when the console has no such page.
// iconv is not asked: its module for the page is loaded only by a Converter, when text
// is converted, so a start in a locale that converts nothing loads none.
std::string iconv_name(int code_page);

// Converts a byte stream from one character set to another; a character that the target
// cannot hold, or a byte the source does not define, becomes "?". Keeps the bytes of a
// character cut between two calls for the next call.
class Converter {
  public:
    Converter(const std::string& from, const std::string& to);
    ~Converter();
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    // False when iconv has no conversion between the two (its module is missing).
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    std::string convert(std::string_view bytes);
    // Converts bytes that hold whole characters: a character cut short becomes "?" rather
    // than waiting for the next call, and nothing is kept.
    std::string convert_whole(std::string_view bytes);

  private:
    // Fills table_ when every byte of `from` is a character of its own, converted alone.
    void build_table(const std::string& from);

    iconv_t cd_;
    bool from_utf8_;
    std::string pending_;
    // For a page of one byte a character and no state: each byte's converted text. A
    // terminal's output converted a byte at a time through iconv costs about fifty
    // instructions a byte; the sort set-up's preview writes tens of megabytes.
    std::vector<std::string> table_;
};

// Whole-text conversions for files handed to the text editor.
std::string convert_text(const std::string& from, const std::string& to, std::string_view bytes);
std::string code_page_to_utf8(int code_page, std::string_view bytes);
std::string utf8_to_code_page(int code_page, std::string_view bytes);

}  // namespace rowkeep
