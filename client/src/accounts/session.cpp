#include <brisalune/client/accounts/session.hpp>

#include <utility>

namespace brisalune {

const platform::Url& StoredSession::hostForTenant(std::string_view tenantId) const {
    auto host = tenantHosts.find(tenantId);
    return host == tenantHosts.end() ? baseURL : host->second;
}

std::optional<platform::Url> StoredSession::activeHost() const {
    if (!activeTenantId) return std::nullopt;
    return hostForTenant(*activeTenantId);
}

bool StoredSession::hasOwnHost(std::string_view tenantId) const { return tenantHosts.contains(tenantId); }

// ---- the memory store -----------------------------------------------------------------------

MemorySessionStore::MemorySessionStore(std::optional<StoredSession> session, bool unreadable)
    : session_(std::move(session)), unreadable_(unreadable) {}

SessionLoad MemorySessionStore::load() {
    std::scoped_lock guard(lock_);
    if (unreadable_) return SessionLoad::unreadable();
    if (session_) return SessionLoad::present(*session_);
    return SessionLoad::absent();
}

void MemorySessionStore::save(const StoredSession& session) {
    std::scoped_lock guard(lock_);
    if (saveError_) throw *saveError_;
    session_ = session;
    unreadable_ = false;
}

void MemorySessionStore::clear() noexcept {
    std::scoped_lock guard(lock_);
    session_.reset();
    unreadable_ = false;
}

std::optional<MemorySessionStore::SaveError> MemorySessionStore::saveError() const {
    std::scoped_lock guard(lock_);
    return saveError_;
}

void MemorySessionStore::setSaveError(std::optional<SaveError> error) {
    std::scoped_lock guard(lock_);
    saveError_ = error;
}

}  // namespace brisalune
