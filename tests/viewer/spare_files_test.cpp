#include "viewer/spare_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "console/replace_file.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

std::vector<std::string> hidden_names(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        if (is_temporary_name(entry.path().filename().string()))
            names.push_back(entry.path().filename().string());
    return names;
}

struct stat status_of(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Spares made ahead are files as a new one of the folder would be, hidden until given; one
// asked for and not found ready is made no more; the ones not given go with the set.
TEST(SpareFiles, MadeAheadGivenAndTheRestRemoved) {
    TempDir dir;
    dir.write("made.txt", "");  // what a new file of the folder is like
    const struct stat fresh = status_of(dir.path() / "made.txt");
    {
        SpareFiles spares(dir.path());
        spares.make_ahead(3);
        spares.make_ahead(2);  // never lowers the count
        spares.wait_made();
        EXPECT_EQ(spares.ready(), 3u);
        EXPECT_EQ(hidden_names(dir).size(), 3u);
        ASSERT_TRUE(spares.give(dir.path() / "a.txt"));
        const struct stat given = status_of(dir.path() / "a.txt");
        EXPECT_EQ(given.st_mode, fresh.st_mode);
        EXPECT_EQ(given.st_uid, fresh.st_uid);
        EXPECT_EQ(given.st_gid, fresh.st_gid);
        EXPECT_EQ(given.st_nlink, 1u);
        EXPECT_FALSE(spares.give(dir.path() / "made.txt")) << "a name taken";
        EXPECT_EQ(spares.ready(), 2u);
        ASSERT_TRUE(spares.give(dir.path() / "b.txt"));
        ASSERT_TRUE(spares.give(dir.path() / "c.txt"));
        EXPECT_FALSE(spares.give(dir.path() / "d.txt")) << "none ready";
        // Four asked for in all, one not found: made up to five, four of them given.
        spares.make_ahead(5);
        spares.wait_made();
        EXPECT_EQ(spares.ready(), 1u);
        EXPECT_FALSE(dir.exists("d.txt"));
    }
    EXPECT_TRUE(hidden_names(dir).empty()) << "a spare left behind";
    for (const char* name : {"a.txt", "b.txt", "c.txt", "made.txt"}) EXPECT_TRUE(dir.exists(name));
}

// A file is kept only when its removal would leave it with no name, and only as a new file
// would be; given again, it has its old bytes (the writer cuts them), and one that got a
// second name meanwhile is not given.
TEST(SpareFiles, KeepsOnlyFilesThatWouldHaveNoNameLeft) {
    TempDir dir;
    for (const char* name : {"plain.txt", "linked.txt", "private.txt", "later.txt"})
        dir.write(name, std::string("bytes of ") + name);
    fs::create_hard_link(dir.path() / "linked.txt", dir.path() / "other name.txt");
    ASSERT_EQ(chmod((dir.path() / "private.txt").c_str(), 0600), 0);
    SpareFiles spares(dir.path());
    if (status_of(dir.path() / "private.txt").st_mode ==
        status_of(dir.path() / "plain.txt").st_mode)
        GTEST_SKIP() << "a new file's mode is 0600 here";
    for (const char* name : {"plain.txt", "linked.txt", "private.txt"}) {
        spares.keep(dir.path() / name);
        fs::remove(dir.path() / name);
    }
    EXPECT_EQ(spares.ready(), 1u);
    EXPECT_EQ(dir.read("other name.txt"), "bytes of linked.txt");
    ASSERT_TRUE(spares.give(dir.path() / "again.txt"));
    EXPECT_EQ(dir.read("again.txt"), "bytes of plain.txt");

    // Kept, then not removed after all (a removal that failed): its name stays its own.
    spares.keep(dir.path() / "later.txt");
    EXPECT_EQ(spares.ready(), 1u);
    EXPECT_FALSE(spares.give(dir.path() / "taken.txt"));
    EXPECT_FALSE(dir.exists("taken.txt"));
    EXPECT_EQ(dir.read("later.txt"), "bytes of later.txt");
    EXPECT_EQ(status_of(dir.path() / "later.txt").st_nlink, 1u);
    EXPECT_TRUE(hidden_names(dir).empty());
}

}  // namespace
}  // namespace rowkeep::testing
