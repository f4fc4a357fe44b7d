#include "console/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "console/deleted_files.h"
#include "console/records.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

// Counts the failure points of writing one small file, then fails each in turn.
TEST(FileFaults, EachPointOfAWriteCanFailAndIsRecorded) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    auto write = [&] {
        TextWriter out;
        out.open_replacing(files, "t.csv");
        out.print_text("a;b");
        return out.close();
    };
    ASSERT_TRUE(write());
    const long points = faults.points();
    EXPECT_EQ(points, 5);  // open, first write, flush, close, rename
    EXPECT_EQ(faults.failures(), 0);
    for (long n = 1; n <= points; ++n) {
        SCOPED_TRACE(n);
        dir.write("t.csv", "old\r\n");
        faults.fail_at(n, ENOSPC);
        EXPECT_FALSE(write());
        EXPECT_TRUE(faults.fired());
        EXPECT_EQ(faults.last_error(), ENOSPC);
        EXPECT_EQ(faults.last_cause(), "No space left on device");
        EXPECT_EQ(dir.read("t.csv"), "old\r\n");
        EXPECT_EQ(fs::directory_iterator(dir.path())->path().filename(), "t.csv")
            << "a temporary was left behind";
    }
    faults.fail_at(0, 0);
    EXPECT_TRUE(write());
    EXPECT_EQ(dir.read("t.csv"), "a;b\r\n");
}

TEST(FileFaults, StickyFailureKeepsFailing) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    faults.fail_at(2, EIO, true);
    EXPECT_TRUE(files.make_dir(dir.path() / "a"));
    EXPECT_FALSE(files.make_dir(dir.path() / "b"));
    EXPECT_FALSE(files.make_dir(dir.path() / "c"));
    EXPECT_EQ(faults.failures(), 2);
    EXPECT_EQ(faults.last_error(), EIO);
}

TEST(FileSystem, MissingFilesAreNoFailure) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    EXPECT_EQ(files.open_read(dir.path() / "absent.txt"), nullptr);
    EXPECT_TRUE(files.remove(dir.path() / "absent.txt"));
    std::vector<fs::path> listed;
    EXPECT_TRUE(files.list(dir.path() / "nofolder", listed));
    EXPECT_TRUE(listed.empty());
    EXPECT_EQ(faults.failures(), 0);
}

// Scratch names taken by a link, a FIFO or a folder are refused, naming the file; nothing
// outside the folder is read or written.
TEST(FileSystem, ScratchNamesMustBeRegularFilesOfTheFolder) {
    TempDir dir, outside;
    outside.write("target.txt", "keep");
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    fs::create_symlink(outside.path() / "target.txt", dir.path() / "f_15_1.txt");
    ASSERT_EQ(mkfifo((dir.path() / "f_16_1.txt").c_str(), 0600), 0);
    fs::create_directory(dir.path() / "f_11_1.txt");

    for (const char* name : {"f_15_1.txt", "f_16_1.txt", "f_11_1.txt"}) {
        SCOPED_TRACE(name);
        const long before = faults.failures();
        TextWriter out(files, name);
        out.print_text("x");
        EXPECT_FALSE(out.close());
        TextReader in(files, name);
        EXPECT_TRUE(in.at_end());
        EXPECT_EQ(faults.failures(), before + 2);
        EXPECT_NE(faults.last_cause().find(name), std::string::npos) << faults.last_cause();
    }
    EXPECT_EQ(outside.read("target.txt"), "keep");
    EXPECT_FALSE(files.copy(dir.path() / "f_15_1.txt", dir.path() / "c.txt"));
    EXPECT_FALSE(dir.exists("c.txt"));
}

TEST(FileSystem, FoldersOfTheFolderMustNotBeLinks) {
    TempDir dir, outside;
    outside.write("page.htm", "keep");
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    fs::create_directory_symlink(outside.path(), dir.path() / "htm_out");
    std::vector<fs::path> listed;
    EXPECT_FALSE(files.list(dir.path() / "htm_out", listed));
    EXPECT_TRUE(listed.empty());
    EXPECT_NE(faults.last_cause().find("htm_out"), std::string::npos);
    EXPECT_FALSE(files.remove(dir.path() / "htm_out" / "page.htm"));
    EXPECT_EQ(files.open_write(dir.path() / "htm_out" / "new.htm"), nullptr);
    EXPECT_EQ(outside.read("page.htm"), "keep");
    EXPECT_FALSE(outside.exists("new.htm"));
}

