#include "startup/start_program.h"

#include <gtest/gtest.h>

#include "console/program_names.h"
#include "harness.h"

namespace rowkeep::testing {
namespace {

TEST(ProgramNames, DerivedFromTheSourceName) {
    auto with = derive_program_names("rowkeep_www.example.org.bas");
    EXPECT_EQ(with.program_file_name, "rowkeep_www.example.org.exe");
    EXPECT_EQ(with.sponsor_address, "www.example.org");
    auto without = derive_program_names("rowkeep_example.org.bas");
    EXPECT_EQ(without.program_file_name, "rowkeep_example.org.exe");
    EXPECT_EQ(without.sponsor_address, "");
}

TEST(StartProgram, WholeStartToMainMenuEnd) {
    TempDir dir;
    RunResult r = run_program(dir.path(), "11238");
    EXPECT_FALSE(r.input_ended);
    auto lines = screen_lines(r.screen);
    ASSERT_GE(lines.size(), 40u);
    EXPECT_EQ(lines[0], "www.example.org");
    EXPECT_EQ(lines[1], std::string(58, '='));
    EXPECT_EQ(lines.back(), "End");
    EXPECT_NE(r.screen.find("Windows code page = Windows-1250\r\n\r\n----"), std::string::npos);
    ASSERT_GE(r.commands.size(), 2u);
    EXPECT_EQ(r.commands[0], "chcp 1250");
    EXPECT_EQ(r.commands[1], "chcp 1250");
}

TEST(StartProgram, TermsRefusedEndsAtOnce) {
    TempDir dir;
    RunResult r = run_program(dir.path(), "x2");
    EXPECT_FALSE(r.input_ended);
    EXPECT_EQ(r.screen.find("PROGRAM MUST BE INSTALLED"), std::string::npos);
    EXPECT_EQ(r.screen.find("End"), std::string::npos);
}

TEST(StartProgram, StepsPastTenEntriesAndChoosesLater) {
    TempDir dir;
    RunResult r = run_program(dir.path(),
                              "112xxxxxxxxxxx223"
                              "8");
    auto lines = screen_lines(r.screen);
    EXPECT_NE(r.screen.find("Windows code page = Windows-1251"), std::string::npos);
    EXPECT_EQ(r.commands.back(), "chcp 1251");
}

TEST(StartProgram, InputEndEndsTheProgram) {
    TempDir dir;
    RunResult r = run_program(dir.path(), "11");
    EXPECT_TRUE(r.input_ended);
}

}  // namespace
}  // namespace rowkeep::testing
