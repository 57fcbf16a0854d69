#include <brisalune/demo/demo_service.hpp>

#include <brisalune/client/version.hpp>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace brisalune::demo {

namespace {

// The fixture's release, offering the version after this build's where it names none.
ReleaseSeed offeredRelease(const ReleaseSeed& release, const std::string& webUrl) {
    const std::int64_t build = std::strtoll(build::buildNumber, nullptr, 10);
    return {release.path, offeredManifest(release, webUrl, build::version, build)};
}

}  // namespace

DemoService::DemoService(Fixture fixture, DemoOptions options)
    : fixture_(std::move(fixture))
    , newAlertEvery_(options.newAlertEvery)
    , hostedServer_(std::make_unique<standin::Server>(options.hostedPort))
    , boxServer_(std::make_unique<standin::Server>(options.boxPort))
    , webServer_(std::make_unique<standin::Server>(options.webPort))
    // The hosted service announces no portal: the app has the hosted web origin built in. The
    // box announces the web site, as a box's operator would its portal.
    , hosted_(std::make_unique<Site>(
          SiteKind::hosted,
          fixture_,
          *hostedServer_,
          Site::Addresses{hostedServer_->baseUrl(), boxServer_->baseUrl(), std::nullopt}))
    , box_(std::make_unique<Site>(
          SiteKind::box,
          fixture_,
          *boxServer_,
          Site::Addresses{boxServer_->baseUrl(), boxServer_->baseUrl(), webServer_->baseUrl()}))
    , web_(std::make_unique<WebSite>(offeredRelease(fixture_.release, webUrl()), *hosted_, *box_, *webServer_)) {
    if (newAlertEvery_.count() > 0 && !fixture_.arrivals.empty()) {
        arrivals_ = std::jthread([this](std::stop_token stop) { runArrivals(std::move(stop)); });
    }
}

DemoService::~DemoService() {
    if (arrivals_.joinable()) {
        arrivals_.request_stop();
        arrivals_.join();
    }
    hosted_->stop();
    box_->stop();
    // The servers go before the sites their routes call into.
    hostedServer_.reset();
    boxServer_.reset();
    webServer_.reset();
}

void DemoService::runArrivals(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    for (std::size_t next = 0;; ++next) {
        {
            std::unique_lock lock(mutex);
            wake.wait_for(lock, stop, newAlertEvery_, [] { return false; });
        }
        if (stop.stop_requested()) return;
        const auto& arrival = fixture_.arrivals[next % fixture_.arrivals.size()];
        (hosted_->holdsTeam(arrival.team) ? *hosted_ : *box_).raise(arrival);
        // Nobody reads the servers' request records here: keep them from growing.
        hostedServer_->clearRequests();
        boxServer_->clearRequests();
    }
}

}  // namespace brisalune::demo
