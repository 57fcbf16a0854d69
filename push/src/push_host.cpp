#include <brisalune/push/push_host.hpp>

namespace brisalune {

void DesktopPushHost::registerForRemoteNotifications() {
    Q_EMIT registrationFailed(
        QString::fromUtf8(unavailableText.data(), static_cast<qsizetype>(unavailableText.size())));
}

}  // namespace brisalune
