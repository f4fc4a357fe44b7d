// The record reader on arbitrary file contents: every read makes progress, values stay
// within their length, lines split as LF, CR LF and a lone CR say, and a seek back reads
// the same value again.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/records.h"
#include "console/tokens.h"

using namespace rowkeep;
namespace fs = std::filesystem;

namespace {

const fs::path& scratch_dir() {
    static const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "rowkeep-fuzz-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return fs::path(pattern);
    }();
    return dir;
}

std::vector<std::string> reference_lines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string line;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const fs::path& dir = scratch_dir();
    {
        std::ofstream out(dir / "in.txt", std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    // Whole lines against a plain splitter.
    {
        TextReader in(dir, "in.txt");
        std::vector<std::string> want = reference_lines(bytes);
        std::size_t n = 0;
        while (!in.at_end()) {
            std::string line = in.read_line();
            if (n >= want.size() || line != want[n]) std::abort();
            ++n;
        }
        if (n != want.size()) std::abort();
        if (!in.read_line().empty()) std::abort();
    }

    // Values and lines mixed, the choice of read taken from the bytes themselves.
    {
        TextReader in(dir, "in.txt");
        std::size_t step = 0;
        while (!in.at_end()) {
            std::uint64_t before = in.tell();
            bool as_line = size > 0 && (data[step % size] & 1) != 0;
            std::string got = as_line ? in.read_line() : in.read_value();
            if (!as_line && got.size() > kMaxTextToken) std::abort();
            if (in.tell() <= before) std::abort();  // no read may stand still
            if (step % 7 == 3) {
                // Going back re-reads the same thing.
                in.seek(before);
                std::string again = as_line ? in.read_line() : in.read_value();
                if (again != got) std::abort();
            }
            ++step;
        }
        if (!in.read_value().empty()) std::abort();
        in.rewind();
        if (size > 0 && in.at_end()) std::abort();
    }
    return 0;
}
