#pragma once

// Texts the windows and the notification handling show, and how texts go onto widgets.

#include <brisalune/platform/url.hpp>

#include <QString>

#include <string>
#include <string_view>

namespace brisalune {

// "<host> has no web portal. Its operator turns one on with -portal-origin." (the whole address
// when it has no host).
std::string noWebPortalNotice(const platform::Url& address);

// A text as a button's title: "&" stays an ampersand instead of marking a shortcut.
QString buttonTitle(std::string_view text);

QString qText(std::string_view text);

}  // namespace brisalune
