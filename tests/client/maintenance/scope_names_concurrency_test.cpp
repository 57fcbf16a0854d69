#include <brisalune/client/maintenance/scope_names.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <unordered_set>

namespace brisalune {
namespace {

using standin::Reply;

const std::string checks = "/v1/projects/web/checks";
const std::string sources = "/v1/projects/web/sources";
const std::string rules = "/v1/projects/web/rules";

std::string check(std::string name) {
    return R"({"name":")" + name + R"(","addon":"http","interval_seconds":30,"created_at":7})";
}
std::string source(std::string name) { return R"({"name":")" + name + R"(","retain_logs":false,"created_at":5})"; }

class MaintenanceScopeNamesTest : public testkit::EndpointTest {
protected:
    void answerAll() {
        server.on(
            "GET", checks, Reply::json(R"({"checks":[)" + check("b") + "," + check("B") + "," + check("a") + "]}"));
        server.on(
            "GET",
            sources,
            Reply::json(R"({"sources":[)" + source("z") + "," + source("y") + "," + source("y") + "]}"));
        server.on("GET", rules, Reply::json(R"({"rules":[{"name":"cpu"},{"name":"Disk"}]})"));
    }
};

TEST_F(MaintenanceScopeNamesTest, SortsEachListAndLeavesOneThatFailsEmpty) {
    answerAll();
    EXPECT_EQ(
        maintenanceScopeNames(client(), "web"),
        (MaintenanceScopeNames{{"B", "a", "b"}, {"y", "y", "z"}, {"Disk", "cpu"}}));

    server.on("GET", rules, Reply::json(R"({"error":"admin role required"})", 403));
    server.on("GET", sources, Reply::json(R"({"sources":[{"name":7}]})"));
    EXPECT_EQ(maintenanceScopeNames(client(), "web"), (MaintenanceScopeNames{{"B", "a", "b"}, {}, {}}));

    EXPECT_EQ(maintenanceScopeNames(client("session", std::nullopt), "web"), MaintenanceScopeNames{});
}

TEST_F(MaintenanceScopeNamesTest, TheThreeRequestsOverlap) {
    answerAll();
    // Each answer waits until all three requests have arrived (or gives up after a while). The
    // handlers share this with the server's threads, which may still be leaving them.
    struct Meeting {
        std::mutex mutex;
        std::condition_variable arrived;
        int waiting = 0;
        int metAll = 0;
    };
    auto meeting = std::make_shared<Meeting>();
    auto gathered = [meeting](Reply reply) {
        return [meeting, reply](const standin::ReceivedRequest&) {
            std::unique_lock lock(meeting->mutex);
            ++meeting->waiting;
            meeting->arrived.notify_all();
            if (meeting->arrived.wait_for(lock, std::chrono::seconds(20), [&] { return meeting->waiting >= 3; })) {
                ++meeting->metAll;
            }
            return reply;
        };
    };
    server.on("GET", checks, gathered(Reply::json(R"({"checks":[]})")));
    server.on("GET", sources, gathered(Reply::json(R"({"sources":[)" + source("s") + "]}")));
    server.on("GET", rules, gathered(Reply::json(R"({"error":"gone"})", 500)));
    EXPECT_EQ(maintenanceScopeNames(client(), "web"), (MaintenanceScopeNames{{}, {"s"}, {}}));
    std::lock_guard lock(meeting->mutex);
    EXPECT_EQ(meeting->metAll, 3);
}

TEST_F(MaintenanceScopeNamesTest, AStopRequestEndsTheLookupWhileTheServiceStillHoldsIt) {
    // The service takes all three requests and answers none until the test lets it, after the
    // lookup has returned: only the stop request can end it.
    struct Gate {
        std::mutex mutex;
        std::condition_variable changed;
        int arrived = 0;
        bool open = false;
    };
    auto gate = std::make_shared<Gate>();
    auto held = [gate](Reply reply) {
        return [gate, reply](const standin::ReceivedRequest&) {
            std::unique_lock lock(gate->mutex);
            ++gate->arrived;
            gate->changed.notify_all();
            gate->changed.wait_for(lock, std::chrono::seconds(30), [&] { return gate->open; });
            return reply;
        };
    };
    server.on("GET", checks, held(Reply::json(R"({"checks":[)" + check("c") + "]}")));
    server.on("GET", sources, held(Reply::json(R"({"sources":[)" + source("s") + "]}")));
    server.on("GET", rules, held(Reply::json(R"({"rules":[{"name":"r"}]})")));

    std::stop_source stop;
    auto lookup = std::async(std::launch::async, [&] { return maintenanceScopeNames(client(), "web", stop.get_token()); });
    {
        std::unique_lock lock(gate->mutex);
        gate->changed.wait_for(lock, std::chrono::seconds(20), [&] { return gate->arrived == 3; });
    }
    stop.request_stop();
    EXPECT_EQ(lookup.get(), MaintenanceScopeNames{});
    std::lock_guard lock(gate->mutex);
    gate->open = true;
    gate->changed.notify_all();
}

TEST(MaintenanceScopeNamesHash, EqualNamesHashAlike) {
    const MaintenanceScopeNames names{{"a"}, {"b"}, {}};
    std::unordered_set<MaintenanceScopeNames> set{names, MaintenanceScopeNames{{"a"}, {"b"}, {}}};
    EXPECT_EQ(set.size(), 1u);
    set.insert(MaintenanceScopeNames{{}, {"a"}, {"b"}});  // the same texts in other lists
    EXPECT_EQ(set.size(), 2u);
}

}  // namespace
}  // namespace brisalune
