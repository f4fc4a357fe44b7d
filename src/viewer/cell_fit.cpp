#include "viewer/cell_fit.h"

#include "console/index.h"
#include "console/tokens.h"

namespace rowkeep {

std::string fit_cell(const TextMeasure& m, std::string_view text, int width, Align align) {
    if (width < 1) return "";
    const int shown = m.width(text);
    if (shown > width) {
        const std::size_t cut = m.fitting(text, width - 1);
        const int gap = width - 1 - m.width(text.substr(0, cut));
        return std::string(text.substr(0, cut)) + std::string(idx(gap), ' ') + "-";
    }
    std::string pad(idx(width - shown), ' ');
    if (align == Align::by_content && is_numeric_text(text)) return pad + std::string(text);
    return std::string(text) + pad;
}

std::string column_letters(int k) {
    if (k < 1) return "";
    int q = k / 26;
    int r = k - 26 * q;
    auto letter = [](int code) { return std::string(1, static_cast<char>(code)); };
    if (q < 1) return letter(64 + r);
    if (r != 0) return letter(64 + q) + letter(64 + r);
    if (q == 1) return "Z";
    return letter(63 + q) + "Z";
}

std::string column_heading(int k, std::string_view name) {
    return "C" + std::to_string(k) + "(" + column_letters(k) + ") " + std::string(name);
}

std::string right_align(std::string_view text, int width) {
    if (static_cast<int>(text.size()) >= width) return std::string(text);
    return std::string(idx(width) - text.size(), ' ') + std::string(text);
}

std::string cut_line(const TextMeasure& m, std::string_view line, int n) {
    return std::string(line.substr(0, m.fitting(line, n)));
}

}  // namespace rowkeep
