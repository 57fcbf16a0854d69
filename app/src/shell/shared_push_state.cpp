#include <brisalune/app/shell/shared_push_state.hpp>

#include <brisalune/app/shell/app_config.hpp>
#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/devices/device_registry.hpp>
#include <brisalune/push/push_host.hpp>

#include <memory>

namespace brisalune {

PushState& sharedPushState() {
    // Lives until the process ends: the model and the push module's tasks may still use it while
    // the application winds down.
    static PushState* const state = new PushState(
        std::make_shared<DesktopPushHost>(),
        true,
        std::make_shared<DeviceRegistry>(std::nullopt),
        std::make_shared<PendingAckStore>(std::nullopt),
        PushState::Environment{
            .defaults = std::nullopt,
            .keychain = std::make_shared<KeychainSessionStore>(std::string(MacAppConfig::sessionService())),
            .notificationCenter = nullptr});
    return *state;
}

}  // namespace brisalune
