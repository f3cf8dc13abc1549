// The desktop's monitors as a real X server reports them: each scenario starts
// its own Xvfb on a free display number and defines the monitors with
// `xrandr --setmonitor`.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/platform/devices.h"
#include "common/presence.h"
#include "support/tempFolder.h"

extern char** environ;

using namespace quilo;

namespace {

// Sets an environment variable for the life of the object (unsets it for
// nullopt) and restores the previous state afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Starts a program found on PATH with its output appended to `log`; the
// process id, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

std::string ReadText(const std::string& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// An Xvfb of its own. The server picks a free display number and reports it
// on a pipe once it accepts connections (-displayfd); -noreset keeps the
// monitors defined by one client after that client disconnects. The server
// is told to end with the thread that started it, so a crashed test leaves
// no server behind.
class XvfbServer {
public:
    XvfbServer() : log_((folder_ / "x.log").string()) {
        int fds[2];
        if (pipe(fds) != 0) {
            error_ = std::strerror(errno);
            return;
        }
        const std::string writeEnd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",      "-displayfd", writeEnd.c_str(), "-screen", "0", "3840x1200x24",
                              "-nolisten", "tcp",        "-noreset",       nullptr};
        const pid_t parent = getpid();
        pid_ = fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls until exec.
            if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
            const int log = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (log < 0 || dup2(log, STDOUT_FILENO) < 0 || dup2(log, STDERR_FILENO) < 0) _exit(127);
            close(fds[0]);
            execvp(argv[0], const_cast<char* const*>(argv));
            _exit(127);
        }
        close(fds[1]);
        if (pid_ < 0) error_ = std::strerror(errno);
        if (pid_ > 0) display_ = ReadDisplayNumber(fds[0]);
        close(fds[0]);
        if (display_.empty() && pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            if (error_.empty())
                error_ = WIFEXITED(status) && WEXITSTATUS(status) == 127
                             ? "Xvfb cannot be run (package xvfb)"
                             : "Xvfb reported no display: " + ReadText(log_);
        }
    }
    ~XvfbServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":<n>" once running; empty when the server could not be started.
    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }

    // Runs `xrandr --display <display> <args...>` to its end; its exit code,
    // or -1 when it could not be run.
    int Xrandr(const std::vector<std::string>& args) {
        std::vector<std::string> all{"xrandr", "--display", display_};
        all.insert(all.end(), args.begin(), args.end());
        const pid_t pid = Spawn(all, log_);
        if (pid <= 0) return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }
    std::string Log() const { return ReadText(log_); }

