#include <brisalune/client/logs/saved_views.hpp>

#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

// "id" is read as a text, else as an integer; when both fail, the integer's failure is reported.
void json::Rules<SavedView>::afterRead(const json::Node& object, SavedView& out) {
    bool found = false;
    object.forEachMember([&](std::string_view key, const json::Node& value) {
        if (key != "id") return;
        found = true;
        if (value.kind() == json::Node::Kind::string) {
            out.id = value.string();
        } else {
            out.id = std::to_string(value.integer<std::int64_t>());
        }
    });
    if (!found) {
        json::DecodeError error(json::DecodeError::Kind::keyNotFound, "");
        error.prependKey("id");
        throw error;
    }
}

void json::Rules<SavedView>::afterWrite(json::Writer& w, const SavedView& view) {
    w.key("id");
    w.string(view.id);
}

}  // namespace brisalune
