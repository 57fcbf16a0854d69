#pragma once

// A project's checks: the regions that can run them, listing, reading, writing and deleting
// them, and a check's status. Plane data; a failed answer goes through checkError.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/monitoring/check_status.hpp>
#include <brisalune/client/monitoring/checks.hpp>

#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

std::vector<std::string> checkRegions(const BrisaluneClient& client);
// In the order received; one check that does not decode fails the whole list.
// A stop request on `cancel` abandons the request.
std::vector<MonitorCheckInfo> listChecks(
    const BrisaluneClient& client, std::string_view project, std::stop_token cancel = {});
MonitorCheckInfo getCheck(const BrisaluneClient& client, std::string_view project, std::string_view name);
MonitorCheckStatus checkStatus(const BrisaluneClient& client, std::string_view project, std::string_view name);
MonitorCheckWriteResult createCheck(
    const BrisaluneClient& client, std::string_view project, const MonitorCheckSpec& spec);
// Sends the spec under the name in the path, whatever name it carries: no rename here.
MonitorCheckWriteResult updateCheck(
    const BrisaluneClient& client, std::string_view project, std::string_view name, const MonitorCheckSpec& spec);
MonitorCheckDeleteResult deleteCheck(const BrisaluneClient& client, std::string_view project, std::string_view name);

// What a non-2xx answer of the checks service becomes: a 429 whose text is "<limit>: <message>"
// (a limit without blanks) is `quota`, a 422 listing "errors" is `refused`, anything else the
// client's own mapping. Never throws: the caller throws the result.
BrisaluneError checkError(int status, const json::Document& body);

}  // namespace brisalune
