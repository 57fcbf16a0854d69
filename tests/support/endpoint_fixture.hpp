#pragma once

// A stand-in server and a client pointed at it, for tests of endpoint families.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/core/server_compatibility.hpp>
#include <brisalune/standin/server.hpp>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace brisalune::testkit {

class EndpointTest : public ::testing::Test {
protected:
    standin::Server server;
    ServerCompatibility compatibility;  // the test's own, so no verdict leaks between tests

    // A client holding both credentials unless told otherwise, on the shared transport unless
    // given one.
    BrisaluneClient client(
        std::optional<std::string> sessionToken = "session-token",
        std::optional<std::string> dataKey = "data-key",
        std::shared_ptr<http::Transport> transport = nullptr) {
        return BrisaluneClient(
            *platform::Url::parse(server.baseUrl()),
            std::move(sessionToken),
            std::move(dataKey),
            std::move(transport),
            ClientIdentity::current(),
            compatibility);
    }

    // The last request the stand-in received; an empty one (and a failure) when none arrived.
    standin::ReceivedRequest last() const {
        auto request = server.lastRequest();
        if (!request) {
            ADD_FAILURE() << "the stand-in received no request";
            return {};
        }
        return *request;
    }

    // The BrisaluneError `f` throws; a failure when it throws none.
    template <class F>
    static BrisaluneError errorOf(F&& f) {
        try {
            std::forward<F>(f)();
        } catch (const BrisaluneError& error) {
            return error;
        }
        ADD_FAILURE() << "no BrisaluneError thrown";
        return BrisaluneError::transport("no error");
    }
};

}  // namespace brisalune::testkit
