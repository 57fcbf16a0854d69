#include <brisalune/app/model/session_acks.hpp>

#include <brisalune/platform/defaults.hpp>

#include <algorithm>
#include <mutex>
#include <utility>

namespace brisalune {

class SessionAckGate::Store final : public PendingAckStoring {
public:
    Store(std::shared_ptr<SessionAckGate> gate, std::shared_ptr<PendingAckStoring> store)
        : gate_(std::move(gate)), store_(std::move(store)) {}

    std::optional<PendingAck> get(std::string_view alertId) const override { return store_->get(alertId); }
    std::vector<PendingAck> all() const override { return store_->all(); }
    bool put(const PendingAck& record) override {
        const std::shared_lock writing(gate_->writes_);
        return !gate_->closed_ && store_->put(record);
    }
    bool remove(std::string_view alertId) override { return store_->remove(alertId); }
    bool removeAll() override { return store_->removeAll(); }
    bool removeUnchanged(std::string_view alertId, const PendingAck& expected) override {
        return store_->removeUnchanged(alertId, expected);
    }
    Replaced replace(
        std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) override {
        const std::shared_lock writing(gate_->writes_);
        if (gate_->closed_) return Replaced::overtaken;  // the sign-out took the record
        return store_->replace(alertId, expected, replacement);
    }

private:
    std::shared_ptr<SessionAckGate> gate_;
    std::shared_ptr<PendingAckStoring> store_;
};

std::shared_ptr<PendingAckStoring> SessionAckGate::over(std::shared_ptr<PendingAckStoring> store) {
    return std::make_shared<Store>(shared_from_this(), std::move(store));
}

bool SessionAckGate::closeAfter(const std::function<bool()>& clear, std::chrono::steady_clock::time_point by) {
    const std::unique_lock closing(writes_, by);
    if (!closing) return false;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(by - std::chrono::steady_clock::now());
    const platform::Defaults::PeerLockPatience rest(std::max(left, std::chrono::milliseconds::zero()));
    if (!clear()) return false;
    closed_ = true;
    return true;
}

}  // namespace brisalune
