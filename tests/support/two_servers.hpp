#pragma once

// Two stand-in servers, one playing the hosted service and one a self-hosted box, and a client
// factory that records what it was asked to build.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/client_factory.hpp>
#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/standin/server.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

    standin::Server hosted;
    standin::Server box;
    ServerCompatibility compatibility;
    std::vector<Made> made;

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
            made.push_back({base.text(), sessionToken, dataKey});
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
