#pragma once

// A project's maintenance windows: list, read, create, update (a full replacement) and delete
// them, list a stored window's next occurrences and preview an unsaved window's. Plane data;
// nothing here consults the role's permissions.

#include <brisalune/client/core/client.hpp>
#include <brisalune/client/maintenance/windows.hpp>

#include <cstdint>
#include <string_view>
#include <vector>

namespace brisalune {

// In the service's order; one window that does not decode fails the whole list. A server without
// maintenance windows answers notFound, thrown like any other.
std::vector<MaintenanceWindow> maintenanceWindows(const BrisaluneClient& client, std::string_view project);
MaintenanceWindow maintenanceWindow(const BrisaluneClient& client, std::string_view project, std::string_view window);
// The stored window.
MaintenanceWindow createMaintenanceWindow(
    const BrisaluneClient& client, std::string_view project, const MaintenanceWindowInput& input);
MaintenanceWindow updateMaintenanceWindow(
    const BrisaluneClient& client,
    std::string_view project,
    std::string_view window,
    const MaintenanceWindowInput& input);
// Any "deleted" value counts as done.
void deleteMaintenanceWindow(const BrisaluneClient& client, std::string_view project, std::string_view window);

// `count` is sent limited to 1-100. In the service's order.
std::vector<MaintenanceOccurrence> maintenanceOccurrences(
    const BrisaluneClient& client, std::string_view project, std::string_view window, std::int64_t count);
std::vector<MaintenanceOccurrence> previewMaintenanceOccurrences(
    const BrisaluneClient& client, std::string_view project, const MaintenanceWindowInput& input, std::int64_t count);

}  // namespace brisalune
