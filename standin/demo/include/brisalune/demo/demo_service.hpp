#pragma once

// The demo service: the hosted service and one self-hosted box, in memory and seeded from a
// fixture, each on its own loopback port, with new alerts arriving while it runs; and on a third
// port the web site (web_site.hpp): the release manifest, its download page and the web portal's
// alert pages.

#include <brisalune/demo/fixture.hpp>
#include <brisalune/demo/site.hpp>
#include <brisalune/demo/web_site.hpp>
#include <brisalune/standin/server.hpp>

#include <chrono>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace brisalune::demo {

struct DemoOptions {
    // The ports to serve on; 0: ports the kernel chooses.
    int hostedPort = 0;
    int boxPort = 0;
    // How often a new alert arrives; zero or less: never.
    std::chrono::milliseconds newAlertEvery = std::chrono::minutes(1);
    // The web site's port; 0: one the kernel chooses.
    int webPort = 0;
};

class DemoService {
public:
    // Throws std::runtime_error when a port cannot be had.
    explicit DemoService(Fixture fixture, DemoOptions options = {});
    // Stops at once: held pulls are answered, connections dropped.
    ~DemoService();
    DemoService(const DemoService&) = delete;
    DemoService& operator=(const DemoService&) = delete;

    std::string hostedUrl() const { return hostedServer_->baseUrl(); }
    std::string boxUrl() const { return boxServer_->baseUrl(); }
    // The web site: the hosted service's web-application origin and the box's portal origin.
    std::string webUrl() const { return webServer_->baseUrl(); }
    std::string manifestUrl() const { return webUrl() + fixture_.release.path; }
    // The release the manifest offers: one above this build (see offeredManifest).
    const SiteRelease& release() const noexcept { return web_->release(); }
    // The join code of the box's standing pairing code.
    std::string joinCode() const { return box_->standingJoinCode(); }
    const Fixture& fixture() const noexcept { return fixture_; }

    Site& hosted() noexcept { return *hosted_; }
    // The hosted service's server, where a test may put routes of its own before the demo's.
    standin::Server& hostedServer() noexcept { return *hostedServer_; }
    Site& box() noexcept { return *box_; }

private:
    void runArrivals(std::stop_token stop);

    Fixture fixture_;
    std::chrono::milliseconds newAlertEvery_;
    std::unique_ptr<standin::Server> hostedServer_;
    std::unique_ptr<standin::Server> boxServer_;
    std::unique_ptr<standin::Server> webServer_;
    std::unique_ptr<Site> hosted_;
    std::unique_ptr<Site> box_;
    std::unique_ptr<WebSite> web_;
    std::jthread arrivals_;
};

}  // namespace brisalune::demo
