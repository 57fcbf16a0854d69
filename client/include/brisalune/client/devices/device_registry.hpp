#pragma once

// The local memory of push registrations, per account: the token the service last confirmed
// (with its critical-alert flag), so that an unchanged registration is not sent again; whether
// the account was explicitly unregistered; and every token this computer used for the account,
// so that sign-out can take them all off the service. No operation reports an error: unreadable
// or wrongly typed stored data reads as empty.

#include <cstddef>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

enum class DeviceEnrolment {
    never,         // no ledger value for the account
    enrolled,      // a confirmed registration
    unregistered,  // explicitly taken off the account
};

// Device tokens are compared without regard to ASCII letter case.
bool sameDeviceToken(std::string_view a, std::string_view b) noexcept;
std::string lowercasedDeviceToken(std::string_view token);

// Any thread may call any operation.
class DeviceRegistryStoring {
public:
    // An account keeps the newest tokens up to this many.
    static constexpr std::size_t tokenLimit = 20;

    virtual ~DeviceRegistryStoring() = default;

    // True when forced, else unless the ledger holds exactly this token and flag for the account.
    virtual bool needsRegistration(
        std::string_view token, std::string_view account, bool criticalAlerts, bool force) const = 0;
    // Stores the registration, then remembers the token, as one change.
    virtual void recordRegistration(std::string_view token, std::string_view account, bool criticalAlerts) = 0;
    // Moves the token to the newest end of the account's list.
    virtual void rememberToken(std::string_view token, std::string_view account) = 0;
    virtual DeviceEnrolment enrolment(std::string_view account) const = 0;
    // The ledger becomes this account's unregistered mark alone; the token lists stay.
    virtual void markUnregistered(std::string_view account) = 0;
    // Oldest first.
    virtual std::vector<std::string> tokens(std::string_view account) const = 0;
    virtual void forgetToken(std::string_view token, std::string_view account) = 0;
    // Forgets every registration; the token lists stay, so a later sign-out still finds them.
    virtual void clearLedger() = 0;

protected:
    DeviceRegistryStoring() = default;
    DeviceRegistryStoring(const DeviceRegistryStoring&) = default;
    DeviceRegistryStoring& operator=(const DeviceRegistryStoring&) = default;
};

// The ledger and the token lists in the user defaults. Keeps no copy: every operation reads and
// writes the file under the defaults' process-wide lock.
class DeviceRegistry final : public DeviceRegistryStoring {
public:
    static constexpr std::string_view ledgerKey = "brisalune.device-registry";       // account -> value
    static constexpr std::string_view tokensKey = "brisalune.device-registrations";  // account -> tokens
    static constexpr std::string_view legacyKey = "brisalune.device-token.registered";

    // The suite's own defaults file when the name can be one, else the standard defaults.
    // Removes the legacy key there.
    explicit DeviceRegistry(std::optional<std::string> suiteName = std::nullopt);
    // A registry over the defaults kept in this file.
    static DeviceRegistry inFile(std::filesystem::path file);

    const std::optional<std::string>& suiteName() const noexcept { return suiteName_; }

    bool needsRegistration(
        std::string_view token, std::string_view account, bool criticalAlerts, bool force) const override;
    void recordRegistration(std::string_view token, std::string_view account, bool criticalAlerts) override;
    void rememberToken(std::string_view token, std::string_view account) override;
    DeviceEnrolment enrolment(std::string_view account) const override;
    void markUnregistered(std::string_view account) override;
    std::vector<std::string> tokens(std::string_view account) const override;
    void forgetToken(std::string_view token, std::string_view account) override;
    void clearLedger() override;

private:
    DeviceRegistry(std::optional<std::string> suiteName, std::optional<std::filesystem::path> file);
    std::optional<std::filesystem::path> file() const;

    std::optional<std::string> suiteName_;
    std::optional<std::filesystem::path> file_;  // set by inFile
};

// The same rules in memory.
class MemoryDeviceRegistry final : public DeviceRegistryStoring {
public:
    bool needsRegistration(
        std::string_view token, std::string_view account, bool criticalAlerts, bool force) const override;
    void recordRegistration(std::string_view token, std::string_view account, bool criticalAlerts) override;
    void rememberToken(std::string_view token, std::string_view account) override;
    DeviceEnrolment enrolment(std::string_view account) const override;
    void markUnregistered(std::string_view account) override;
    std::vector<std::string> tokens(std::string_view account) const override;
    void forgetToken(std::string_view token, std::string_view account) override;
    void clearLedger() override;

private:
    mutable std::mutex lock_;
    std::map<std::string, std::string, std::less<>> ledger_;
    std::map<std::string, std::vector<std::string>, std::less<>> tokensByAccount_;
};

}  // namespace brisalune
