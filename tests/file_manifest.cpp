#include "file_manifest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace rowkeep::testing {

namespace fs = std::filesystem;

namespace {

std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t h = 1469598103934665603ULL;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ULL;
    }
    return h;
}

}  // namespace

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::string manifest_line(const std::string& name, const std::string& bytes) {
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(bytes)));
    return name + " " + std::to_string(bytes.size()) + " " + hash;
}

std::vector<std::string> folder_manifest(const fs::path& dir) {
    std::vector<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        const std::string name = fs::relative(entry.path(), dir).generic_string();
        if (entry.is_directory())
            lines.push_back(name + "/");
        else
            lines.push_back(manifest_line(name, file_bytes(entry.path())));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

void compare_with_reference(const fs::path& reference, const std::vector<std::string>& lines,
                            const std::string& what) {
    if (const char* capture = std::getenv("ROWKEEP_CAPTURE_REFERENCE"); capture && *capture) {
        fs::create_directories(reference.parent_path());
        std::ofstream out(reference, std::ios::binary);
        for (const auto& line : lines) out << line << '\n';
        return;
    }
    std::ifstream in(reference, std::ios::binary);
    ASSERT_TRUE(in) << "no reference " << reference;
    std::vector<std::string> expected;
    for (std::string line; std::getline(in, line);) expected.push_back(line);
    EXPECT_EQ(lines, expected) << what << " differ from " << reference;
}

}  // namespace rowkeep::testing
