#include <brisalune/client/detail/defaults_suite.hpp>
#include <brisalune/client/devices/device_registry.hpp>

#include <brisalune/platform/defaults.hpp>

#include <algorithm>
#include <exception>
#include <iterator>
#include <utility>

namespace brisalune {
namespace {

namespace fs = std::filesystem;
using platform::Defaults;
using platform::DefaultsValue;
using Ledger = std::map<std::string, std::string, std::less<>>;
using TokenLists = std::map<std::string, std::vector<std::string>, std::less<>>;

// Registration values always hold a "|", so the mark can never be taken for one.
constexpr std::string_view unregisteredMark = "unregistered";

char lowered(char c) noexcept { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string registrationValue(std::string_view token, bool criticalAlerts) {
    return std::string(token) + "|" + (criticalAlerts ? "true" : "false");
}

// ---- the rules, over the two maps ----

bool needs(const Ledger& ledger, std::string_view token, std::string_view account, bool criticalAlerts, bool force) {
    if (force) return true;
    const auto found = ledger.find(account);
    return found == ledger.end() || found->second != registrationValue(token, criticalAlerts);
}

DeviceEnrolment enrolmentIn(const Ledger& ledger, std::string_view account) {
    const auto found = ledger.find(account);
    if (found == ledger.end()) return DeviceEnrolment::never;
    return found->second == unregisteredMark ? DeviceEnrolment::unregistered : DeviceEnrolment::enrolled;
}

void remember(TokenLists& lists, std::string_view token, std::string_view account) {
    std::vector<std::string>& list = lists[std::string(account)];
    std::erase_if(list, [&](const std::string& listed) { return sameDeviceToken(listed, token); });
    list.emplace_back(token);
    if (list.size() > DeviceRegistryStoring::tokenLimit)
        list.erase(list.begin(), list.end() - DeviceRegistryStoring::tokenLimit);
}

std::vector<std::string> tokensIn(const TokenLists& lists, std::string_view account) {
    const auto found = lists.find(account);
    return found == lists.end() ? std::vector<std::string>{} : found->second;
}

// False when the account has no list, so there is nothing to write.
bool forget(TokenLists& lists, std::string_view token, std::string_view account) {
    const auto found = lists.find(account);
    if (found == lists.end()) return false;
    std::erase_if(found->second, [&](const std::string& listed) { return sameDeviceToken(listed, token); });
    if (found->second.empty()) lists.erase(found);
    return true;
}

Ledger markOnly(std::string_view account) { return {{std::string(account), std::string(unregisteredMark)}}; }

// ---- the defaults file ----

// A map whose values all read as T; a missing key or any value of another type reads as empty.
template <class T, class Read>
std::map<std::string, T, std::less<>> readMap(const fs::path& file, std::string_view key, Read read) {
    const std::optional<DefaultsValue> stored = Defaults(file).value(key);
    const auto* map = stored ? stored->get<DefaultsValue::Map>() : nullptr;
    if (!map) return {};
    std::map<std::string, T, std::less<>> out;
    for (const auto& [name, value] : *map) {
        std::optional<T> entry = read(value);
        if (!entry) return {};
        out.emplace(name, std::move(*entry));
    }
    return out;
}

std::optional<std::string> text(const DefaultsValue& value) {
    if (const auto* string = value.get<std::string>()) return *string;
    return std::nullopt;
}

std::optional<std::vector<std::string>> texts(const DefaultsValue& value) {
    const auto* list = value.get<DefaultsValue::List>();
    if (!list) return std::nullopt;
    std::vector<std::string> out;
    for (const DefaultsValue& element : *list) {
        std::optional<std::string> one = text(element);
        if (!one) return std::nullopt;
        out.push_back(std::move(*one));
    }
    return out;
}

Ledger readLedger(const fs::path& file) { return readMap<std::string>(file, DeviceRegistry::ledgerKey, text); }
TokenLists readTokens(const fs::path& file) {
    return readMap<std::vector<std::string>>(file, DeviceRegistry::tokensKey, texts);
}

// Writes are not checked: a store over the defaults reports no errors.
void store(const fs::path& file, std::string_view key, DefaultsValue value) {
    try {
        Defaults(file).set(key, std::move(value));
    } catch (const std::exception&) {
        // the file keeps what it had
    }
}

void writeLedger(const fs::path& file, const Ledger& ledger) {
    DefaultsValue::Map map;
    for (const auto& [account, value] : ledger) map.emplace(account, value);
    store(file, DeviceRegistry::ledgerKey, std::move(map));
}

void writeTokens(const fs::path& file, const TokenLists& lists) {
    DefaultsValue::Map map;
    for (const auto& [account, tokens] : lists) map.emplace(account, DefaultsValue::List(tokens.begin(), tokens.end()));
    store(file, DeviceRegistry::tokensKey, std::move(map));
}

}  // namespace

bool sameDeviceToken(std::string_view a, std::string_view b) noexcept {
    return std::ranges::equal(a, b, [](char x, char y) { return lowered(x) == lowered(y); });
}

std::string lowercasedDeviceToken(std::string_view token) {
    std::string out;
    std::ranges::transform(token, std::back_inserter(out), lowered);
    return out;
}

// ---- DeviceRegistry ----

DeviceRegistry::DeviceRegistry(std::optional<std::string> suiteName)
    : DeviceRegistry(std::move(suiteName), std::nullopt) {}

DeviceRegistry::DeviceRegistry(std::optional<std::string> suiteName, std::optional<fs::path> file)
    : suiteName_(std::move(suiteName)), file_(std::move(file)) {
    const auto path = this->file();
    if (!path) return;
    try {
        Defaults(*path).remove(legacyKey);
    } catch (const std::exception&) {
        // left for the next start
    }
}

DeviceRegistry DeviceRegistry::inFile(fs::path file) { return DeviceRegistry(std::nullopt, std::move(file)); }

std::optional<fs::path> DeviceRegistry::file() const {
    if (file_) return file_;
    return defaultsFile(suiteName_);
}

bool DeviceRegistry::needsRegistration(
    std::string_view token, std::string_view account, bool criticalAlerts, bool force) const {
    if (force) return true;
    std::lock_guard lock(Defaults::processLock());
    const auto path = file();
    return !path || needs(readLedger(*path), token, account, criticalAlerts, force);
}

// Each read-modify-write holds the file against this process's other threads and against another
// instance of the app writing the same file.
void DeviceRegistry::recordRegistration(std::string_view token, std::string_view account, bool criticalAlerts) {
    const auto path = file();
    if (!path) return;
    Defaults::WriteLock lock(*path);
    Ledger ledger = readLedger(*path);
    ledger.insert_or_assign(std::string(account), registrationValue(token, criticalAlerts));
    writeLedger(*path, ledger);
    TokenLists lists = readTokens(*path);
    remember(lists, token, account);
    writeTokens(*path, lists);
}

void DeviceRegistry::rememberToken(std::string_view token, std::string_view account) {
    const auto path = file();
    if (!path) return;
    Defaults::WriteLock lock(*path);
    TokenLists lists = readTokens(*path);
    remember(lists, token, account);
    writeTokens(*path, lists);
}

DeviceEnrolment DeviceRegistry::enrolment(std::string_view account) const {
    std::lock_guard lock(Defaults::processLock());
    const auto path = file();
    return path ? enrolmentIn(readLedger(*path), account) : DeviceEnrolment::never;
}

void DeviceRegistry::markUnregistered(std::string_view account) {
    const auto path = file();
    if (!path) return;
    Defaults::WriteLock lock(*path);
    writeLedger(*path, markOnly(account));
}

std::vector<std::string> DeviceRegistry::tokens(std::string_view account) const {
    std::lock_guard lock(Defaults::processLock());
    const auto path = file();
    return path ? tokensIn(readTokens(*path), account) : std::vector<std::string>{};
}

void DeviceRegistry::forgetToken(std::string_view token, std::string_view account) {
    const auto path = file();
    if (!path) return;
    Defaults::WriteLock lock(*path);
    TokenLists lists = readTokens(*path);
    if (forget(lists, token, account)) writeTokens(*path, lists);
}

void DeviceRegistry::clearLedger() {
    std::lock_guard lock(Defaults::processLock());
    const auto path = file();
    if (!path) return;
    try {
        Defaults(*path).remove(ledgerKey);
    } catch (const std::exception&) {
        // the file keeps what it had
    }
}

// ---- MemoryDeviceRegistry ----

bool MemoryDeviceRegistry::needsRegistration(
    std::string_view token, std::string_view account, bool criticalAlerts, bool force) const {
    std::lock_guard lock(lock_);
    return needs(ledger_, token, account, criticalAlerts, force);
}

void MemoryDeviceRegistry::recordRegistration(std::string_view token, std::string_view account, bool criticalAlerts) {
    std::lock_guard lock(lock_);
    ledger_.insert_or_assign(std::string(account), registrationValue(token, criticalAlerts));
    remember(tokensByAccount_, token, account);
}

void MemoryDeviceRegistry::rememberToken(std::string_view token, std::string_view account) {
    std::lock_guard lock(lock_);
    remember(tokensByAccount_, token, account);
}

DeviceEnrolment MemoryDeviceRegistry::enrolment(std::string_view account) const {
    std::lock_guard lock(lock_);
    return enrolmentIn(ledger_, account);
}

void MemoryDeviceRegistry::markUnregistered(std::string_view account) {
    std::lock_guard lock(lock_);
    ledger_ = markOnly(account);
}

std::vector<std::string> MemoryDeviceRegistry::tokens(std::string_view account) const {
    std::lock_guard lock(lock_);
    return tokensIn(tokensByAccount_, account);
}

void MemoryDeviceRegistry::forgetToken(std::string_view token, std::string_view account) {
    std::lock_guard lock(lock_);
    forget(tokensByAccount_, token, account);
}

void MemoryDeviceRegistry::clearLedger() {
    std::lock_guard lock(lock_);
    ledger_.clear();
}

}  // namespace brisalune
