#pragma once

// What the demo service writes that the client only reads in a looser form of its own: the
// validation answer and the join code's payload. Every other record, body and envelope is the
// client library's own.

#include <brisalune/client/accounts/accounts.hpp>
#include <brisalune/client/boxes/pairing.hpp>
#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/devices/devices.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/client/monitoring/checks.hpp>
#include <brisalune/client/monitoring/sources.hpp>
#include <brisalune/platform/json_codec.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brisalune::demo {

// One refused field of a validation answer.
struct FieldProblem {
    std::string field;
    std::string message;
};

// A 422 answer: what was refused, field by field.
struct ValidationBody {
    std::string error;
    std::vector<FieldProblem> fields;
};

// What a join code carries, before "blj_" and base64url.
struct JoinCodePayload {
    std::string boxURL;
    std::string hostedTenantId;
    std::string code;
    bool seat = false;
    std::int64_t version = 1;
};

}  // namespace brisalune::demo

namespace brisalune {

// clang-format off
template <>
inline constexpr auto json::keys<demo::FieldProblem> = json::object(
    json::field("field", &demo::FieldProblem::field),
    json::field("message", &demo::FieldProblem::message));

template <>
inline constexpr auto json::keys<demo::ValidationBody> = json::object(
    json::field("error", &demo::ValidationBody::error),
    json::field("fields", &demo::ValidationBody::fields));

template <>
inline constexpr auto json::keys<demo::JoinCodePayload> = json::object(
    json::field("u", &demo::JoinCodePayload::boxURL),
    json::field("t", &demo::JoinCodePayload::hostedTenantId),
    json::field("c", &demo::JoinCodePayload::code),
    json::field("s", &demo::JoinCodePayload::seat),
    json::field("v", &demo::JoinCodePayload::version));
// clang-format on

}  // namespace brisalune
