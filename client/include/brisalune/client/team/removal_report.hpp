#pragma once

// What removing a member from a team touched, as the service reports it: the schedules,
// escalations and overrides the member was taken out of, and the objects it disabled or whose
// ownership it moved.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace brisalune {

// One object of a project that the removal touched.
struct RemovedMemberObject {
    std::string kind{};
    std::string project{};
    std::optional<std::string> id{};
    std::optional<std::string> name{};
    std::optional<std::string> type{};
    std::optional<std::string> url{};  // a text as sent, never parsed as an address

    // The name when it is not empty, else the id when it is not empty, else the kind.
    const std::string& displayLabel() const noexcept;

    friend bool operator==(const RemovedMemberObject&, const RemovedMemberObject&) = default;
};

// Every key is required; lists keep the service's order, which equality respects.
struct MemberRemovalReport {
    std::string removed{};
    std::vector<std::string> schedules{};
    std::vector<std::string> escalations{};
    std::vector<std::string> overrides{};
    std::vector<RemovedMemberObject> disabled{};
    std::vector<RemovedMemberObject> sources{};

    friend bool operator==(const MemberRemovalReport&, const MemberRemovalReport&) = default;
};

template <>
inline constexpr auto json::keys<RemovedMemberObject> = json::object(
    json::field("kind", &RemovedMemberObject::kind),
    json::field("project", &RemovedMemberObject::project),
    json::field("id", &RemovedMemberObject::id),
    json::field("name", &RemovedMemberObject::name),
    json::field("type", &RemovedMemberObject::type),
    json::field("url", &RemovedMemberObject::url));

template <>
inline constexpr auto json::keys<MemberRemovalReport> = json::object(
    json::field("removed", &MemberRemovalReport::removed),
    json::field("schedules", &MemberRemovalReport::schedules),
    json::field("escalations", &MemberRemovalReport::escalations),
    json::field("overrides", &MemberRemovalReport::overrides),
    json::field("disabled", &MemberRemovalReport::disabled),
    json::field("sources", &MemberRemovalReport::sources));

}  // namespace brisalune

template <>
struct std::hash<brisalune::RemovedMemberObject> : brisalune::RecordHash<brisalune::RemovedMemberObject> {};
template <>
struct std::hash<brisalune::MemberRemovalReport> : brisalune::RecordHash<brisalune::MemberRemovalReport> {};
