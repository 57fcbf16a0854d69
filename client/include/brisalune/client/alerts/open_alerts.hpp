#pragma once

// The open alerts of a pull: one snapshot per alert, the latest by sequence number, resolved
// alerts left out, most recently seen first.

#include <brisalune/client/alerts/alerts.hpp>

#include <vector>

namespace brisalune::OpenAlerts {

// Per id (under canonical equivalence) the snapshot with the highest `updatedSeq` wins, the
// first one of the id whatever its number, and the first in input order among equals. Winners
// whose state is exactly "resolved" are dropped; the rest sorted by `lastSeen` descending, then
// id descending. Pure; never fails.
std::vector<AlertSnapshot> merge(const std::vector<AlertSnapshot>& alerts);
// The same, moving the winners out of `alerts`.
std::vector<AlertSnapshot> merge(std::vector<AlertSnapshot>&& alerts);

}  // namespace brisalune::OpenAlerts
