#pragma once

// The four operations on one secret item that the keychain session store stands on, and the
// desktop's Secret Service behind them. Every operation answers a status from the table below.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace brisalune {

struct KeychainStatus {
    static constexpr std::int32_t success = 0;
    static constexpr std::int32_t itemNotFound = -25300;
    // Our own statuses for the errors the Secret Service answers with:
    // no service to reach (no session bus, nobody owns the service's name on it and none can be
    // started, the name's owner is no Secret Service);
    static constexpr std::int32_t notAvailable = -25291;
    // a service owns the name but does not answer in time (stopped, or hung);
    static constexpr std::int32_t notResponding = -2071;
    // the item or its collection is locked, and the prompt to unlock it was dismissed or cancelled;
    static constexpr std::int32_t unlockDismissed = -2072;
    // there is no collection to put a new item in, and the prompt to create one was dismissed or
    // cancelled;
    static constexpr std::int32_t keyringNotCreated = -2073;
    // there are collections, but none is the default one that new items go to;
    static constexpr std::int32_t noDefaultKeyring = -2074;
    // the item or its collection is locked, and no prompt was asked for;
    static constexpr std::int32_t interactionNotAllowed = -25308;
    // the service or the user refused or cancelled the request;
    static constexpr std::int32_t userCanceled = -128;
    // any other error of the service.
    static constexpr std::int32_t failed = -2070;
};

// The status of a D-Bus error by its name (org.freedesktop.DBus.Error.ServiceUnknown, the
// Secret Service's org.freedesktop.Secret.Error.IsLocked, …): notAvailable when no service
// answers, interactionNotAllowed when locked, userCanceled when refused, else failed.
std::int32_t keychainStatusForDBusError(std::string_view name) noexcept;

// One item, addressed by its two attributes.
struct SecretItemAddress {
    std::string service;
    std::string account;
};

class SecretItemStore {
public:
    struct Read {
        std::int32_t status = KeychainStatus::success;
        std::string data;  // the item's data when status is success
    };

    virtual ~SecretItemStore() = default;

    // itemNotFound when no item has the address; never while the item or the place it would be
    // in is locked (interactionNotAllowed).
    virtual Read read(const SecretItemAddress& item) = 0;
    // Replaces the data of the existing item; itemNotFound when there is none.
    virtual std::int32_t update(const SecretItemAddress& item, std::string_view data) = 0;
    virtual std::int32_t add(const SecretItemAddress& item, std::string_view data) = 0;
    // Removes every item with the address, in every collection; itemNotFound when there was
    // nothing to delete. Nothing is deleted while one of them stays locked.
    virtual std::int32_t remove(const SecretItemAddress& item) noexcept = 0;
};

// The desktop's Secret Service over D-Bus (libsecret). New items go to its default collection,
// which outlives the app and the login session. Making it touches nothing; each operation
// reaches the service on the calling thread, from any thread, one operation of the process at a
// time. There is no other place to fall back to: without a reachable service every operation
// answers notAvailable.
//
// A locked item, or a locked collection, is asked to unlock, which may prompt the user; while
// it stays locked (the prompt dismissed, or none can be shown) the operation answers
// unlockDismissed. Once a prompt was dismissed, reads ask no more until something is found
// unlocked or absent: the next prompt is a write's. Without a collection for the alias, an add
// asks the person to create one, the one prompt of that add; dismissed, it answers
// keyringNotCreated. When the service keeps other collections, none of them the default, the add
// makes none and answers noDefaultKeyring: which one to use is the person's choice.
//
// Every call to the service is bounded: the service is pinged while an operation runs, and an
// operation whose keyring stops answering, its pings or any one of its calls, ends within seconds
// (notResponding), wherever it was. Only a prompt the person is answering waits unbounded.
std::shared_ptr<SecretItemStore> desktopSecretService();
// The same with new items going to another collection: an alias such as "default", or a
// collection's object path.
std::shared_ptr<SecretItemStore> desktopSecretService(std::string collection);

}  // namespace brisalune
