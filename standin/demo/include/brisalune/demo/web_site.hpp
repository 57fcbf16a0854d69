#pragma once

// The demo's public web site and web portal, on a stand-in server of its own: the release
// manifest and the page its download address leads to, the app's page, and a small HTML page for
// each team's alerts and for each alert, where the app's portal links lead
// (/t/{team}/alerts[/{alert}]). Pages are read from the hosted service and the box as they are
// when asked.

#include <brisalune/client/updates/site_release.hpp>
#include <brisalune/demo/fixture.hpp>
#include <brisalune/demo/routes.hpp>
#include <brisalune/demo/site.hpp>
#include <brisalune/standin/server.hpp>

#include <string>
#include <string_view>

namespace brisalune::demo {

// The release the demo offers: what the fixture's manifest gives, and for what it leaves out the
// next minor version after this build's (`running`, "X.Y.Z"), the build number after
// `runningBuild`, and a download page on `webUrl`.
json::Value offeredManifest(
    const ReleaseSeed& release, std::string_view webUrl, std::string_view running, std::int64_t runningBuild);

class WebSite {
public:
    // Serves on `server` until it stops; the sites outlive it.
    WebSite(const ReleaseSeed& release, const Site& hosted, const Site& box, standin::Server& server);
    WebSite(const WebSite&) = delete;
    WebSite& operator=(const WebSite&) = delete;

    // The manifest as served, and the release it describes.
    const std::string& manifest() const noexcept { return manifest_; }
    const SiteRelease& release() const noexcept { return release_; }

private:
    using Request = standin::ReceivedRequest;
    using Reply = standin::Reply;

    Reply answer(const Request& request) const;
    Reply home(const Request&, const PathValues&) const;
    Reply appPage(const Request&, const PathValues&) const;
    Reply download(const Request&, const PathValues&) const;
    Reply teamAlerts(const Request&, const PathValues&) const;
    Reply alertPage(const Request&, const PathValues&) const;
    // The team as the site that keeps its data shows it; none when neither does.
    std::optional<Site::PortalTeam> team(std::string_view id) const;

    const Site& hosted_;
    const Site& box_;
    std::string manifest_;
    SiteRelease release_;
    std::string downloadPath_;
    Routes routes_;
};

}  // namespace brisalune::demo
