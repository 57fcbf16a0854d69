#include <brisalune/client/roles/roles.hpp>

#include <brisalune/client/roles/team_role.hpp>
#include <brisalune/platform/json_decode.hpp>

namespace brisalune {

namespace {

// Reads the object's `key` into `out` when it is there and not null; says whether it did.
template <class T>
bool readPresent(const json::Node& object, std::string_view key, T& out) {
    bool read = false;
    object.forEachMember([&](std::string_view name, const json::Node& value) {
        if (name != key || value.isNull()) return;
        json::Codec<T>::read(value, out);
        read = true;
    });
    return read;
}

}  // namespace

void json::Rules<RoleDef>::afterRead(const json::Node& object, RoleDef& out) {
    if (!readPresent(object, "name", out.name)) out.name = out.id;
}

void json::Rules<RoleDef>::afterWrite(json::Writer& w, const RoleDef& def) {
    w.key("name");
    w.string(def.name);
}

void json::Rules<RolesResponse>::afterRead(const json::Node& object, RolesResponse& out) {
    if (!readPresent(object, "roles", out.roles)) out.roles.assign(TeamRole::builtIn.begin(), TeamRole::builtIn.end());
}

void json::Rules<RolesResponse>::afterWrite(json::Writer& w, const RolesResponse& response) {
    w.key("roles");
    json::writeValue(w, response.roles);
}

}  // namespace brisalune

std::size_t std::hash<brisalune::RoleDef>::operator()(const brisalune::RoleDef& def) const {
    std::size_t seed = 0;
    auto mix = [&](std::size_t h) { seed ^= h + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); };
    mix(std::hash<std::string>{}(def.id));
    mix(std::hash<std::string>{}(def.name));
    mix(std::hash<bool>{}(def.builtin));
    mix(def.permissions.size());
    for (const std::string& key : def.permissions) mix(std::hash<std::string>{}(key));
    return seed;
}
