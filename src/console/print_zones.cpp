#include "console/print_zones.h"

#include <cstring>

#include "console/index.h"

namespace rowkeep {

int zone_padding(int column) {
    int boundary = (column / kZoneWidth + 1) * kZoneWidth;
    return boundary - column;
}

int advance_column(int column, std::string_view text) {
    // Two backward scans of the whole text at memchr speed, rather than a set lookup per
    // byte: page texts are long and most have no line end at all.
    const char* data = text.data();
    std::size_t size = text.size();
    std::size_t after = 0;  // the position after the last line end, 0 for none
    if (const void* lf = size > 0 ? memrchr(data, '\n', size) : nullptr)
        after = idx(static_cast<const char*>(lf) - data) + 1;
    if (const void* cr = size > after ? memrchr(data + after, '\r', size - after) : nullptr)
        after = idx(static_cast<const char*>(cr) - data) + 1;
    if (after == 0) return column + static_cast<int>(size);
    return static_cast<int>(size - after);
}

std::string zone_ending(int column, int width) {
    int pad = zone_padding(column);
    if (column + pad + 1 > width - kZoneWidth) return "\r\n";
    return std::string(idx(pad), ' ');
}

}  // namespace rowkeep
