#pragma once

// A team's status pages, read only: the list, one page, its logo, a component's timeline, and
// a page's public address. Plane data.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/incidents/status_timeline.hpp>
#include <brisalune/platform/url.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// In the service's order; empty when the answer lists none.
std::vector<StatusPage> listStatusPages(const BrisaluneClient& client);
StatusPage getStatusPage(const BrisaluneClient& client, std::string_view pageId);
// The logo's bytes as received; none when the page has no logo (404).
std::optional<std::string> getStatusPageLogo(const BrisaluneClient& client, std::string_view pageId);
// `days` is sent as given; the service judges the range.
StatusTimeline getStatusTimeline(
    const BrisaluneClient& client, std::string_view pageId, std::string_view componentId, std::int64_t days);

// "/status/" and the slug under the client's base address (not the page's own `url`). Sends
// nothing; none when that is no address.
std::optional<platform::Url> publicStatusPageURL(const BrisaluneClient& client, std::string_view slug);

}  // namespace brisalune
