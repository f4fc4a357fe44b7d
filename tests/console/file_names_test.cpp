// File names between the code page and a UTF-8 locale: the lookup, the listings and the
// interpreter's commands.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness.h"

namespace rowkeep::testing {
namespace {

// "Wydatki Łódź.csv" and "ceník kopie.csv" in UTF-8, and as Windows-1250 shows them.
const std::string kPolishUtf8 =
    "Wydatki \xC5\x81\xC3\xB3"
    "d\xC5\xBA.csv";
const std::string kPolish1250 =
    "Wydatki \xA3\xF3"
    "d\x9F.csv";
const std::string kCzechUtf8 = "cen\xC3\xADk kopie.csv";
const std::string kCzech1250 = "cen\xEDk kopie.csv";
// "ceñik.csv": Windows-1250 has no ñ, Windows-1252 has it at F1.
const std::string kSpanishUtf8 = "ce\xC3\xB1ik.csv";

Options utf8_locale() {
    Options o;
    o.locale_charset = "UTF-8";
    return o;
}

std::vector<std::string> names_in(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileNames, TypedNamesGoToTheDiskInUtf8AndComeBackInTheCodePage) {
    TempDir d;
    TestSession t(d.path(), "", utf8_locale());
    const FileSystem& files = t.session.files;
    // A new name is made in UTF-8; an existing one is found ignoring the case of A to Z.
    EXPECT_EQ(files.resolve(kCzech1250), d.path() / kCzechUtf8);
    d.write("CEN\xC3\xADK KOPIE.csv", "x");
    EXPECT_EQ(files.resolve(kCzech1250), d.path() / "CEN\xC3\xADK KOPIE.csv");
    EXPECT_EQ(files.resolve("htm_in\\" + kPolish1250), d.path() / "htm_in" / kPolishUtf8);
    EXPECT_EQ(files.listed_name(d.path() / kPolishUtf8), kPolish1250);
    EXPECT_EQ(files.disk_name(kPolish1250), kPolishUtf8);

    // A letter the page lacks lists as "?", and the listed name still finds the file.
    d.write(kSpanishUtf8, "s");
    EXPECT_EQ(files.listed_name(d.path() / kSpanishUtf8), "ce?ik.csv");
    EXPECT_EQ(files.resolve("CE?IK.csv"), d.path() / kSpanishUtf8);
    // A name that is not UTF-8 at all lists with "?" too, and is found the same way.
    d.write("old\xE9.csv", "o");
    EXPECT_EQ(files.listed_name(d.path() / "old\xE9.csv"), "old?.csv");
    EXPECT_EQ(files.resolve("old?.csv"), d.path() / "old\xE9.csv");

    // The names follow the code page as it changes.
    t.session.shell.run_command("chcp 1252");
    EXPECT_EQ(files.listed_name(d.path() / kSpanishUtf8), "ce\xF1ik.csv");
    EXPECT_EQ(files.resolve("ce\xF1ik.csv"), d.path() / kSpanishUtf8);
    t.session.shell.run_command("chcp 65001");
    EXPECT_EQ(files.listed_name(d.path() / kSpanishUtf8), kSpanishUtf8);
    EXPECT_EQ(files.resolve(kCzechUtf8), d.path() / "CEN\xC3\xADK KOPIE.csv");
}

TEST(FileNames, OutsideAUtf8LocaleNamesPassAsBytes) {
    TempDir d;
    for (const char* charset : {"", "ISO-8859-2"}) {
        Options o;
        o.locale_charset = charset;
        TestSession t(d.path(), "", o);
        EXPECT_EQ(t.session.files.resolve(kCzech1250), d.path() / kCzech1250) << charset;
        EXPECT_EQ(t.session.files.listed_name(d.path() / kPolishUtf8), kPolishUtf8) << charset;
    }
}

TEST(FileNames, InterpreterListsCopiesRenamesAndDeletesByTheCodePageNames) {
    TempDir d;
    d.write(kPolishUtf8, "k\r\n");
    d.write("b.csv", "b\r\n");
    d.write(kSpanishUtf8, "s\r\n");
    TestSession t(d.path(), "", utf8_locale());
    Shell& shell = t.session.shell;

    // The listing file holds the names in the code page, sorted as it shows them.
    shell.run_command("dir /b *.csv > dir_1.txt");
    EXPECT_EQ(d.read("dir_1.txt"), "b.csv\r\nce?ik.csv\r\n" + kPolish1250 + "\r\n");

    shell.run_command("copy " + command_name(kPolish1250) + " " + command_name(kCzech1250));
    EXPECT_EQ(d.read(kCzechUtf8), "k\r\n");
    // Into a folder under the name the disk gives it, not converted a second time.
    shell.run_command("md htm_in");
    shell.run_command("copy " + command_name(kCzech1250) + " htm_in\\");
    shell.run_command("copy " + command_name("ce?ik.csv") + " htm_in\\");
    EXPECT_EQ(names_in(d.path() / "htm_in"), (std::vector<std::string>{kCzechUtf8, kSpanishUtf8}));
    shell.run_command("rename " + command_name("htm_in\\" + kCzech1250) + " p\xF8\xEDloha.csv");
    EXPECT_TRUE(d.exists("htm_in/p\xC5\x99\xC3\xADloha.csv"));

    // The full listing names the folder and the files in the code page too.
    shell.run_command("dir htm_in > dir_2.txt");
    const std::string full = d.read("dir_2.txt");
    EXPECT_NE(full.find(" ce?ik.csv\r\n"), std::string::npos) << full;
    EXPECT_NE(full.find(" p\xF8\xEDloha.csv\r\n"), std::string::npos) << full;

    shell.run_command("del /q " + command_name(kCzech1250));
    shell.run_command("del /q " + command_name("htm_in\\ce?ik.csv"));
    EXPECT_FALSE(d.exists(kCzechUtf8));
    EXPECT_EQ(names_in(d.path() / "htm_in"),
              (std::vector<std::string>{"p\xC5\x99\xC3\xADloha.csv"}));
    // No name anywhere was written in the code page's bytes.
    for (const auto& entry : fs::recursive_directory_iterator(d.path()))
        EXPECT_EQ(entry.path().filename().string().find_first_of("\xA3\xED\x9F\xF8"),
                  std::string::npos)
            << entry.path();
}

}  // namespace
}  // namespace rowkeep::testing