private:
    // The server writes "<n>\n"; end of file means it gave up.
    std::string ReadDisplayNumber(int fd) {
        std::string number;
        for (;;) {
            pollfd waiting{fd, POLLIN, 0};
            if (poll(&waiting, 1, 60000) <= 0) {
                error_ = "Xvfb did not report a display within a minute";
                return {};
            }
            char c = 0;
            const ssize_t n = read(fd, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return {};
            if (c == '\n') return number.empty() ? std::string() : ":" + number;
            number.push_back(c);
        }
    }

    test::TempFolder folder_;
    std::string log_;
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

struct Corner {
    bool found;
    int x;
    int y;
};

Corner NonPrimaryCorner() {
    Corner corner{false, 123, 456};  // stale values the call must overwrite
    corner.found = GetNonPrimaryDisplayTopLeftCoordinate(corner.x, corner.y);
    return corner;
}

::testing::Matcher<os::DesktopMonitor> IsMonitor(int left, int top, int right, int bottom, bool primary) {
    using ::testing::AllOf;
    using ::testing::Field;
    return AllOf(Field(&os::DesktopMonitor::left, left), Field(&os::DesktopMonitor::top, top),
                 Field(&os::DesktopMonitor::right, right), Field(&os::DesktopMonitor::bottom, bottom),
                 Field(&os::DesktopMonitor::primary, primary));
}

class DesktopMonitors : public ::testing::Test {
protected:
    void SetUp() override {
        if (server_.display().empty()) {
            // CI sets QUILO_REQUIRE_X_SERVER=1 so that these scenarios cannot go unrun.
            const char* required = std::getenv("QUILO_REQUIRE_X_SERVER");
            if (required && std::string(required) == "1")
                FAIL() << "QUILO_REQUIRE_X_SERVER=1, but Xvfb did not start: " << server_.error();
            GTEST_SKIP() << "no X server could be started: " << server_.error();
        }
        display_.emplace("DISPLAY", server_.display());
    }

    // Adds a monitor "name" ("*name" for the primary) of width x height at
    // (x, y), covering `output` ("none" for no output).
    void SetMonitor(const std::string& name, int width, int height, int x, int y, const std::string& output) {
        const std::string geometry = std::to_string(width) + "/300x" + std::to_string(height) + "/200+" +
                                     std::to_string(x) + "+" + std::to_string(y);
        ASSERT_EQ(server_.Xrandr({"--setmonitor", name, geometry, output}), 0) << server_.Log();
    }

    XvfbServer server_;
    std::optional<ScopedEnv> display_;
};

TEST_F(DesktopMonitors, OneMonitorGivesFalseAndTheOrigin) {
    EXPECT_THAT(os::ListDesktopMonitors(), ::testing::ElementsAre(IsMonitor(0, 0, 3840, 1200, false)));
    Corner corner = NonPrimaryCorner();
    EXPECT_FALSE(corner.found);
    EXPECT_EQ(corner.x, 0);
    EXPECT_EQ(corner.y, 0);
}

TEST_F(DesktopMonitors, ASecondaryLeftOfThePrimaryHasANegativeX) {
    // The secondary is defined first; the server lists the primary first.
    SetMonitor("left", 1280, 1024, -1280, 100, "none");
    SetMonitor("*main", 1920, 1080, 0, 0, "screen");
    EXPECT_THAT(os::ListDesktopMonitors(),
                ::testing::ElementsAre(IsMonitor(0, 0, 1920, 1080, true), IsMonitor(-1280, 100, 0, 1124, false)));
    Corner corner = NonPrimaryCorner();
    EXPECT_TRUE(corner.found);
    EXPECT_EQ(corner.x, -1280);
    EXPECT_EQ(corner.y, 100);
}

TEST_F(DesktopMonitors, TheFirstListedSecondaryIsTaken) {
    SetMonitor("*main", 1920, 1080, 0, 0, "screen");
    SetMonitor("right", 1920, 1200, 1920, 0, "none");
    SetMonitor("left", 1280, 1024, -1280, 0, "none");
    Corner corner = NonPrimaryCorner();
    EXPECT_TRUE(corner.found);
    EXPECT_EQ(corner.x, 1920);
    EXPECT_EQ(corner.y, 0);
}

TEST_F(DesktopMonitors, WithoutAPrimaryTheFirstListedMonitorIsTaken) {
    SetMonitor("right", 1920, 1200, 1920, 0, "none");
    SetMonitor("main", 1920, 1080, 0, 0, "screen");
    EXPECT_THAT(os::ListDesktopMonitors(),
                ::testing::ElementsAre(IsMonitor(1920, 0, 3840, 1200, false), IsMonitor(0, 0, 1920, 1080, false)));
    Corner corner = NonPrimaryCorner();
    EXPECT_TRUE(corner.found);
    EXPECT_EQ(corner.x, 1920);
    EXPECT_EQ(corner.y, 0);
}

TEST_F(DesktopMonitors, ThreadsAskAtTheSameTime) {
    SetMonitor("*main", 1920, 1080, 0, 0, "screen");
    SetMonitor("left", 1280, 1024, -1280, 0, "none");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&wrong] {
            for (int i = 0; i < 10; ++i) {
                Corner corner = NonPrimaryCorner();
                if (!corner.found || corner.x != -1280 || corner.y != 0) ++wrong;
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(DesktopWithoutServer, NoReachableDisplayReadsAsOneMonitor) {
    for (const std::optional<std::string>& display :
         {std::optional<std::string>{}, std::optional<std::string>{":65530"}}) {
        ScopedEnv env("DISPLAY", display);
        EXPECT_TRUE(os::ListDesktopMonitors().empty());
        Corner corner = NonPrimaryCorner();
        EXPECT_FALSE(corner.found);
        EXPECT_EQ(corner.x, 0);
        EXPECT_EQ(corner.y, 0);
    }
}

}  // namespace