ino_t inode(const fs::path& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

// A shared copy is a second name of the source: no bytes copied, and an existing target
// replaced whole or left as it was, never written through (its other names keep the old
// bytes). A refused or failed share changes nothing and leaves no temporary.
TEST(FileSystem, ASharedCopyIsASecondNameWholeOrNotAtAll) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    dir.write("a.htm", "new");
    ASSERT_TRUE(files.share(dir.path() / "a.htm", dir.path() / "fresh.htm"));
    EXPECT_EQ(dir.read("fresh.htm"), "new");
    EXPECT_EQ(inode(dir.path() / "fresh.htm"), inode(dir.path() / "a.htm"));

    dir.write("b.htm", "old");
    fs::create_hard_link(dir.path() / "b.htm", dir.path() / "other.htm");
    ASSERT_TRUE(files.share(dir.path() / "a.htm", dir.path() / "b.htm"));
    EXPECT_EQ(dir.read("b.htm"), "new");
    EXPECT_EQ(dir.read("other.htm"), "old");

    auto left_alone = [&](const char* what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(dir.read("other.htm"), "old");
        std::size_t names = 0;
        for (const auto& entry : fs::directory_iterator(dir.path())) {
            (void)entry;
            ++names;
        }
        EXPECT_EQ(names, 4u) << "a temporary was left behind";  // a, fresh, b, other
    };
    faults.fail_at(1, ENOSPC);
    EXPECT_FALSE(files.share(dir.path() / "a.htm", dir.path() / "other.htm"));
    EXPECT_EQ(faults.last_error(), ENOSPC);
    left_alone("injected failure");
    fs::permissions(dir.path() / "other.htm", fs::perms::owner_read);
    EXPECT_FALSE(files.share(dir.path() / "a.htm", dir.path() / "other.htm"));
    EXPECT_EQ(faults.last_error(), EACCES);
    left_alone("read-only target");
    fs::permissions(dir.path() / "other.htm", fs::perms::owner_all);
    fs::create_symlink(dir.path() / "a.htm", dir.path() / "link.htm");
    EXPECT_FALSE(files.share(dir.path() / "link.htm", dir.path() / "other.htm"));
    fs::remove(dir.path() / "link.htm");
    left_alone("link as the source");
}

// A table the user named may be a link; it is read through it.
// A source of files made ahead, as the export's spares: each given file is made by `make`
// under the asked name, and counted.
class MadeAhead final : public NewFileSource {
  public:
    explicit MadeAhead(std::function<bool(const fs::path&)> make) : make_(std::move(make)) {}
    bool give(const fs::path& path) override {
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0) return false;
        asked.push_back(path.filename().string());
        return make_(path);
    }
    std::vector<std::string> asked;

  private:
    std::function<bool(const fs::path&)> make_;
};

// A new file of the folder is the one given, written as any; a file that exists, or one
// in a folder below, is not asked for; a given file whose open fails is taken away again,
// and the failure is the open's.
TEST(FileSystem, NewFilesOfTheFolderMayBeGivenMadeAhead) {
    TempDir dir;
    FileFaults faults;
    FileSystem files(dir.path(), &faults);
    MadeAhead spares([](const fs::path& path) { return std::ofstream(path).good(); });
    files.use_new_files(&spares);
    dir.write("old.txt", "old bytes\r\n");
    fs::create_directory(dir.path() / "sub");
    for (const char* name : {"new.txt", "old.txt", "sub\\below.txt"}) {
        TextWriter out(files, name);
        out.print_text("fresh");
        EXPECT_TRUE(out.close()) << name;
    }
    EXPECT_EQ(spares.asked, std::vector<std::string>{"new.txt"});
    EXPECT_EQ(dir.read("new.txt"), "fresh\r\n");
    EXPECT_EQ(dir.read("old.txt"), "fresh\r\n");
    EXPECT_EQ(dir.read("sub/below.txt"), "fresh\r\n");

    // A pipe with no reader opens for writing with ENXIO.
    MadeAhead pipes([](const fs::path& path) { return mkfifo(path.c_str(), 0666) == 0; });
    files.use_new_files(&pipes);
    TextWriter out(files, "pipe.txt");
    EXPECT_FALSE(out.close());
    EXPECT_EQ(pipes.asked, std::vector<std::string>{"pipe.txt"});
    EXPECT_EQ(faults.failures(), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.path() / "pipe.txt")));

    // Copies made without a source ask none.
    files.use_new_files(nullptr);
    { TextWriter none(files, "plain.txt"); }
    EXPECT_EQ(pipes.asked.size(), 1u);
    EXPECT_TRUE(fs::exists(dir.path() / "plain.txt"));
}

