#pragma once

// A team's status pages, their components and each component's bindings to monitored targets
// of the team's projects. Read only: the client never creates or changes a page.

#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/platform/json_codec.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

namespace json {
class Node;
}

// One monitored target that drives a component.
struct StatusBinding {
    std::string project;
    std::string kind;
    std::string target;
    std::string impact{"major"};
    bool missing = false;

    friend bool operator==(const StatusBinding&, const StatusBinding&) = default;
};

// One component of a page. Identified by `id`, by which maintenance windows and status reports
// name it.
struct StatusComponent {
    std::string id;
    std::string group;  // empty: in no group
    std::string name;
    std::string description;
    std::int64_t position = 0;  // ascending on the page
    bool showLatency = false;
    std::vector<StatusBinding> bindings;
    std::optional<std::string> state;  // absent when the service sends none

    friend bool operator==(const StatusComponent&, const StatusComponent&) = default;
};

// A status page with its components, in the service's order. Identified by `id`.
struct StatusPage {
    std::string id;
    std::string slug;  // the page's segment in its public address
    std::string title;
    std::string description;
    std::string visibility{"public"};
    std::string timezone{"UTC"};
    bool ackGate = true;
    std::int64_t ackFallbackMinutes = 15;
    std::string accent;
    std::string supportURL;  // text as sent, never parsed
    bool hasLogo = false;
    std::string createdBy;
    std::int64_t createdAt = 0;
    std::int64_t updatedAt = 0;
    std::vector<StatusComponent> components;
    std::optional<platform::Url> url;  // as the service reports it; none too when the text is no address

    // Only the exact visibility "private" hides a page.
    bool isPublic() const noexcept { return visibility != "private"; }

    friend bool operator==(const StatusPage&, const StatusPage&) = default;
};

// clang-format off
template <>
inline constexpr auto json::keys<StatusBinding> = json::object(
    json::field("project", &StatusBinding::project),
    json::field("kind", &StatusBinding::kind),
    json::field("target", &StatusBinding::target),
    json::field("impact", &StatusBinding::impact, json::orDefault(std::string_view("major"))),
    json::field("missing", &StatusBinding::missing, json::orEmpty));

template <>
inline constexpr auto json::keys<StatusComponent> = json::object(
    json::field("id", &StatusComponent::id),
    json::field("group", &StatusComponent::group, json::orEmpty),
    json::field("name", &StatusComponent::name),
    json::field("description", &StatusComponent::description, json::orEmpty),
    json::field("position", &StatusComponent::position, json::orEmpty),
    json::field("show_latency", &StatusComponent::showLatency, json::orEmpty),
    json::field("bindings", &StatusComponent::bindings, json::orEmpty),
    json::field("state", &StatusComponent::state));

template <>
inline constexpr auto json::keys<StatusPage> = json::object(
    json::field("id", &StatusPage::id),
    json::field("slug", &StatusPage::slug),
    json::field("title", &StatusPage::title),
    json::field("description", &StatusPage::description, json::orEmpty),
    json::field("visibility", &StatusPage::visibility, json::orDefault(std::string_view("public"))),
    json::field("timezone", &StatusPage::timezone, json::orDefault(std::string_view("UTC"))),
    json::field("ack_gate", &StatusPage::ackGate, json::orDefault(true)),
    json::field("ack_fallback_minutes", &StatusPage::ackFallbackMinutes, json::orDefault(std::int64_t{15})),
    json::field("accent", &StatusPage::accent, json::orEmpty),
    json::field("support_url", &StatusPage::supportURL, json::orEmpty),
    json::field("has_logo", &StatusPage::hasLogo, json::orEmpty),
    json::field("created_by", &StatusPage::createdBy, json::orEmpty),
    json::field("created_at", &StatusPage::createdAt, json::orEmpty),
    json::field("updated_at", &StatusPage::updatedAt, json::orEmpty),
    json::field("components", &StatusPage::components, json::orEmpty),
    json::byRules(&StatusPage::url));

// "url" must be text when present; text that is no address reads as none.
template <>
struct json::Rules<StatusPage> {
    static void afterRead(const json::Node& object, StatusPage& out);
};

// clang-format on

// The answer listing the team's status pages; no list reads as none.
struct StatusPagesResponse {
    std::optional<std::vector<StatusPage>> statusPages;
};

template <>
inline constexpr auto json::keys<StatusPagesResponse> =
    json::object(json::field("status_pages", &StatusPagesResponse::statusPages));

}  // namespace brisalune

template <>
struct std::hash<brisalune::StatusBinding> : brisalune::RecordHash<brisalune::StatusBinding> {};
template <>
struct std::hash<brisalune::StatusComponent> : brisalune::RecordHash<brisalune::StatusComponent> {};
template <>
struct std::hash<brisalune::StatusPage> : brisalune::RecordHash<brisalune::StatusPage> {};
