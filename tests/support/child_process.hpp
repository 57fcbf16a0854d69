#pragma once

// This test program run again as a child process that does one job: the test named by the
// filter, with extra environment variables that tell it what to do. The parent kills it with
// SIGKILL at the worst moment, as a crash or a power cut would, and looks at what is left.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace brisalune::testkit {

class ChildProcess {
public:
    // `filter` is a gtest filter; each variable is "NAME=value".
    ChildProcess(const std::string& filter, const std::vector<std::string>& variables) {
        std::vector<std::string> environment = variables;
        for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);

        std::string program = "/proc/self/exe";  // even when a rebuild has replaced the file meanwhile
        std::string filterArgument = "--gtest_filter=" + filter;
        char* argv[] = {program.data(), filterArgument.data(), nullptr};

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        // A process group of its own: when the command that started the tests returns first, the
        // kernel hangs up every stopped member of the group it leaves without a parent, and a test
        // that stopped this child would find it gone.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv, envp.data()) != 0) pid_ = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() { killed(); }

    bool spawned() const { return pid_ > 0; }

    // Kills it now; true when the kill, not an exit, ended it.
    bool killed() {
        if (pid_ <= 0) return false;
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    }

    // Waits for it to end by itself; true when it exited with status 0.
    bool succeeded() {
        if (pid_ <= 0) return false;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }

private:
    pid_t pid_ = -1;
};

}  // namespace brisalune::testkit
