#pragma once

// Where pending acknowledgements are kept: one record per alert id, with the compare-and-swap
// on which an attempt rests. Reads report no error (unreadable data reads as empty); every write
// says whether it reached the store, so that nothing is reported as kept that was not.

#include <brisalune/client/alerts/pending_ack.hpp>

#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

class PendingAckStoring {
public:
    virtual ~PendingAckStoring() = default;

    // The record stored under the id (the member name, whatever the record's own alertId says).
    virtual std::optional<PendingAck> get(std::string_view alertId) const = 0;
    // Every readable record, sorted by alertId.
    virtual std::vector<PendingAck> all() const = 0;
    // Stores the record under its own alertId; false when nothing could be written.
    virtual bool put(const PendingAck& record) = 0;
    // False when the record could not be removed (it may still be there); true when it is gone
    // or was never there.
    virtual bool remove(std::string_view alertId) = 0;
    virtual bool removeAll() = 0;
    // Removes the record under the id only while it equals `expected`; false when it was not
    // removed (another record stands there, or the write failed).
    virtual bool removeUnchanged(std::string_view alertId, const PendingAck& expected) = 0;
    // What a compare-and-swap did: written; overtaken when another record stands under the id
    // (nothing written); failed when the write did not reach the store (what stood is left).
    enum class Replaced { written, overtaken, failed };
    // Writes the replacement under the id only while the stored record equals `expected`
    // (both absent counts as equal).
    virtual Replaced replace(
        std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) = 0;

protected:
    PendingAckStoring() = default;
    PendingAckStoring(const PendingAckStoring&) = default;
    PendingAckStoring& operator=(const PendingAckStoring&) = default;
};

// The records in the user defaults under "brisalune.pending-acks": one compact JSON object,
// stored as data, whose member names are alert ids. Keeps no copy: every operation reads and
// writes the file, each write under the defaults' write lock (so another instance of the app on
// the same home folder waits for it rather than write over it), and every write is on disk
// (fsynced and renamed) when it returns. Members that do not decode are invisible to reads and
// kept by every write.
class PendingAckStore final : public PendingAckStoring {
public:
    static constexpr std::string_view key = "brisalune.pending-acks";

    // The suite's own defaults file beside the standard one, when the name can be a file name;
    // otherwise the standard defaults.
    explicit PendingAckStore(std::optional<std::string> suiteName = std::nullopt);
    // A store over the defaults kept in this file.
    static PendingAckStore inFile(std::filesystem::path file);

    const std::optional<std::string>& suiteName() const noexcept { return suiteName_; }

    std::optional<PendingAck> get(std::string_view alertId) const override;
    std::vector<PendingAck> all() const override;
    bool put(const PendingAck& record) override;
    bool remove(std::string_view alertId) override;
    bool removeAll() override;
    bool removeUnchanged(std::string_view alertId, const PendingAck& expected) override;
    Replaced replace(
        std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) override;

private:
    PendingAckStore(std::optional<std::string> suiteName, std::optional<std::filesystem::path> file);
    std::optional<std::filesystem::path> file() const;
    static bool write(const std::filesystem::path& path, std::string_view alertId, const PendingAck& record);

    std::optional<std::string> suiteName_;
    std::optional<std::filesystem::path> file_;  // set by inFile
};

// The same behaviour in memory, without persistence.
class MemoryPendingAckStore final : public PendingAckStoring {
public:
    std::optional<PendingAck> get(std::string_view alertId) const override;
    std::vector<PendingAck> all() const override;
    bool put(const PendingAck& record) override;
    bool remove(std::string_view alertId) override;
    bool removeAll() override;
    bool removeUnchanged(std::string_view alertId, const PendingAck& expected) override;
    Replaced replace(
        std::string_view alertId, const std::optional<PendingAck>& expected, const PendingAck& replacement) override;

private:
    mutable std::mutex lock_;
    std::map<std::string, PendingAck, std::less<>> ledger_;
};

}  // namespace brisalune
