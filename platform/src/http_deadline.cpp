#include <brisalune/platform/http.hpp>

#include <algorithm>
#include <string>
#include <utility>

namespace brisalune::http {

namespace {

class DeadlineTransport final : public Transport {
public:
    DeadlineTransport(std::shared_ptr<Transport> inner, std::shared_ptr<const Deadline> deadline)
        : inner_(std::move(inner)), deadline_(std::move(deadline)) {}

    Response perform(const Request& request) override {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline_->end() - std::chrono::steady_clock::now());
        if (left <= milliseconds::zero()) throw TransportError(std::string(timedOutText));
        Request bounded = request;
        bounded.timeout = request.timeout > milliseconds::zero() ? std::min(request.timeout, left) : left;
        bounded.wholeTimeout =
            request.wholeTimeout > milliseconds::zero() ? std::min(request.wholeTimeout, left) : left;
        return inner_->perform(bounded);
    }

private:
    std::shared_ptr<Transport> inner_;
    std::shared_ptr<const Deadline> deadline_;
};

}  // namespace

void Deadline::endAt(std::chrono::steady_clock::time_point end) noexcept { end_ = end.time_since_epoch().count(); }

std::chrono::steady_clock::time_point Deadline::end() const noexcept {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(end_.load()));
}

std::shared_ptr<Transport> deadlineTransport(
    std::shared_ptr<Transport> inner, std::shared_ptr<const Deadline> deadline) {
    return std::make_shared<DeadlineTransport>(std::move(inner), std::move(deadline));
}

}  // namespace brisalune::http
