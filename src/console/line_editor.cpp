#include "console/line_editor.h"

#include "console/keys.h"

namespace rowkeep {

void LineEditor::insert(char c) {
    text_.insert(cursor_++, 1, c);
}

void LineEditor::backspace() {
    if (cursor_ == 0) return;
    text_.erase(--cursor_, 1);
}

bool LineEditor::delete_under() {
    if (cursor_ >= text_.size()) return false;
    text_.erase(cursor_, 1);
    return true;
}

void LineEditor::left() {
    if (cursor_ > 0) --cursor_;
}

void LineEditor::right() {
    if (cursor_ < text_.size()) ++cursor_;
}

void LineEditor::up() {
    auto w = static_cast<std::size_t>(width_);
    cursor_ = cursor_ >= w ? cursor_ - w : 0;
}

void LineEditor::down() {
    auto w = static_cast<std::size_t>(width_);
    cursor_ = cursor_ + w <= text_.size() ? cursor_ + w : text_.size();
}

void LineEditor::clear() {
    text_.clear();
    cursor_ = 0;
}

void LineEditor::tab() {
    do insert(' ');
    while (cursor_ % 8 != 0);
}

bool LineEditor::apply(const std::string& key, bool& beep) {
    beep = false;
    if (key.size() == 1) {
        auto code = static_cast<unsigned char>(key[0]);
        if (code == '\r' || code == '\n') return true;
        if (code == 8 || code == 127)
            backspace();
        else if (code == 27)
            clear();
        else if (code == '\t')
            tab();
        else if (code >= 32)
            insert(key[0]);
        return false;
    }
    if (key.size() != 2 || static_cast<unsigned char>(key[0]) != 255) return false;
    switch (static_cast<unsigned char>(key[1])) {
        case kScanLeft:
            left();
            break;
        case kScanRight:
            right();
            break;
        case kScanHome:
            home();
            break;
        case kScanEnd:
            end();
            break;
        case kScanUp:
            up();
            break;
        case kScanDown:
            down();
            break;
        case kScanDelete:
            beep = !delete_under();
            break;
        default:
            break;
    }
    return false;
}

}  // namespace rowkeep
