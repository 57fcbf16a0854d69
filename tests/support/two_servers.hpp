#pragma once

// Two stand-in servers, one playing the hosted service and one a self-hosted box, and a client
// factory that records what it was asked to build.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/client_factory.hpp>
#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/standin/server.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisalune::testkit {

class TwoServerTest : public ::testing::Test {
protected:
    struct Made {  // one client the factory built
        std::string baseURL;
        std::optional<std::string> sessionToken;
        std::optional<std::string> dataKey;

        friend bool operator==(const Made&, const Made&) = default;
    };

    // What the factory built so far. The pool's threads ask for clients while the test reads.
    class MadeList {
    public:
        void add(Made one) {
            const std::lock_guard lock(mutex_);
            items_.push_back(std::move(one));
        }
        std::vector<Made> items() const {
            const std::lock_guard lock(mutex_);
            return items_;
        }
        bool empty() const { return items().empty(); }
        void clear() {
            const std::lock_guard lock(mutex_);
            items_.clear();
        }

        friend bool operator==(const MadeList& list, const std::vector<Made>& items) { return list.items() == items; }
        friend void PrintTo(const MadeList& list, std::ostream* out) { *out << ::testing::PrintToString(list.items()); }

    private:
        mutable std::mutex mutex_;
        std::vector<Made> items_;
    };

    standin::Server hosted;
    standin::Server box;
    ServerCompatibility compatibility;
    MadeList made;

    static platform::Url url(std::string_view text) { return *platform::Url::parse(text); }
    platform::Url hostedURL() const { return url(hosted.baseUrl()); }
    platform::Url boxURL() const { return url(box.baseUrl()); }

    std::shared_ptr<BrisaluneClient> client(
        const platform::Url& base, std::optional<std::string> sessionToken, std::optional<std::string> dataKey) {
        return std::make_shared<BrisaluneClient>(
            base, std::move(sessionToken), std::move(dataKey), nullptr, ClientIdentity::current(), compatibility);
    }

    ClientFactory factory() {
        return [this](
                   const platform::Url& base,
                   std::optional<std::string> sessionToken,
                   std::optional<std::string> dataKey) {
            made.add({base.text(), sessionToken, dataKey});
            return client(base, std::move(sessionToken), std::move(dataKey));
        };
    }

    // "METHOD target" of every request the server received, in order.
    static std::vector<std::string> received(const standin::Server& server) {
        std::vector<std::string> lines;
        for (const auto& request : server.requests()) lines.push_back(request.method + " " + request.rawTarget);
        return lines;
    }

    // The Authorization header of each request, "" when absent.
    static std::vector<std::string> authorizations(const standin::Server& server) {
        std::vector<std::string> values;
        for (const auto& request : server.requests()) values.push_back(request.header("Authorization").value_or(""));
        return values;
    }
};

}  // namespace brisalune::testkit
