// A program the tests start and talk to: its standard output read line by
// line with a deadline, its standard error kept, ended with SIGTERM, and
// killed and reaped when the object goes.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace quilo::test {

class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, err[0]);
        std::vector<std::string> all{program};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (failed != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " + program);
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(out_);
        close(err_);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The first line of standard output that matches `pattern` (whose
    // groups land in `match`), read within `timeout`; false when the output
    // ends or the time is up first.
    bool WaitForLine(const std::regex& pattern, std::smatch* match, std::chrono::seconds timeout) {
        return WaitForLineOn(out_, &buffer_, &output_, pattern, match, timeout);
    }
    // The same for standard error, whose lines are kept in errors().
    bool WaitForErrorLine(const std::regex& pattern, std::smatch* match, std::chrono::seconds timeout) {
        return WaitForLineOn(err_, &errorBuffer_, &errors_, pattern, match, timeout);
    }

    void Terminate() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }

    // The exit code once the program ends within `timeout` (-1 when a
    // signal ended it); nothing when it is still running then. Reads the
    // rest of its output meanwhile, so a full pipe does not stall it.
    std::optional<int> Wait(std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                pid_ = -1;
                while (ReadSome(out_, &output_, std::chrono::steady_clock::now())) {
                }
                while (ReadSome(err_, &errors_, std::chrono::steady_clock::now())) {
                }
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            std::string ignored;
            const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
            if (!ReadSome(out_, &output_, soon)) ReadSome(err_, &errors_, soon);
            else ReadSome(err_, &errors_, std::chrono::steady_clock::now());
        }
    }

    const std::string& output() const { return output_; }
    const std::string& errors() const { return errors_; }

private:
    bool WaitForLineOn(int fd, std::string* buffer, std::string* kept, const std::regex& pattern, std::smatch* match,
                       std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            size_t end;
            while ((end = buffer->find('\n')) != std::string::npos) {
                line_ = buffer->substr(0, end);
                buffer->erase(0, end + 1);
                *kept += line_ + "\n";
                if (std::regex_search(line_, *match, pattern)) return true;
            }
            if (!ReadSome(fd, buffer, deadline)) return false;
        }
    }

    // Appends what `fd` has by `deadline`; false at its end or when nothing came.
    static bool ReadSome(int fd, std::string* into, std::chrono::steady_clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0) return false;
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return false;
        into->append(chunk, static_cast<size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    std::string buffer_, errorBuffer_, line_, output_, errors_;
};

}  // namespace quilo::test
