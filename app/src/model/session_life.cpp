#include <brisalune/app/model/session_life.hpp>

#include <brisalune/platform/http.hpp>

#include <string_view>
#include <utility>

namespace brisalune {
namespace {

constexpr std::string_view notSentText = "Not sent: Brisalune is signing out of this session.";

class LiveOnlyTransport final : public http::Transport {
public:
    LiveOnlyTransport(std::shared_ptr<http::Transport> inner, std::shared_ptr<const SessionLife> life)
        : inner_(std::move(inner)), life_(std::move(life)) {}

    http::Response perform(const http::Request& request) override {
        if (!life_->isLive()) throw http::TransportError(std::string(notSentText));
        return inner_->perform(request);
    }

private:
    std::shared_ptr<http::Transport> inner_;
    std::shared_ptr<const SessionLife> life_;
};

class EndingTransport final : public http::Transport {
public:
    EndingTransport(std::shared_ptr<http::Transport> inner, std::shared_ptr<SessionLife> life)
        : inner_(std::move(inner)), life_(std::move(life)) {}

    http::Response perform(const http::Request& request) override {
        try {
            http::Response answer = inner_->perform(request);
            life_->set(SessionLife::State::endedAtService);
            return answer;
        } catch (const http::TransportError& error) {
            // A time-out may have been heard; a connection refused or dropped unanswered was not.
            if (error.what() == http::timedOutText) life_->set(SessionLife::State::endedAtService);
            throw;
        }
    }

private:
    std::shared_ptr<http::Transport> inner_;
    std::shared_ptr<SessionLife> life_;
};

std::shared_ptr<BrisaluneClient> over(std::shared_ptr<http::Transport> transport, const BrisaluneClient& made) {
    return std::make_shared<BrisaluneClient>(
        made.baseURL(),
        made.sessionToken(),
        made.dataKey(),
        std::move(transport),
        made.identity(),
        made.compatibility());
}

}  // namespace

std::shared_ptr<BrisaluneClient> whileLive(std::shared_ptr<const SessionLife> life, const BrisaluneClient& made) {
    return over(std::make_shared<LiveOnlyTransport>(made.transport(), std::move(life)), made);
}

std::shared_ptr<BrisaluneClient> endingAtService(std::shared_ptr<SessionLife> life, const BrisaluneClient& made) {
    return over(std::make_shared<EndingTransport>(made.transport(), std::move(life)), made);
}

}  // namespace brisalune
