// Push payloads are untrusted: any bytes that read as a JSON object must give a tap that keeps
// its promises, or none, and every text they carry must reach the notification service as text
// (no NUL, no markup when the service reads markup in bodies).
#include <brisalune/platform/json.hpp>
#include <brisalune/push/freedesktop_notifications.hpp>
#include <brisalune/push/push_tap.hpp>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

namespace json = brisalune::json;
using brisalune::FreedesktopNotificationCenter;
using brisalune::PushTap;

void require(bool condition) {
    if (!condition) std::abort();
}

void checkText(std::string_view text) {
    const QString plain = FreedesktopNotificationCenter::bodyText(text, false);
    const QString escaped = FreedesktopNotificationCenter::bodyText(text, true);
    require(!plain.contains(QChar(u'\0')));
    require(!escaped.contains(u'<') && !escaped.contains(u'>') && !escaped.contains(u'"'));
    QString unescaped = escaped;
    unescaped.replace(QStringLiteral("&lt;"), QStringLiteral("<"))
        .replace(QStringLiteral("&gt;"), QStringLiteral(">"))
        .replace(QStringLiteral("&quot;"), QStringLiteral("\""))
        .replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    require(unescaped == plain);
}

void checkTap(const json::Object& payload) {
    const std::optional<PushTap> tap = PushTap::parse(payload);
    if (!tap) return;
    if (const auto* alert = tap->get<PushTap::Alert>()) require(!alert->id.empty());
    if (const auto* incident = tap->get<PushTap::Incident>()) require(incident->number >= 1);
    require(PushTap::parse(payload) == tap);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    checkText(text);
    json::Value payload;
    try {
        payload = json::parse(text);
    } catch (const json::DecodeError&) {
        return 0;
    }
    const auto* object = payload.get<json::Object>();
    if (!object) return 0;
    checkTap(*object);
    for (const auto& [key, value] : *object) {
        checkText(key);
        if (const auto* string = value.get<std::string>()) checkText(*string);
    }
    return 0;
}
