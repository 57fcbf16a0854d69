#include <brisalune/client/maintenance/scope_names.hpp>

#include <support/endpoint_fixture.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

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

}  // namespace
}  // namespace brisalune
