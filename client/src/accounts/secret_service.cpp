#include <brisalune/client/accounts/secret_service.hpp>

#include <libsecret/secret.h>

#include <memory>

namespace brisalune {

namespace {

struct Unref {
    void operator()(SecretService* p) const noexcept { g_object_unref(p); }
    void operator()(GHashTable* p) const noexcept { g_hash_table_unref(p); }
    void operator()(SecretValue* p) const noexcept { secret_value_unref(p); }
    void operator()(GError* p) const noexcept { g_error_free(p); }
    void operator()(GList* p) const noexcept { g_list_free_full(p, g_object_unref); }
};
template <class T>
using Owned = std::unique_ptr<T, Unref>;

// Items are matched by the two attributes alone, whatever schema name wrote them.
const SecretSchema* sessionSchema() {
    static const SecretSchema schema = [] {
        SecretSchema s{};
        s.name = "app.brisalune.desktop.Item";
        s.flags = SECRET_SCHEMA_DONT_MATCH_NAME;
        s.attributes[0] = {"service", SECRET_SCHEMA_ATTRIBUTE_STRING};
        s.attributes[1] = {"account", SECRET_SCHEMA_ATTRIBUTE_STRING};
        return s;
    }();
    return &schema;
}

// Error texts are dropped: only the status travels on.
std::int32_t statusFor(const GError* error) {
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
        return KeychainStatus::interactionNotAllowed;
    }
    if (error->domain == G_DBUS_ERROR || error->domain == G_IO_ERROR) return KeychainStatus::notAvailable;
    return KeychainStatus::failed;
}

class DesktopSecretService final : public SecretItemStore {
public:
    Read read(const SecretItemAddress& item) override {
        GError* raw = nullptr;
        Owned<SecretService> service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
        Owned<SecretValue> value;
        if (service) value.reset(secret_service_lookup_sync(service.get(), sessionSchema(), attributes(item).get(), nullptr, &raw));
        if (raw) return {.status = failure(raw), .data = {}};
        if (!value) return {.status = KeychainStatus::itemNotFound, .data = {}};
        gsize length = 0;
        const gchar* bytes = secret_value_get(value.get(), &length);
        return {.status = KeychainStatus::success, .data = std::string(bytes, length)};
    }

    std::int32_t update(const SecretItemAddress& item, std::string_view data) override {
        GError* raw = nullptr;
        Owned<SecretService> service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
        Owned<GList> found;
        if (service) {
            found.reset(secret_service_search_sync(service.get(), sessionSchema(), attributes(item).get(),
                                                   SECRET_SEARCH_UNLOCK, nullptr, &raw));
        }
        if (raw) return failure(raw);
        if (!found) return KeychainStatus::itemNotFound;
        auto* existing = SECRET_ITEM(found->data);
        if (secret_item_get_locked(existing)) return KeychainStatus::interactionNotAllowed;
        if (!secret_item_set_secret_sync(existing, secret(data).get(), nullptr, &raw)) return failure(raw);
        return KeychainStatus::success;
    }

    std::int32_t add(const SecretItemAddress& item, std::string_view data) override {
        GError* raw = nullptr;
        Owned<SecretService> service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
        if (!service) return failure(raw);
        // The default collection persists; the label is what keyring managers show.
        if (!secret_service_store_sync(service.get(), sessionSchema(), attributes(item).get(),
                                       SECRET_COLLECTION_DEFAULT, item.service.c_str(), secret(data).get(), nullptr,
                                       &raw)) {
            return failure(raw);
        }
        return KeychainStatus::success;
    }

    std::int32_t remove(const SecretItemAddress& item) noexcept override {
        GError* raw = nullptr;
        Owned<SecretService> service(secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &raw));
        if (!service) return failure(raw);
        if (secret_service_clear_sync(service.get(), sessionSchema(), attributes(item).get(), nullptr, &raw)) {
            return KeychainStatus::success;
        }
        return raw ? failure(raw) : KeychainStatus::itemNotFound;
    }

private:
    static Owned<GHashTable> attributes(const SecretItemAddress& item) {
        return Owned<GHashTable>(secret_attributes_build(sessionSchema(), "service", item.service.c_str(), "account",
                                                         item.account.c_str(), nullptr));
    }

    static Owned<SecretValue> secret(std::string_view data) {
        return Owned<SecretValue>(
            secret_value_new(data.data(), static_cast<gssize>(data.size()), "application/json"));
    }

    // A call that failed without saying why was refused by the user (a dismissed prompt).
    static std::int32_t failure(GError* raw) noexcept {
        if (!raw) return KeychainStatus::interactionNotAllowed;
        Owned<GError> error(raw);
        return statusFor(error.get());
    }
};

}  // namespace

std::shared_ptr<SecretItemStore> desktopSecretService() { return std::make_shared<DesktopSecretService>(); }

}  // namespace brisalune
