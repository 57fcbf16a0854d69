#include <brisalune/client/alerts/pending_ack_store.hpp>
#include <brisalune/client/detail/defaults_suite.hpp>

#include <brisalune/platform/defaults.hpp>
#include <brisalune/platform/json.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <algorithm>
#include <exception>
#include <utility>

namespace brisalune {
namespace {

namespace fs = std::filesystem;
using platform::Defaults;

// The stored object as it stands, members undecoded; absent or unreadable gives an empty one.
json::Object rawObject(const fs::path& file) {
    const auto bytes = Defaults(file).bytes(PendingAckStore::key);
    if (!bytes) return {};
    try {
        json::Value root = json::parse(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
        if (json::Object* object = root.get<json::Object>()) return std::move(*object);
    } catch (const json::DecodeError&) {
        // not JSON: reads as empty
    }
    return {};
}

bool storeObject(const fs::path& file, const json::Object& object) {
    try {
        const std::string text = json::write(json::Value{object});
        Defaults(file).set(PendingAckStore::key, platform::Bytes(text.begin(), text.end()));
        return true;
    } catch (const std::exception&) {
        return false;  // the file is left as it was
    }
}

std::optional<PendingAck> decodeMember(const json::Value& value) {
    if (!value.is<json::Object>()) return std::nullopt;
    try {
        return json::decode<PendingAck>(json::write(value));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// Every member that decodes, by member name.
std::map<std::string, PendingAck, std::less<>> records(const fs::path& file) {
    std::map<std::string, PendingAck, std::less<>> out;
    for (const auto& [name, value] : rawObject(file))
        if (auto record = decodeMember(value)) out.emplace(name, std::move(*record));
    return out;
}

std::vector<PendingAck> sortedByAlertId(const std::map<std::string, PendingAck, std::less<>>& ledger) {
    std::vector<PendingAck> out;
    out.reserve(ledger.size());
    for (const auto& entry : ledger) out.push_back(entry.second);
    std::stable_sort(
        out.begin(), out.end(), [](const PendingAck& a, const PendingAck& b) { return a.alertId < b.alertId; });
    return out;
}

template <class Ledger>
std::optional<PendingAck> entry(const Ledger& ledger, std::string_view alertId) {
    const auto found = ledger.find(alertId);
    if (found == ledger.end()) return std::nullopt;
    return found->second;
}

}  // namespace

// ---- PendingAckStore ----

PendingAckStore::PendingAckStore(std::optional<std::string> suiteName)
    : PendingAckStore(std::move(suiteName), std::nullopt) {}

PendingAckStore::PendingAckStore(std::optional<std::string> suiteName, std::optional<fs::path> file)
    : suiteName_(std::move(suiteName)), file_(std::move(file)) {}

PendingAckStore PendingAckStore::inFile(fs::path file) { return PendingAckStore(std::nullopt, std::move(file)); }

std::optional<fs::path> PendingAckStore::file() const {
    if (file_) return file_;
    return defaultsFile(suiteName_);  // none without a home folder: nothing to read, nowhere to write
}

std::optional<PendingAck> PendingAckStore::get(std::string_view alertId) const {
    std::lock_guard lock(Defaults::processLock());
    const auto path = file();
    if (!path) return std::nullopt;
    return entry(records(*path), alertId);
}

std::vector<PendingAck> PendingAckStore::all() const {
    std::lock_guard lock(Defaults::processLock());
    const auto path = file();
    if (!path) return {};
    return sortedByAlertId(records(*path));
}

bool PendingAckStore::write(const fs::path& path, std::string_view alertId, const PendingAck& record) {
    json::Value encoded;
    try {
        encoded = json::parse(json::encode(record));
    } catch (const std::exception&) {
        return false;  // not encodable (text that is not UTF-8)
    }
    json::Object object = rawObject(path);
    object.insert_or_assign(std::string(alertId), std::move(encoded));
    return storeObject(path, object);
}

// Each read-modify-write holds the file against this process's other threads and against
// another instance of the app writing the same file.
bool PendingAckStore::put(const PendingAck& record) {
    const auto path = file();
    if (!path) return false;
    Defaults::WriteLock lock(*path);
    return write(*path, record.alertId, record);
}

bool PendingAckStore::remove(std::string_view alertId) {
    const auto path = file();
    if (!path) return true;  // no file: nothing stored
    Defaults::WriteLock lock(*path);
    json::Object object = rawObject(*path);
    const auto found = object.find(alertId);
    if (found == object.end()) return true;
    object.erase(found);
    return storeObject(*path, object);
}

bool PendingAckStore::removeAll() {
    const auto path = file();
    if (!path) return true;
    try {
        Defaults(*path).remove(key);
        return true;
    } catch (const std::exception&) {
        return false;  // the records stay
    }
}

bool PendingAckStore::removeUnchanged(std::string_view alertId, const PendingAck& expected) {
    const auto path = file();
    if (!path) return false;
    Defaults::WriteLock lock(*path);
    if (entry(records(*path), alertId) != expected) return false;
    return remove(alertId);
}

PendingAckStoring::Replaced PendingAckStore::replace(
    std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) {
    const auto path = file();
    if (!path) return Replaced::failed;
    Defaults::WriteLock lock(*path);
    if (entry(records(*path), alertId) != expected) return Replaced::overtaken;
    return write(*path, alertId, replacement) ? Replaced::written : Replaced::failed;
}

// ---- MemoryPendingAckStore ----

std::optional<PendingAck> MemoryPendingAckStore::get(std::string_view alertId) const {
    std::lock_guard lock(lock_);
    return entry(ledger_, alertId);
}

std::vector<PendingAck> MemoryPendingAckStore::all() const {
    std::lock_guard lock(lock_);
    return sortedByAlertId(ledger_);
}

bool MemoryPendingAckStore::put(const PendingAck& record) {
    std::lock_guard lock(lock_);
    ledger_.insert_or_assign(record.alertId, record);
    return true;
}

bool MemoryPendingAckStore::remove(std::string_view alertId) {
    std::lock_guard lock(lock_);
    if (const auto found = ledger_.find(alertId); found != ledger_.end()) ledger_.erase(found);
    return true;
}

bool MemoryPendingAckStore::removeAll() {
    std::lock_guard lock(lock_);
    ledger_.clear();
    return true;
}

bool MemoryPendingAckStore::removeUnchanged(std::string_view alertId, const PendingAck& expected) {
    std::lock_guard lock(lock_);
    const auto found = ledger_.find(alertId);
    if (found == ledger_.end() || found->second != expected) return false;
    ledger_.erase(found);
    return true;
}

PendingAckStoring::Replaced MemoryPendingAckStore::replace(
    std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) {
    std::lock_guard lock(lock_);
    if (entry(ledger_, alertId) != expected) return Replaced::overtaken;
    ledger_.insert_or_assign(std::string(alertId), replacement);
    return Replaced::written;
}

}  // namespace brisalune
