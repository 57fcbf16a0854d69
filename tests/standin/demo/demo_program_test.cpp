#include <brisalune/client/accounts/endpoints.hpp>
#include <brisalune/client/core/client.hpp>

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace brisalune::demo {
namespace {

// The program, started with `arguments`, its standard output and errors on one pipe.
class Program {
public:
    explicit Program(std::vector<std::string> arguments) {
        int pipe[2];
        if (::pipe(pipe) != 0) throw std::runtime_error("no pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, pipe[1], STDERR_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipe[0]);
        arguments.insert(arguments.begin(), "brisalune-demo");
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int failed = posix_spawn(&pid_, BRISALUNE_DEMO_PROGRAM, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipe[1]);
        output_ = ::fdopen(pipe[0], "r");
        if (failed != 0) throw std::runtime_error("cannot start the demo program");
    }
    ~Program() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            exitStatus();
        }
        std::fclose(output_);
    }

    // The next line of output without its line break; none at the end.
    std::optional<std::string> line() {
        char* text = nullptr;
        std::size_t size = 0;
        const auto length = ::getline(&text, &size, output_);
        std::optional<std::string> result;
        if (length >= 0) result.emplace(text, static_cast<std::size_t>(length) - (text[length - 1] == '\n' ? 1 : 0));
        std::free(text);
        return result;
    }

    void signal(int number) const { ::kill(pid_, number); }

    // Waits for the program to end: its exit code, or -1 when a signal ended it.
    int exitStatus() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t pid_ = -1;
    FILE* output_ = nullptr;
};

const std::vector<std::string> anyPorts{"--port", "0", "--box-port", "0", "--web-port", "0", "--new-alert-every", "0"};

// What the program printed before it served, label → value, and whether it serves.
struct Welcome {
    std::map<std::string, std::string> printed;
    std::vector<std::string> others;  // the lines without a label
    bool serving = false;
};

Welcome welcome(Program& demo) {
    Welcome read;
    for (auto line = demo.line(); line && !(read.serving = line->starts_with("Serving")); line = demo.line()) {
        if (line->starts_with("  ")) {
            read.printed[line->substr(2, 18)] = line->substr(20);
        } else {
            read.others.push_back(*line);
        }
    }
    return read;
}

TEST(DemoProgram, PrintsWhereItServesAndStopsCleanlyOnSigterm) {
    Program demo(anyPorts);
    auto printed = welcome(demo).printed;
    const auto hosted = printed["hosted service    "];
    ASSERT_TRUE(hosted.starts_with("http://127.0.0.1:")) << hosted;
    const auto signIn = printed["sign in           "];
    const auto slash = signIn.find(" / ");
    ASSERT_NE(slash, std::string::npos) << signIn;

    const BrisaluneClient client(*platform::Url::parse(hosted));
    EXPECT_EQ(healthz(client).role, "hosted");
    EXPECT_NO_THROW(login(client, signIn.substr(0, slash), signIn.substr(slash + 3)));
    EXPECT_FALSE(printed["box join code     "].empty());
    const auto web = printed["web site          "];
    EXPECT_TRUE(web.starts_with("http://127.0.0.1:") && web != hosted) << web;
    EXPECT_TRUE(printed["update manifest   "].starts_with(web + "/")) << printed["update manifest   "];

    demo.signal(SIGTERM);
    EXPECT_EQ(demo.exitStatus(), 0);
}

// A second demo on a port the first holds would share its connections with it.
TEST(DemoProgram, RefusesToStartOnAPortAnotherProgramHolds) {
    Program first(anyPorts);
    auto printed = welcome(first).printed;
    const std::pair<std::string, std::string> taken[] = {
        {"--port", printed["hosted service    "]},
        {"--box-port", printed["self-hosted box   "]},
        {"--web-port", printed["web site          "]}};
    for (const auto& [option, url] : taken) {
        SCOPED_TRACE(option + " " + url);
        const std::string port = url.substr(url.rfind(':') + 1);
        auto arguments = anyPorts;
        *(std::ranges::find(arguments, option) + 1) = port;
        Program second(arguments);
        const auto said = welcome(second);
        EXPECT_FALSE(said.serving);
        if (said.serving) second.signal(SIGTERM);
        EXPECT_EQ(second.exitStatus(), 1);
        ASSERT_FALSE(said.others.empty());
        EXPECT_EQ(said.others.back(), "brisalune-demo: port " + port + " is already in use on 127.0.0.1");
    }
}

TEST(DemoProgram, RefusesOptionsItCannotUse) {
    EXPECT_EQ(Program({"--port", "eighty"}).exitStatus(), 2);
    EXPECT_EQ(Program({"--new-alert-every"}).exitStatus(), 2);
    EXPECT_EQ(Program({"--web-port", "65536"}).exitStatus(), 2);
    EXPECT_EQ(
        Program({"--fixture", "/nonexistent/fixture.json", "--port", "0", "--box-port", "0", "--web-port", "0"})
            .exitStatus(),
        1);
}

}  // namespace
}  // namespace brisalune::demo
