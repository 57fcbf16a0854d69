#include <brisalune/client/incidents/incident_endpoints.hpp>

#include <brisalune/client/core/envelopes.hpp>
#include <brisalune/client/detail/answers.hpp>
#include <brisalune/client/detail/incident_calls.hpp>
#include <brisalune/platform/json_decode.hpp>

#include <optional>
#include <utility>

namespace brisalune {

namespace {

// The 409 body of an incident opened for an alert another incident holds.
struct OpenedElsewhereBody {
    std::int64_t number = 0;
    std::string alertId;
    std::int64_t incident = 0;
};

struct AttachAlertsBody {
    std::vector<std::string> alertIds;
    std::optional<bool> move;  // true or left out, never false
};

struct AttachedAlertsResponse {
    std::optional<std::vector<IncidentAlert>> alerts;
};

// The 409 body of an attach that names an alert another incident holds.
struct AlertConflictBody {
    std::string alertId;
    std::int64_t incident = 0;
};

}  // namespace

// clang-format off
template <>
inline constexpr auto json::keys<OpenedElsewhereBody> = json::object(
    json::field("number", &OpenedElsewhereBody::number),
    json::field("alert_id", &OpenedElsewhereBody::alertId),
    json::field("incident", &OpenedElsewhereBody::incident));

template <>
inline constexpr auto json::keys<AttachAlertsBody> = json::object(
    json::field("alert_ids", &AttachAlertsBody::alertIds),
    json::field("move", &AttachAlertsBody::move));

template <>
inline constexpr auto json::keys<AttachedAlertsResponse> = json::object(
    json::field("alerts", &AttachedAlertsResponse::alerts));

template <>
inline constexpr auto json::keys<AlertConflictBody> = json::object(
    json::field("alert_id", &AlertConflictBody::alertId),
    json::field("incident", &AlertConflictBody::incident));
// clang-format on

namespace {

// A 409 whose body reads as Body is thrown as the error `make` builds from it; any other answer
// is left to the usual handling, an unreadable 409 to the status mapping.
template <class Body, class Make>
void throwKnownConflict(const Answer& answer, Make make) {
    if (answer.status != 409) return;
    std::optional<Body> body;
    try {
        body = json::decode<Body>(answer.body);
    } catch (const json::DecodeError&) {
        return;
    }
    throw make(std::move(*body));
}

}  // namespace

IncidentPage listIncidents(
    const BrisaluneClient& client,
    std::optional<std::string> state,
    std::optional<bool> needsCause,
    std::int64_t limit,
    std::optional<std::string> before) {
    Call call = dataCall("GET", "/v1/incidents");
    call.query.push_back({"limit", std::to_string(limit)});
    if (state) call.query.push_back({"state", std::move(*state)});
    if (needsCause == true) call.query.push_back({"needs_cause", "true"});
    if (before) call.query.push_back({"before", std::move(*before)});
    return fetch<IncidentPage>(client, call);
}

IncidentDetail incident(const BrisaluneClient& client, std::int64_t number) {
    return fetch<IncidentDetail>(client, dataCall("GET", incidentPath(number)));
}

IncidentDetail createIncident(const BrisaluneClient& client, const IncidentDraft& draft) {
    const Answer answer = client.send(dataCall("POST", "/v1/incidents"), draft);
    throwKnownConflict<OpenedElsewhereBody>(answer, [](OpenedElsewhereBody body) {
        return IncidentOpenedAlertElsewhere(body.number, std::move(body.alertId), body.incident);
    });
    return decodeAnswer<IncidentDetail>(requireSuccess(answer).body);
}

IncidentDetail editIncident(const BrisaluneClient& client, std::int64_t number, const IncidentEdit& edit) {
    return fetch<IncidentDetail>(client, dataCall("PATCH", incidentPath(number)), edit);
}

IncidentSettings incidentSettings(const BrisaluneClient& client) {
    return fetch<IncidentSettings>(client, dataCall("GET", "/v1/incident-settings"));
}

IncidentSettings updateIncidentSettings(const BrisaluneClient& client, const IncidentSettings& settings) {
    return fetch<IncidentSettings>(client, dataCall("PUT", "/v1/incident-settings"), settings);
}

std::string addIncidentEntry(const BrisaluneClient& client, std::int64_t number, const IncidentEntryDraft& draft) {
    return fetch<CreatedIdResponse>(client, dataCall("POST", incidentPath(number, "/entries")), draft).id;
}

void updateIncidentEntry(
    const BrisaluneClient& client, std::int64_t number, std::string_view entryId, const IncidentEntryDraft& draft) {
    perform(client, dataCall("PUT", incidentPath(number, "/entries/" + escapedPathSegment(entryId))), draft);
}

void deleteIncidentEntry(const BrisaluneClient& client, std::int64_t number, std::string_view entryId) {
    perform(client, dataCall("DELETE", incidentPath(number, "/entries/" + escapedPathSegment(entryId))));
}

std::vector<IncidentAlert> attachAlerts(
    const BrisaluneClient& client, std::int64_t number, const std::vector<std::string>& alertIds, bool move) {
    const AttachAlertsBody body{.alertIds = alertIds, .move = move ? std::optional(true) : std::nullopt};
    const Answer answer = client.send(dataCall("POST", incidentPath(number, "/alerts")), body);
    throwKnownConflict<AlertConflictBody>(answer, [](AlertConflictBody conflict) {
        return IncidentAlertConflict(std::move(conflict.alertId), conflict.incident);
    });
    return decodeAnswer<AttachedAlertsResponse>(requireSuccess(answer).body)
        .alerts.value_or(std::vector<IncidentAlert>{});
}

void detachAlert(const BrisaluneClient& client, std::int64_t number, std::string_view alertId) {
    perform(client, dataCall("DELETE", incidentPath(number, "/alerts/" + escapedPathSegment(alertId))));
}

IncidentDetail acceptIncident(const BrisaluneClient& client, std::int64_t number) {
    return fetch<IncidentDetail>(client, dataCall("POST", incidentPath(number, "/accept")));
}

IncidentDetail resolveIncident(
    const BrisaluneClient& client, std::int64_t number, const IncidentResolution& resolution) {
    return fetch<IncidentDetail>(client, dataCall("POST", incidentPath(number, "/resolve")), resolution);
}

IncidentDetail reopenIncident(const BrisaluneClient& client, std::int64_t number) {
    return fetch<IncidentDetail>(client, dataCall("POST", incidentPath(number, "/reopen")));
}

IncidentDetail publishIncident(
    const BrisaluneClient& client, std::int64_t number, const IncidentPublication& publication) {
    return fetch<IncidentDetail>(client, dataCall("PUT", incidentPath(number, "/publish")), publication);
}

RotatedIncidentLink rotateIncidentLink(const BrisaluneClient& client, std::int64_t number) {
    return fetch<RotatedIncidentLink>(client, dataCall("POST", incidentPath(number, "/rotate-link")));
}

}  // namespace brisalune
