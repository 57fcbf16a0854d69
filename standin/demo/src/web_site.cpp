#include <brisalune/demo/web_site.hpp>

#include <brisalune/platform/json_decode.hpp>
#include <brisalune/platform/time.hpp>
#include <brisalune/platform/url.hpp>

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <utility>

namespace brisalune::demo {

namespace {

// ---- HTML ----

std::string escaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

// A path segment as an href wants it.
std::string segment(std::string_view text) { return platform::percentEncode(text, platform::isUnreserved); }

std::string link(std::string_view href, std::string_view text) {
    return "<a href=\"" + escaped(href) + "\">" + escaped(text) + "</a>";
}

standin::Reply page(std::string_view title, std::string_view body, int status = 200) {
    standin::Reply reply;
    reply.status = status;
    reply.headers = {{"Content-Type", "text/html; charset=utf-8"}, {"Cache-Control", "no-store"}};
    reply.body = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + escaped(title) +
                 " \u00b7 Brisalune demo</title>"
                 "<style>body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;color:#222}"
                 "th{text-align:left;padding-right:1.5em;font-weight:normal;color:#666}td,th{padding-top:.3em}"
                 ".note{color:#666;font-size:.9em;border-top:1px solid #ddd;padding-top:1em;margin-top:2em}"
                 "</style></head><body>\n" +
                 std::string(body) +
                 "\n<p class=\"note\">A page of the Brisalune demo service on this computer, standing in for "
                 "the service's web site. " +
                 link("/", "Demo home") + "</p>\n</body></html>\n";
    return reply;
}

standin::Reply notFound(std::string_view what) {
    return page("Not found", "<h1>Not found</h1>\n<p>" + escaped(what) + "</p>", 404);
}

std::string row(std::string_view label, std::string_view value) {
    return "<tr><th>" + escaped(label) + "</th><td>" + escaped(value) + "</td></tr>\n";
}

std::string when(std::int64_t secondsSince1970) {
    try {
        return platform::formatInternetDate(std::chrono::sys_seconds(std::chrono::seconds(secondsSince1970)));
    } catch (const std::out_of_range&) {
        return std::to_string(secondsSince1970);
    }
}

std::string alertsPath(std::string_view team) { return "/t/" + segment(team) + "/alerts"; }

// ---- the offered release ----

// "X.Y.Z" → "X.(Y+1).0"; a text of another shape gets ".1" added.
std::string nextMinor(std::string_view version) {
    int major = 0;
    int minor = 0;
    const char* end = version.data() + version.size();
    auto [afterMajor, majorError] = std::from_chars(version.data(), end, major);
    if (majorError == std::errc() && afterMajor != end && *afterMajor == '.') {
        auto [afterMinor, minorError] = std::from_chars(afterMajor + 1, end, minor);
        if (minorError == std::errc()) return std::to_string(major) + "." + std::to_string(minor + 1) + ".0";
    }
    return std::string(version) + ".1";
}

}  // namespace

json::Value offeredManifest(
    const ReleaseSeed& release, std::string_view webUrl, std::string_view running, std::int64_t runningBuild) {
    const auto* given = release.manifest.get<json::Object>();
    json::Object manifest = given ? *given : json::Object{};
    const std::string name = nextMinor(running);
    manifest.try_emplace("version_code", static_cast<double>(runningBuild + 1));
    manifest.try_emplace("version_name", name);
    manifest.try_emplace("url", std::string(webUrl) + "/downloads/brisalune-desktop-" + name + ".tar.gz");
    return json::Value(std::move(manifest));
}

WebSite::WebSite(const ReleaseSeed& release, const Site& hosted, const Site& box, standin::Server& server)
    : hosted_(hosted), box_(box), manifest_(json::write(release.manifest)) {
    // A manifest the app could not read is still served, as a broken one would be.
    release_ = SiteRelease::decode(manifest_).value_or(SiteRelease{});
    const auto address = platform::Url::parse(release_.url);
    downloadPath_ = address && !address->path().empty() ? address->path() : "/downloads/";
    const auto add = [this](std::string pattern, Reply (WebSite::*member)(const Request&, const PathValues&) const) {
        routes_.add("GET", std::move(pattern), [this, member](const Request& request, const PathValues& values) {
            return (this->*member)(request, values);
        });
    };
    add("/", &WebSite::home);
    add("/download", &WebSite::appPage);
    add(downloadPath_, &WebSite::download);
    add("/t/{team}/alerts", &WebSite::teamAlerts);
    add("/t/{team}/alerts/{alert}", &WebSite::alertPage);
    routes_.add("GET", release.path, [this](const Request&, const PathValues&) { return Reply::json(manifest_); });
    server.otherwise([this](const Request& request) { return answer(request); });
}

standin::Reply WebSite::answer(const Request& request) const {
    const auto found = routes_.find(request);
    if (!found) return notFound("There is no page at " + request.path + " in this demo.");
    return (*found->handler)(request, found->values);
}

std::optional<Site::PortalTeam> WebSite::team(std::string_view id) const {
    for (const Site* site : {&hosted_, &box_}) {
        for (Site::PortalTeam& held : site->portalTeams()) {
            if (held.id == id) return std::move(held);
        }
    }
    return std::nullopt;
}

standin::Reply WebSite::home(const Request&, const PathValues&) const {
    std::string body = "<h1>Brisalune demo</h1>\n<p>Alerts of the demo's teams, as the web portal lists them:</p>\n<ul>\n";
    for (const Site* site : {&hosted_, &box_}) {
        for (const Site::PortalTeam& held : site->portalTeams()) {
            body += "<li>" + link(alertsPath(held.id), held.name) + "</li>\n";
        }
    }
    body += "</ul>\n<p>" + link("/download", "Brisalune for Linux") + "</p>";
    return page("Home", body);
}

standin::Reply WebSite::appPage(const Request&, const PathValues&) const {
    std::string body = "<h1>Brisalune for Linux</h1>\n";
    if (!release_.versionName.empty()) {
        body += "<p>The newest release is " + escaped(release_.versionName) + ". " +
                link(downloadPath_, "Download Brisalune " + release_.versionName) + "</p>\n";
    }
    return page("Brisalune for Linux", body);
}

standin::Reply WebSite::download(const Request&, const PathValues&) const {
    std::string body = "<h1>Brisalune " + escaped(release_.versionName) + "</h1>\n";
    if (release_.notes) body += "<p>" + escaped(*release_.notes) + "</p>\n";
    body +=
        "<p>This is the release the demo service offers, so that the app's update row can be tried. There is no "
        "package to download here: a real installation's download address leads to the release itself.</p>\n";
    if (release_.sha256) body += "<table>\n" + row("SHA-256", *release_.sha256) + "</table>\n";
    return page("Brisalune " + release_.versionName, body);
}

standin::Reply WebSite::teamAlerts(const Request&, const PathValues& values) const {
    const std::optional<Site::PortalTeam> held = team(values.at("team"));
    if (!held) return notFound("This demo has no team " + values.at("team") + ".");
    std::string body = "<h1>" + escaped(held->name) + "</h1>\n";
    if (held->alerts.empty()) return page(held->name, body + "<p>No alerts.</p>");
    body += "<table>\n<tr><th>Alert</th><th>Project</th><th>State</th><th>Last seen</th></tr>\n";
    std::vector<AlertSnapshot> alerts = held->alerts;
    std::ranges::stable_sort(alerts, std::ranges::greater{}, &AlertSnapshot::lastSeen);
    for (const AlertSnapshot& alert : alerts) {
        body += "<tr><td>" + link(alertsPath(held->id) + "/" + segment(alert.id), alert.rule) + "</td><td>" +
                escaped(alert.project) + "</td><td>" + escaped(alert.state) + "</td><td>" + escaped(when(alert.lastSeen)) +
                "</td></tr>\n";
    }
    return page(held->name, body + "</table>");
}

standin::Reply WebSite::alertPage(const Request&, const PathValues& values) const {
    const std::optional<Site::PortalTeam> held = team(values.at("team"));
    if (!held) return notFound("This demo has no team " + values.at("team") + ".");
    const auto alert = std::ranges::find(held->alerts, values.at("alert"), &AlertSnapshot::id);
    if (alert == held->alerts.end()) return notFound(held->name + " has no alert " + values.at("alert") + ".");
    std::string body = "<p>" + link(alertsPath(held->id), held->name) + "</p>\n<h1>" + escaped(alert->rule) +
                       "</h1>\n<table>\n" + row("State", alert->state) + row("Project", alert->project) +
                       row("Level", std::to_string(alert->level)) + row("Events", std::to_string(alert->count)) +
                       row("Last message", alert->lastMessage);
    if (!alert->source.empty()) body += row("Source", alert->source);
    body += row("First seen", when(alert->firstSeen)) + row("Last seen", when(alert->lastSeen));
    if (alert->incident) {
        body += row("Incident", alert->incident->reference + " " + alert->incident->title + " (" +
                                    alert->incident->state + ")");
    }
    return page(alert->rule, body + "</table>");
}

}  // namespace brisalune::demo