TEST(FileSystem, ATableMayBeReadThroughALink) {
    TempDir dir, outside;
    outside.write("t.csv", "a;b\r\n");
    fs::create_symlink(outside.path() / "t.csv", dir.path() / "t.csv");
    TextReader in(dir.path(), "t.csv", Links::follow);
    EXPECT_EQ(in.read_line(), "a;b");
}

// ---------------------------------------------------------------- freeing of deleted files

// The process's open descriptors, and how many of them are of deleted files.
struct Descriptors {
    int open = 0, deleted = 0;
};

Descriptors descriptors() {
    Descriptors d;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++d.open;
        std::error_code ec;
        const std::string target = fs::read_symlink(entry.path(), ec).string();
        if (target.ends_with(" (deleted)")) ++d.deleted;
    }
    return d;
}

const std::string& large_bytes() {
    static const std::string bytes(DeletedFiles::kHeldFrom + 4096, 'x');
    return bytes;
}

// A session's file system: large files it removes are freed on the thread.
struct DeletingFolder {
    TempDir dir;
    FileFaults faults;
    DeletedFiles deleted;
    FileSystem files{dir.path(), &faults};
    DeletingFolder() { files.free_on(&deleted); }
    fs::path at(std::string_view name) const { return dir.path() / name; }
    // Several large files, removed: enough handed over that the thread is still at them
    // when the caller goes on.
    void remove_large(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string name = "wrd_" + std::to_string(i) + ".txt";
            dir.write(name, large_bytes());
            ASSERT_TRUE(files.remove(at(name)));
            ASSERT_FALSE(dir.exists(name)) << "the name must go at once";
        }
    }
};

// Whatever the size, a removed name is gone when remove returns; every file is freed by
// the time the session ends, and no descriptor is left behind.
TEST(DeletedFiles, NamesGoAtOnceAndEveryFileIsFreedByTheEnd) {
    const Descriptors before = descriptors();
    {
        DeletingFolder f;
        f.dir.write("small.txt", "a;b\r\n");
        EXPECT_TRUE(f.files.remove(f.at("small.txt")));
        EXPECT_FALSE(f.dir.exists("small.txt"));
        f.remove_large(6);
        EXPECT_TRUE(f.files.remove(f.at("absent.txt")));
        EXPECT_EQ(f.faults.failures(), 0);
    }
    const Descriptors after = descriptors();
    EXPECT_EQ(after.open, before.open);
    EXPECT_EQ(after.deleted, 0);
}

