#include <brisalune/app/ui/notices.hpp>

namespace brisalune {

std::string noWebPortalNotice(const platform::Url& address) {
    const std::optional<std::string> host = address.host();
    const std::string& name = host && !host->empty() ? *host : address.text();
    return name + " has no web portal. Its operator turns one on with -portal-origin.";
}

QString qText(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

QString buttonTitle(std::string_view text) { return qText(text).replace(QLatin1Char('&'), QStringLiteral("&&")); }

}  // namespace brisalune
