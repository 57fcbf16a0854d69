#pragma once

// Incidents: the list, one incident, opening and changing one, the team's incident settings,
// timeline entries, attached alerts and the lifecycle (accept, resolve, reopen, publish, rotate
// the public link). Plane data. An incident is addressed by its number.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/incidents/incidents.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

// One page as answered; `before` and the page's `next` are passed through. `needsCause` false
// sends the same as absent.
IncidentPage listIncidents(
    const BrisaluneClient& client,
    std::optional<std::string> state,
    std::optional<bool> needsCause,
    std::int64_t limit,
    std::optional<std::string> before = std::nullopt);
IncidentDetail incident(const BrisaluneClient& client, std::int64_t number);
// Throws IncidentOpenedAlertElsewhere when the draft's alert is held by another incident.
IncidentDetail createIncident(const BrisaluneClient& client, const IncidentDraft& draft);
IncidentDetail editIncident(const BrisaluneClient& client, std::int64_t number, const IncidentEdit& edit);

IncidentSettings incidentSettings(const BrisaluneClient& client);
// The settings as answered, which may differ from those sent.
IncidentSettings updateIncidentSettings(const BrisaluneClient& client, const IncidentSettings& settings);

// The new entry's id.
std::string addIncidentEntry(const BrisaluneClient& client, std::int64_t number, const IncidentEntryDraft& draft);
void updateIncidentEntry(
    const BrisaluneClient& client, std::int64_t number, std::string_view entryId, const IncidentEntryDraft& draft);
void deleteIncidentEntry(const BrisaluneClient& client, std::int64_t number, std::string_view entryId);

// The alerts as answered. `move` asks for alerts held elsewhere to be moved; without it such an
// alert throws IncidentAlertConflict.
std::vector<IncidentAlert> attachAlerts(
    const BrisaluneClient& client, std::int64_t number, const std::vector<std::string>& alertIds, bool move);
void detachAlert(const BrisaluneClient& client, std::int64_t number, std::string_view alertId);

IncidentDetail acceptIncident(const BrisaluneClient& client, std::int64_t number);
IncidentDetail resolveIncident(
    const BrisaluneClient& client, std::int64_t number, const IncidentResolution& resolution);
IncidentDetail reopenIncident(const BrisaluneClient& client, std::int64_t number);
IncidentDetail publishIncident(
    const BrisaluneClient& client, std::int64_t number, const IncidentPublication& publication);
RotatedIncidentLink rotateIncidentLink(const BrisaluneClient& client, std::int64_t number);

}  // namespace brisalune
