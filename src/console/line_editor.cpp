#include "console/line_editor.h"

#include "console/keys.h"

namespace rowkeep {

void LineEditor::insert(char c) {
    if (measure_.single_byte()) {
        text_.insert(cursor_++, 1, c);
        return;
    }
    pending_ += c;
    if (pending_.size() < 4 && measure_.missing(pending_) > 0) return;
    take_pending();
}

void LineEditor::take_pending() {
    text_.insert(cursor_, pending_);
    cursor_ += pending_.size();
    pending_.clear();
}

void LineEditor::backspace() {
    if (cursor_ == 0) return;
    const std::size_t start = measure_.previous(text_, cursor_);
    text_.erase(start, cursor_ - start);
    cursor_ = start;
}

bool LineEditor::delete_under() {
    if (cursor_ >= text_.size()) return false;
    text_.erase(cursor_, measure_.char_length(text_, cursor_));
    return true;
}

void LineEditor::left() {
    cursor_ = measure_.previous(text_, cursor_);
}

void LineEditor::right() {
    cursor_ += measure_.char_length(text_, cursor_);
}

void LineEditor::up() {
    cursor_ = measure_.fitting(text_, cursor_column() - width_);
}

void LineEditor::down() {
    cursor_ = measure_.fitting(text_, cursor_column() + width_);
}

void LineEditor::clear() {
    text_.clear();
    pending_.clear();
    cursor_ = 0;
}

void LineEditor::tab() {
    do insert(' ');
    while (measure_.count(std::string_view(text_).substr(0, cursor_)) % 8 != 0);
}

bool LineEditor::apply(const std::string& key, bool& beep) {
    beep = false;
    // Only a byte that may continue a character (never a control key) joins the held bytes.
    if (!pending_.empty() &&
        !(key.size() == 1 && static_cast<unsigned char>(key[0]) >= 0x30 && key[0] != 127))
        take_pending();
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
