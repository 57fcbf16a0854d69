#include <brisalune/app/model/session_life.hpp>

#include <brisalune/platform/http.hpp>

#include <string>
#include <utility>

namespace brisalune {
namespace {

class LiveOnlyTransport final : public http::Transport {
public:
    LiveOnlyTransport(std::shared_ptr<http::Transport> inner, std::shared_ptr<const SessionLife> life)
        : inner_(std::move(inner)), life_(std::move(life)) {}

    http::Response perform(const http::Request& request) override {
        if (!life_->isLive()) throw http::NotSentError(std::string(SessionLife::notSentText));
        return inner_->perform(request);
    }

private:
    std::shared_ptr<http::Transport> inner_;
    std::shared_ptr<const SessionLife> life_;
};

}  // namespace

std::shared_ptr<BrisaluneClient> whileLive(std::shared_ptr<const SessionLife> life, const BrisaluneClient& made) {
    return made.over(std::make_shared<LiveOnlyTransport>(made.transport(), std::move(life)));
}

}  // namespace brisalune