// Anything that may take space waits until the files removed before it are freed, so a
// nearly full disk has the space it had when deletes freed at once.
TEST(DeletedFiles, WhatMayTakeSpaceWaitsForTheFreeing) {
    DeletingFolder f;
    f.dir.write("src.txt", "s");
    const std::vector<std::pair<std::string, std::function<bool()>>> steps = {
        {"open for writing",
         [&] {
             std::FILE* out = f.files.open_write(f.at("new.txt"));
             return out && f.files.close(out, f.at("new.txt"));
         }},
        {"copy", [&] { return f.files.copy(f.at("src.txt"), f.at("copy.txt")); }},
        {"share", [&] { return f.files.share(f.at("src.txt"), f.at("shared.txt")); }},
        {"link", [&] { return f.files.link(f.at("src.txt"), f.at("linked.txt")); }},
        {"rename", [&] { return f.files.rename(f.at("linked.txt"), f.at("renamed.txt")); }},
        {"make folder", [&] { return f.files.make_dir(f.at("htm_out")); }},
        {"replace of a table", [&] { return f.files.allow(FileOp::rename, f.at("t.csv")); }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        f.remove_large(8);
        EXPECT_TRUE(step());
        EXPECT_FALSE(f.deleted.pending());
        EXPECT_EQ(descriptors().deleted, 0);
    }
    EXPECT_EQ(f.faults.failures(), 0);
}

// A remove that fails, injected or real, reports as it did and leaves the file whole,
// without a descriptor left open; a remove after it goes on as usual.
TEST(DeletedFiles, AFailedRemoveReportsAndKeepsTheFile) {
    const Descriptors before = descriptors();
    DeletingFolder f;
    f.dir.write("wrd_06.txt", large_bytes());
    f.faults.fail_at(1, EIO);
    EXPECT_FALSE(f.files.remove(f.at("wrd_06.txt")));
    EXPECT_EQ(f.faults.last_error(), EIO);
    EXPECT_EQ(f.faults.failures(), 1);
    EXPECT_EQ(f.dir.read("wrd_06.txt"), large_bytes());

    // A folder by a file's name: refused by the delete itself.
    fs::create_directory(f.at("f_11_1.txt"));
    EXPECT_FALSE(f.files.remove(f.at("f_11_1.txt")));
    EXPECT_EQ(f.faults.last_error(), EISDIR);
    EXPECT_TRUE(fs::is_directory(f.at("f_11_1.txt")));

    // A folder the delete may not change (not for root, which may).
    fs::permissions(f.dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool refused = !f.files.remove(f.at("wrd_06.txt"));
    fs::permissions(f.dir.path(), fs::perms::owner_all);
    if (refused) {
        EXPECT_EQ(f.faults.last_error(), EACCES);
        EXPECT_EQ(f.dir.read("wrd_06.txt"), large_bytes());
    }
    f.deleted.settle();
    EXPECT_EQ(descriptors().open, before.open);

    EXPECT_TRUE(f.files.remove(f.at("wrd_06.txt")));
    EXPECT_FALSE(f.dir.exists("wrd_06.txt"));
}

// Only the name goes where the file lives on: a second name keeps the bytes, a link's
// target is untouched, and a FIFO by a scratch name is deleted without being opened.
TEST(DeletedFiles, OtherNamesLinkTargetsAndFifosAreLeftAlone) {
    TempDir outside;
    outside.write("target.txt", large_bytes());
    DeletingFolder f;
    f.dir.write("page_1.htm", large_bytes());
    ASSERT_TRUE(f.files.link(f.at("page_1.htm"), f.at("kept.htm")));
    fs::create_symlink(outside.path() / "target.txt", f.at("f_15_1.txt"));
    ASSERT_EQ(mkfifo(f.at("f_16_1.txt").c_str(), 0600), 0);

    for (const char* name : {"page_1.htm", "f_15_1.txt", "f_16_1.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(f.files.remove(f.at(name)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(f.at(name))));
    }
    f.deleted.settle();
    EXPECT_EQ(f.dir.read("kept.htm"), large_bytes());
    EXPECT_EQ(outside.read("target.txt"), large_bytes());
    EXPECT_EQ(f.faults.failures(), 0);
}

// Removes from two threads at once (a write-behind thread beside the main one) hand over
// and free every file.
TEST(DeletedFiles, RemovesFromTwoThreadsAreAllFreed) {
    const Descriptors before = descriptors();
    {
        DeletingFolder f;
        for (int i = 0; i < 16; ++i) f.dir.write("f_" + std::to_string(i) + ".txt", large_bytes());
        auto remove_half = [&](int first) {
            for (int i = first; i < 16; i += 2)
                EXPECT_TRUE(f.files.remove(f.at("f_" + std::to_string(i) + ".txt")));
        };
        std::thread other(remove_half, 1);
        remove_half(0);
        other.join();
        EXPECT_TRUE(fs::is_empty(f.dir.path()));
    }
    EXPECT_EQ(descriptors().open, before.open);
}

}  // namespace
}  // namespace rowkeep::testing
