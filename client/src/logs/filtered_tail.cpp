#include <brisalune/client/logs/filtered_tail.hpp>

namespace brisalune {

std::vector<platform::QueryItem> LogTailFilter::queryItems() const {
    std::vector<platform::QueryItem> items;
    if (source) items.push_back({"source", *source});
    if (minLevel) items.push_back({"min_level", std::to_string(*minLevel)});
    if (messageTemplate) items.push_back({"template", *messageTemplate});
    return items;
}

}  // namespace brisalune
