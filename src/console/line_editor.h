// The typed line being entered: a plain value with one function per editing key. The
// cursor is a byte offset that always stands between whole characters of the code page.
#pragma once

#include <string>

#include "console/text_measure.h"

namespace rowkeep {

class LineEditor {
  public:
    explicit LineEditor(int width = 80, int code_page = 1250)
        : width_(width < 1 ? 1 : width), measure_(code_page) {}

    const std::string& text() const { return text_; }
    // The console's width changed: Up and Down step by the new one.
    void set_width(int width) { width_ = width < 1 ? 1 : width; }
    std::size_t cursor() const { return cursor_; }

    // Codes 32 to 255; the bytes of a character of several bytes are held back until the
    // character is whole, so that the text never holds half of one.
    void insert(char c);
    void backspace();     // the character left of the cursor
    bool delete_under();  // false (a beep) at the end of the line
    void left();
    void right();
    void home() { cursor_ = 0; }
    void end() { cursor_ = text_.size(); }
    void up();     // one console width (in screen columns) back, at most to the start
    void down();   // one console width on, at most to the end
    void clear();  // Esc
    void tab();    // blanks up to the next multiple of 8 characters
    // Screen columns of the text before the cursor, and of the whole text.
    int cursor_column() const { return measure_.width(std::string_view(text_).substr(0, cursor_)); }
    int text_columns() const { return measure_.width(text_); }

    // Applies one key value; returns true when it was Enter.
    bool apply(const std::string& key, bool& beep);

  private:
    void take_pending();  // a character cut short by another key goes in as it came

    std::string text_;
    std::size_t cursor_ = 0;
    int width_;
    TextMeasure measure_;
    std::string pending_;
};

}  // namespace rowkeep
