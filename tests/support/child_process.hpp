#pragma once

// This test program run again as a child process that does one job: the test named by the
// filter, with extra environment variables that tell it what to do. The parent kills it with
// SIGKILL at the worst moment, as a crash or a power cut would, and looks at what is left. The
// child dies with the thread that started it: start it from the test's own thread.

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
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

        const pid_t parent = ::getpid();
        pid_ = ::fork();
        if (pid_ == 0) {  // only what is safe between fork and exec
            // A process group of its own: when the command that started the tests returns first,
            // the kernel hangs up every stopped member of the group it leaves without a parent,
            // and a test that stopped this child would find it gone. So the group's signals (a
            // Ctrl-C, a timeout) miss it: it ends when this thread does, however that ends.
            ::setpgid(0, 0);
            if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            ::execve(program.c_str(), argv, envp.data());
            ::_exit(127);
        }
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
