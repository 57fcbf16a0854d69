#pragma once

// The real transport, noting the time-out of the last request it carried.

#include <brisalune/platform/http.hpp>

#include <atomic>
#include <chrono>
#include <memory>

namespace brisalune::testkit {

struct TimeoutRecorder : http::Transport {
    std::shared_ptr<http::Transport> real = http::curlTransport();
    std::atomic<std::chrono::milliseconds> last{std::chrono::milliseconds(0)};

    http::Response perform(const http::Request& request) override {
        last = request.timeout;
        return real->perform(request);
    }
};

}  // namespace brisalune::testkit
