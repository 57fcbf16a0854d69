#pragma once

// One-key answer envelopes shared by every endpoint family. Their key is required; the
// booleans are never examined.

#include <brisalune/platform/json_codec.hpp>

#include <string>

namespace brisalune {

struct ChangedResponse {
    bool changed = false;
};
struct CreatedIdResponse {
    std::string id;
};
struct UpdatedResponse {
    bool updated = false;
};
struct DeletedResponse {
    bool deleted = false;
};
struct EnabledResponse {
    bool enabled = false;
};

template <>
inline constexpr auto json::keys<ChangedResponse> = json::object(json::field("changed", &ChangedResponse::changed));
template <>
inline constexpr auto json::keys<CreatedIdResponse> = json::object(json::field("id", &CreatedIdResponse::id));
template <>
inline constexpr auto json::keys<UpdatedResponse> = json::object(json::field("updated", &UpdatedResponse::updated));
template <>
inline constexpr auto json::keys<DeletedResponse> = json::object(json::field("deleted", &DeletedResponse::deleted));
template <>
inline constexpr auto json::keys<EnabledResponse> = json::object(json::field("enabled", &EnabledResponse::enabled));

// The body of a refusal: its message.
struct ErrorBody {
    std::string error;
};

template <>
inline constexpr auto json::keys<ErrorBody> = json::object(json::field("error", &ErrorBody::error));

}  // namespace brisalune
