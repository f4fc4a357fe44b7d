// The typed line being entered: a plain value with one function per editing key.
#pragma once

#include <string>

namespace rowkeep {

class LineEditor {
  public:
    explicit LineEditor(int width = 80) : width_(width < 1 ? 1 : width) {}

    const std::string& text() const { return text_; }
    std::size_t cursor() const { return cursor_; }

    void insert(char c);  // codes 32 to 255
    void backspace();     // the character left of the cursor
    bool delete_under();  // false (a beep) at the end of the line
    void left();
    void right();
    void home() { cursor_ = 0; }
    void end() { cursor_ = text_.size(); }
    void up();     // one console width back, at most to the start
    void down();   // one console width on, at most to the end
    void clear();  // Esc
    void tab();    // blanks up to the next multiple of 8

    // Applies one key value; returns true when it was Enter.
    bool apply(const std::string& key, bool& beep);

  private:
    std::string text_;
    std::size_t cursor_ = 0;
    int width_;
};

}  // namespace rowkeep
