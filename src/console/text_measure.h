// Where characters begin and how many screen columns each takes, in the active code page:
// single-byte pages (every byte a character, one column), GB18030 (1, 2 or 4 bytes) and
// UTF-8 (its sequences; a byte that starts no valid sequence is a character of its own).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace rowkeep {

class TextMeasure {
  public:
    enum class Kind { single_byte, gb18030, utf8 };

    explicit TextMeasure(int code_page);

    Kind kind() const { return kind_; }
    bool single_byte() const { return kind_ == Kind::single_byte; }

    // Bytes of the character that starts at pos (at least 1 while pos is inside text).
    std::size_t char_length(std::string_view text, std::size_t pos) const;
    // Screen columns of the character at pos: 2 wide East Asian, 0 combining, else 1.
    int char_width(std::string_view text, std::size_t pos) const;

    // Screen columns of the whole text.
    int width(std::string_view text) const;
    // Characters in the text.
    std::size_t count(std::string_view text) const;
    // Byte offset after the first n characters (the text's size when it has fewer).
    std::size_t offset_of(std::string_view text, std::size_t n) const;
    // Byte length of the longest start of the text that takes at most columns columns;
    // marks of width 0 stay with the character before them.
    std::size_t fitting(std::string_view text, int columns) const;
    // Start of the character that ends at or before pos.
    std::size_t previous(std::string_view text, std::size_t pos) const;
    // Bytes still needed to complete the character that the text's end cuts short; 0 when
    // the text ends on a whole character (or on a byte that starts none).
    std::size_t missing(std::string_view text) const;

  private:
    std::size_t gb18030_length(std::string_view text, std::size_t pos) const;
    int gb18030_width(std::string_view bytes) const;

    Kind kind_;
    struct Iconv;
    std::shared_ptr<Iconv> to_utf8_;  // GB18030 to UTF-8, only to ask for widths
};

// The first n characters of a text (all of it when shorter).
std::string first_characters(const TextMeasure& m, std::string_view text, std::size_t n);

}  // namespace rowkeep
