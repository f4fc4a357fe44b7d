// Byte-for-byte references for tests that guard files while the code behind them changes:
// a folder reduced to a manifest (name, size, hash of every file), compared with one
// checked in, or recaptured with ROWKEEP_CAPTURE_REFERENCE=1.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace rowkeep::testing {

// A small generator of its own: generated inputs must be the same on every library.
class Lcg {
  public:
    explicit Lcg(std::uint64_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state_ >> 33);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }

  private:
    std::uint64_t state_;
};

std::string file_bytes(const std::filesystem::path& path);

// "name size hash" for the bytes.
std::string manifest_line(const std::string& name, const std::string& bytes);

// Every file under the folder by its path inside it, and every folder with a "/", sorted.
std::vector<std::string> folder_manifest(const std::filesystem::path& dir);

// Compares lines with the reference file, or writes them there when
// ROWKEEP_CAPTURE_REFERENCE is set; what names the compared files in the failure message.
void compare_with_reference(const std::filesystem::path& reference,
                            const std::vector<std::string>& lines, const std::string& what);

}  // namespace rowkeep::testing
