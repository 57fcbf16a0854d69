#pragma once

// The host application as the push state sees it: the platform name it registers under, and
// the platform's remote-notification registration. The platform answers later, by the two
// signals; the push state listens to its host (a new or changed token starts a registration with
// the service, a failure shows as the state's registration error).

#include <QByteArray>
#include <QObject>
#include <QString>

#include <string>
#include <string_view>

namespace brisalune {

class PushHost : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Sent with this device's registration.
    virtual std::string platform() const = 0;
    // Asks the platform for a device token; the answer comes by a signal.
    virtual void registerForRemoteNotifications() = 0;

Q_SIGNALS:
    void deviceTokenReceived(const QByteArray& token);
    void registrationFailed(const QString& message);
};

// Linux has no platform push service: every registration fails with `unavailableText`, and no
// token ever arrives. The rest of the push module runs unchanged.
class DesktopPushHost final : public PushHost {
    Q_OBJECT

public:
    // The name the service knows this application's devices by.
    static constexpr std::string_view platformName = "macos";
    static constexpr std::string_view unavailableText =
        "Remote push is not available on Linux: there is no platform push service to register with.";

    using PushHost::PushHost;

    std::string platform() const override { return std::string(platformName); }
    void registerForRemoteNotifications() override;
};

}  // namespace brisalune
