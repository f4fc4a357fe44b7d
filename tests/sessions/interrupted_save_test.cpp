// The real program killed (SIGKILL) at random moments while it saves a large table: the
// table file is afterwards either the old one or the new one, whole, every time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "console/table_file.h"
#include "harness.h"
#include "viewer/sort_engine.h"

namespace rowkeep::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Under the sanitizers a run takes seconds, and what is tested here is the order of the file
// steps, not memory: a few kills show that the sanitized program gets there too.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kKills = 4;
#else
constexpr int kKills = 20;
#endif

// The real binary in dir, keys through a pipe, its screen through another.
class Program {
  public:
    explicit Program(const fs::path& dir) {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            int null = open("/dev/null", O_WRONLY);
            dup2(null, 2);
            close(in[1]);
            close(out[0]);
            if (chdir(dir.c_str()) != 0) _exit(127);
            setenv("LC_ALL", "C", 1);
            setenv("COLUMNS", "80", 1);
            setenv("LINES", "25", 1);
            execl(ROWKEEP_BINARY, ROWKEEP_BINARY, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        keys_ = in[1];
        screen_ = out[0];
        fcntl(screen_, F_SETFL, O_NONBLOCK);
    }
    ~Program() {
        kill_now();
        if (keys_ >= 0) close(keys_);
        if (screen_ >= 0) close(screen_);
    }
    bool started() const { return pid_ > 0; }
    void type(std::string_view keys) {
        if (write(keys_, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
            ADD_FAILURE();
    }
    // Reads the screen until the text appears after the bytes already seen; false at the
    // end of the output or after a generous limit (a hang, not a measurement): a loaded
    // machine took over two minutes for the first save, so the limit stays under ctest's.
    bool wait_for(std::string_view text) {
        const std::size_t from = seen_;
        const auto give_up = Clock::now() + std::chrono::seconds(280);
        while (Clock::now() < give_up) {
            if (output_.find(text, from) != std::string::npos) {
                seen_ = output_.find(text, from) + text.size();
                return true;
            }
            pollfd p{screen_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char buffer[65536];
            ssize_t n = read(screen_, buffer, sizeof buffer);
            if (n == 0) return false;
            if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
        }
        return false;
    }
    void kill_now() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int keys_ = -1, screen_ = -1;
    std::string output_;
    std::size_t seen_ = 0;
};

// Old table: LF line ends; the program writes CR LF, so the new file differs from the old
// in every line and a mixture of both cannot pass for either.
std::string big_table(std::string_view line_end) {
    std::string t = std::string("id;name;amount;note") + std::string(line_end);
    for (int i = 1; i <= 40000; ++i)
        t += std::to_string(i) + ";name " + std::to_string(i * 7919 % 100000) + ";" +
             std::to_string(i % 977) + ",5;some note text" + std::string(line_end);
    return t;
}

constexpr std::string_view kSaveMenu = "<1> or <Enter> save table (*.csv, *.htm)";
constexpr std::string_view kSaved = "copy/save ========== big.csv";

// Starts the program on the old table and brings it to the save menu.
bool to_save_menu(Program& program) {
    if (!program.started()) return false;
    program.type(std::string(kStartKeys) +
                 "1"
                 "31\n"
                 "9"
                 "9");
    return program.wait_for(kSaveMenu);
}

TEST(InterruptedSave, KilledDuringSaveLeavesOldOrNewWhole) {
    const std::string old_table = big_table("\n");
    const std::string new_table = big_table("\r\n");

    // One save to its end gives the new file and how long writing the table takes here;
    // the kills fall in that time.
    Clock::duration save_time;
    {
        TempDir dir;
        dir.write("big.csv", old_table);
        Program program(dir.path());
        ASSERT_TRUE(to_save_menu(program));
        auto begun = Clock::now();
        program.type("1");
        ASSERT_TRUE(program.wait_for(kSaved));
        save_time = Clock::now() - begun;  // the table file is written when the summary shows
        ASSERT_TRUE(program.wait_for("Any key to continue, end program"));
        program.kill_now();
        ASSERT_EQ(dir.read("big.csv"), new_table);
    }

    std::mt19937 random(20);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(save_time).count();
    int old_seen = 0, new_seen = 0;
    for (int run = 0; run < kKills; ++run) {
        TempDir dir;
        dir.write("big.csv", old_table);
        Program program(dir.path());
        ASSERT_TRUE(to_save_menu(program));
        auto delay =
            std::chrono::microseconds(std::uniform_int_distribution<long long>(0, span)(random));
        program.type("1");
        std::this_thread::sleep_for(delay);
        program.kill_now();
        std::string after = dir.read("big.csv");
        bool is_old = after == old_table, is_new = after == new_table;
        EXPECT_TRUE(is_old || is_new) << "run " << run << " killed after " << delay.count()
                                      << " us: table of " << after.size() << " bytes is neither";
        old_seen += is_old;
        new_seen += is_new;
    }
    std::printf(
        "killed %d saves (the table is written in %lld us): old table %d times, new table %d "
        "times\n",
        kKills, static_cast<long long>(span), old_seen, new_seen);
}

}  // namespace
}  // namespace rowkeep::testing
