// brisalune-demo: the demo service on loopback, for trying the app without an account.
//
//     brisalune-demo [--port N] [--box-port N] [--web-port N] [--fixture path] [--new-alert-every SECONDS]
//
// Prints where it listens and how to sign in, then serves until SIGINT or SIGTERM.

#include <brisalune/demo/demo_service.hpp>
#include <brisalune/demo/fixture.hpp>

#include <pthread.h>
#include <signal.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

namespace {

using namespace brisalune::demo;

constexpr int defaultHostedPort = 8787;
constexpr int defaultBoxPort = 8788;
constexpr int defaultWebPort = 8789;
constexpr long long defaultNewAlertEvery = 60;

struct Arguments {
    int hostedPort = defaultHostedPort;
    int boxPort = defaultBoxPort;
    int webPort = defaultWebPort;
    std::filesystem::path fixture = defaultFixturePath();
    long long newAlertEvery = defaultNewAlertEvery;
};

constexpr std::string_view usage =
    "usage: brisalune-demo [--port N] [--box-port N] [--web-port N] [--fixture path] [--new-alert-every SECONDS]\n"
    "  --port N                 the hosted service's port (default 8787; 0: any free port)\n"
    "  --box-port N             the self-hosted box's port (default 8788; 0: any free port)\n"
    "  --web-port N             the web site's port: portal pages, release manifest, download page\n"
    "                           (default 8789; 0: any free port)\n"
    "  --fixture path           the accounts, teams and alerts to start from\n"
    "  --new-alert-every S      seconds between new alerts (default 60; 0: none)\n";

std::optional<long long> number(std::string_view text, long long lowest, long long highest) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

// None after telling what is wrong.
std::optional<Arguments> parse(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << usage;
            std::exit(0);
        }
        if (i + 1 == argc) {
            std::cerr << "brisalune-demo: " << option << " needs a value\n" << usage;
            return std::nullopt;
        }
        const std::string_view value = argv[++i];
        std::optional<long long> parsed;
        if (option == "--port" && (parsed = number(value, 0, 65535))) {
            arguments.hostedPort = static_cast<int>(*parsed);
        } else if (option == "--box-port" && (parsed = number(value, 0, 65535))) {
            arguments.boxPort = static_cast<int>(*parsed);
        } else if (option == "--web-port" && (parsed = number(value, 0, 65535))) {
            arguments.webPort = static_cast<int>(*parsed);
        } else if (option == "--new-alert-every" && (parsed = number(value, 0, 86400 * 365))) {
            arguments.newAlertEvery = *parsed;
        } else if (option == "--fixture") {
            arguments.fixture = value;
        } else {
            std::cerr << "brisalune-demo: cannot use " << option << " " << value << "\n" << usage;
            return std::nullopt;
        }
    }
    return arguments;
}

void printWelcome(const DemoService& demo, const Arguments& arguments) {
    const auto& fixture = demo.fixture();
    std::cout << "Brisalune demo service\n"
              << "  hosted service    " << demo.hostedUrl() << "\n"
              << "  self-hosted box   " << demo.boxUrl() << "\n"
              << "  web site          " << demo.webUrl() << "\n"
              << "  update manifest   " << demo.manifestUrl() << "\n";
    for (const auto& account : fixture.hosted.accounts) {
        std::cout << "  sign in           " << account.email << " / " << account.password << "\n";
    }
    for (const auto& account : fixture.box.accounts) {
        std::cout << "  box sign-in       " << account.email << " / " << account.password << "\n";
    }
    std::cout << "  box join code     " << demo.joinCode() << "\n";
    if (arguments.newAlertEvery > 0) {
        std::cout << "  a new alert every " << arguments.newAlertEvery << " s\n";
    }
    std::cout << "Serving until interrupted (Ctrl-C)." << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
    const auto arguments = parse(argc, argv);
    if (!arguments) return 2;

    // Every thread started from here on leaves the two signals to the wait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    try {
        const DemoOptions options{
            .hostedPort = arguments->hostedPort,
            .boxPort = arguments->boxPort,
            .newAlertEvery = std::chrono::seconds(arguments->newAlertEvery),
            .webPort = arguments->webPort};
        DemoService demo(loadFixture(arguments->fixture), options);
        printWelcome(demo, *arguments);
        int received = 0;
        sigwait(&stopSignals, &received);
        std::cout << "Stopping." << std::endl;
    } catch (const std::exception& error) {
        std::cerr << "brisalune-demo: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
