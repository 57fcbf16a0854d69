#pragma once

// The run history of a browser check as the service keeps it: runs with their steps, web vitals
// and the files they left; why a check is paused; and why the service may refuse a run's file.
// Times are integers exactly as the service sends them; statuses, kinds and reasons are its words.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

struct RolePermissions;

// One step of the run's script, in script order.
struct BrowserStep {
    std::string name;
    std::string status;
    std::int64_t durationMs = 0;  // under the short key "ms"
    std::optional<std::string> error;

    friend bool operator==(const BrowserStep&, const BrowserStep&) = default;
};

// Each value is absent when it was not measured.
struct BrowserVitals {
    std::optional<double> lcpMs;
    std::optional<double> cls;
    std::optional<double> inpMs;

    friend bool operator==(const BrowserVitals&, const BrowserVitals&) = default;
};

// One file a run left; its content is fetched by name.
struct BrowserArtifact {
    std::string kind;
    std::int64_t bytes = 0;
    std::string sha256;

    friend bool operator==(const BrowserArtifact&, const BrowserArtifact&) = default;
};

// One run of a browser check; identified by `runId`.
struct BrowserRun {
    std::string runId;
    std::string source;
    std::int64_t scriptVersion = 0;
    std::string status;
    std::int64_t receivedAt = 0;
    std::int64_t durationMs = 0;
    std::optional<std::string> trigger;
    std::vector<BrowserStep> steps;
    BrowserVitals vitals;
    std::vector<BrowserArtifact> artifacts;
    std::optional<std::int64_t> artifactsExpireAt;
    std::optional<std::string> artifactsStorage;

    const std::string& id() const noexcept { return runId; }

    friend bool operator==(const BrowserRun&, const BrowserRun&) = default;
};

// Why a check is paused and until when.
struct CheckPause {
    std::string reason;
    std::string message;  // the service's own text for the user
    std::int64_t resumesAt = 0;

    // The reason is exactly "local_only".
    bool isLocalOnly() const noexcept { return reason == "local_only"; }

    friend bool operator==(const CheckPause&, const CheckPause&) = default;
};

// The service's reason for not handing out a run's file. Thrown by the artifact download in place
// of the client error; not a BrisaluneError. Callers show `message()`.
class BrowserArtifactRefusal : public std::exception {
public:
    enum class Case { expired, missing, runnerOffline, runnerTimeout, mismatch, needsChecksWrite };

    explicit BrowserArtifactRefusal(Case refusal) noexcept : case_(refusal) {}

    // The refusal whose code is exactly `code` ("artifacts_expired", ...); none for any other text.
    static std::optional<BrowserArtifactRefusal> fromCode(std::string_view code) noexcept;

    // Whether the service would refuse this caller the run files of a check that has secret
    // variables (`envKeys`) for want of edit access to it in `project`. No prediction without
    // secret variables or without known permissions (nullptr).
    static std::optional<BrowserArtifactRefusal> predicted(
        std::span<const std::string> envKeys, const RolePermissions* permissions, std::string_view project);

    Case kind() const noexcept { return case_; }
    // The text shown to the user.
    std::string_view message() const noexcept;
    const char* what() const noexcept override;

    friend bool operator==(const BrowserArtifactRefusal& a, const BrowserArtifactRefusal& b) noexcept {
        return a.case_ == b.case_;
    }

private:
    Case case_;
};

// ---- key tables ---------------------------------------------------------------------------

template <>
inline constexpr auto json::keys<BrowserStep> = json::object(
    json::field("name", &BrowserStep::name),
    json::field("status", &BrowserStep::status),
    json::field("ms", &BrowserStep::durationMs),
    json::field("error", &BrowserStep::error));

template <>
inline constexpr auto json::keys<BrowserVitals> = json::object(
    json::field("lcp_ms", &BrowserVitals::lcpMs),
    json::field("cls", &BrowserVitals::cls),
    json::field("inp_ms", &BrowserVitals::inpMs));

template <>
inline constexpr auto json::keys<BrowserArtifact> = json::object(
    json::field("kind", &BrowserArtifact::kind),
    json::field("bytes", &BrowserArtifact::bytes),
    json::field("sha256", &BrowserArtifact::sha256));

template <>
inline constexpr auto json::keys<BrowserRun> = json::object(
    json::field("run_id", &BrowserRun::runId),
    json::field("source", &BrowserRun::source, json::orEmpty),
    json::field("script_version", &BrowserRun::scriptVersion, json::orEmpty),
    json::field("status", &BrowserRun::status),
    json::field("received_at", &BrowserRun::receivedAt),
    json::field("duration_ms", &BrowserRun::durationMs, json::orEmpty),
    json::field("trigger", &BrowserRun::trigger),
    json::field("steps", &BrowserRun::steps, json::orEmpty),
    json::field("vitals", &BrowserRun::vitals, json::orEmpty),
    json::field("artifacts", &BrowserRun::artifacts, json::orEmpty),
    json::field("artifacts_expire_at", &BrowserRun::artifactsExpireAt),
    json::field("artifacts_storage", &BrowserRun::artifactsStorage));

template <>
inline constexpr auto json::keys<CheckPause> = json::object(
    json::field("reason", &CheckPause::reason),
    json::field("message", &CheckPause::message),
    json::field("resumes_at", &CheckPause::resumesAt));

}  // namespace brisalune

template <>
struct std::hash<brisalune::BrowserStep> : brisalune::RecordHash<brisalune::BrowserStep> {};
template <>
struct std::hash<brisalune::BrowserVitals> : brisalune::RecordHash<brisalune::BrowserVitals> {};
template <>
struct std::hash<brisalune::BrowserArtifact> : brisalune::RecordHash<brisalune::BrowserArtifact> {};
template <>
struct std::hash<brisalune::BrowserRun> : brisalune::RecordHash<brisalune::BrowserRun> {};
template <>
struct std::hash<brisalune::CheckPause> : brisalune::RecordHash<brisalune::CheckPause> {};
template <>
struct std::hash<brisalune::BrowserArtifactRefusal> {
    std::size_t operator()(const brisalune::BrowserArtifactRefusal& refusal) const noexcept {
        return std::hash<int>{}(static_cast<int>(refusal.kind()));
    }
};
