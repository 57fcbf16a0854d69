#pragma once

// The signed-in application model as the push state sees it. The push state holds it weakly:
// a model that is gone reads as no session.

#include <brisalune/client/accounts/session.hpp>
#include <brisalune/client/alerts/pending_ack.hpp>
#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/core/client.hpp>

#include <QCoroTask>

#include <memory>
#include <optional>
#include <string>

namespace brisalune {

// Called on the Qt main thread only.
class PushSession {
public:
    virtual ~PushSession() = default;

    // The stored session of the signed-in account.
    virtual std::optional<StoredSession> session() const = 0;
    // The client of the account on the hosted service (session token).
    virtual std::shared_ptr<BrisaluneClient> accountClient() const = 0;
    // A sign-out is under way.
    virtual bool isTearingDown() const = 0;
    // The client that takes back what a session left on the service after its sign-out began (a
    // registration that landed late), made like `used`: it goes whatever that sign-out stopped.
    virtual std::shared_ptr<BrisaluneClient> clientForTakingBack(std::shared_ptr<BrisaluneClient> used) const {
        return used;
    }
    // Signed in with a team chosen.
    virtual bool isSignedIn() const = 0;
    // Acknowledges the alert through the model's own choice of client, recording progress in
    // the store. Never throws: every failure is an outcome.
    virtual QCoro::Task<AckAttemptOutcome> acknowledge(
        std::string alertId, std::string title, std::shared_ptr<PendingAckStoring> store) = 0;

protected:
    PushSession() = default;
    PushSession(const PushSession&) = default;
    PushSession& operator=(const PushSession&) = default;
};

}  // namespace brisalune
