#pragma once

// The maintenance windows window: pick a project of the active team, see its windows with their
// next occurrences, and edit the selected one (or a new one) beside the list. Loads the role
// answer and the project names each time it is shown and whenever the active team changes, and
// the project's windows each time it is shown and whenever the project changes. A team change
// empties the picker: no project is chosen, and none of its windows asked, until that team's
// names are in (none while they cannot be read); then the one chosen before stays chosen if
// that team has it too. Hidden, it loads nothing. An answer that arrives after the team or the
// project it was asked for has changed, or after the view was hidden, is dropped, and so is one
// that a newer load of the list has overtaken; a window just stored is selected by the first
// list of its project that comes in after the save. A minimised window counts as shown. Main
// thread only.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/client/core/record_hash.hpp>
#include <brisalune/client/maintenance/windows.hpp>
#include <brisalune/client/roles/role_permissions.hpp>

#include <QCoroTask>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSplitter;
class QStackedLayout;

namespace brisalune {

class MacMaintenanceEditor;
class MaintenanceWindowList;

// One window of the list: its name, "In progress" while it runs, when it next falls (or until
// when it runs), its schedule in words, and the status pages it shows on.
class MacMaintenanceRow final : public QWidget {
    Q_OBJECT

public:
    explicit MacMaintenanceRow(const MaintenanceWindow& window, QWidget* parent = nullptr);

    // "Until …" while an occurrence runs, else "Next: …" or "No more occurrences".
    static std::string occurrenceText(const MaintenanceWindow& window);
};

class MaintenanceWindowsView final : public QWidget {
    Q_OBJECT

public:
    // What the detail pane edits: a new window, or a stored one by id.
    struct Selection {
        struct New {
            friend bool operator==(const New&, const New&) = default;
        };
        struct Window {
            std::string id;
            friend bool operator==(const Window&, const Window&) = default;
        };

        std::variant<New, Window> value;

        template <class Case>
        const Case* get() const noexcept {
            return std::get_if<Case>(&value);
        }

        friend bool operator==(const Selection&, const Selection&) = default;
    };

    static constexpr std::string_view boxSignInText =
        "This team's data lives on its own box. Sign in to the box first.";
    static constexpr std::string_view noTeamText = "Choose a team in the menu first.";
    static constexpr std::string_view emptyListText = "No maintenance windows";
    static constexpr std::string_view readOnlyText = "Your role can see maintenance windows but not change them.";
    static constexpr std::string_view chooseText = "Choose a window, or make a new one.";
    static constexpr std::string_view notOfferedText = "This server does not offer maintenance windows yet.";

    explicit MaintenanceWindowsView(MacModel& model, QWidget* parent = nullptr);
    ~MaintenanceWindowsView() override;

    const std::optional<RolePermissions>& permissions() const noexcept { return permissions_; }
    const std::vector<std::string>& projects() const noexcept { return projects_; }
    const std::string& project() const noexcept { return project_; }
    const std::vector<MaintenanceWindow>& windows() const noexcept { return windows_; }
    const std::optional<Selection>& selection() const noexcept { return selection_; }
    const std::optional<std::string>& loadError() const noexcept { return loadError_; }
    // The editor in the detail pane; null while it shows a message.
    MacMaintenanceEditor* editor() const noexcept { return editor_; }

    // Whether the signed-in member may create windows in the chosen project.
    bool mayChangeWindows() const;
    void setProject(std::string name);
    void setSelection(std::optional<Selection> selection);

    // The chosen project's windows, again.
    QCoro::Task<> loadWindows();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // What an answer was asked for; it is used only while the view still shows that.
    struct Asked {
        std::optional<std::string> team;
        std::string project;
        std::uint64_t ticket = 0;
    };
    // A save, to be followed in the selection by the next list that comes in. `id` is the stored
    // window's, none after a delete; `from` the selection whose editor saved.
    struct Saved {
        std::optional<std::string> team;
        std::string project;
        std::optional<std::string> id;
        std::optional<Selection> from;
    };

    std::optional<std::string> activeTeam() const;
    std::shared_ptr<BrisaluneClient> client() const;
    bool stillShows(const Asked& asked) const;

    void followSession();
    QCoro::Task<> loadTeam();
    QCoro::Task<> loadPermissions(std::uint64_t ticket);
    QCoro::Task<> loadProjects(std::uint64_t ticket);
    // `from` is the selection whose editor stored or deleted the window.
    QCoro::Task<> windowSaved(std::optional<MaintenanceWindow> window, std::optional<Selection> from);
    void followSave(const Asked& asked);

    void showLayout();
    void showProjects();
    void showWindows();
    void showSelection();
    void showDetail();
    void showError();

    MacModel& model_;
    std::optional<RolePermissions> permissions_;
    std::vector<std::string> projects_;
    std::string project_;
    std::vector<MaintenanceWindow> windows_;
    std::optional<Selection> selection_;
    std::optional<std::string> loadError_;
    std::optional<Saved> saved_;

    // The keys of the two loads: the active team, and the team with the project.
    std::optional<std::optional<std::string>> loadedTeam_;
    // The team whose project names the picker lists; none before the first list.
    std::optional<std::optional<std::string>> projectsTeam_;
    // The project chosen before a team change: chosen again when the new team lists it too.
    std::string carriedProject_;
    bool shown_ = false;
    std::uint64_t teamTicket_ = 0;
    std::uint64_t windowsTicket_ = 0;

    QStackedLayout* pages_;
    QLabel* boxSignIn_;
    QLabel* noTeam_;
    QSplitter* split_;
    QComboBox* projectPicker_;
    MaintenanceWindowList* list_;
    QLabel* emptyList_;
    QPushButton* newWindow_;
    QPushButton* refresh_;
    QLabel* error_;
    QStackedLayout* detail_;
    QLabel* readOnly_;
    QLabel* choose_;
    QWidget* editorHolder_;
    MacMaintenanceEditor* editor_ = nullptr;
};

}  // namespace brisalune

// Hashed as it compares: the case, and a window's id.
template <>
struct std::hash<brisalune::MaintenanceWindowsView::Selection> {
    std::size_t operator()(const brisalune::MaintenanceWindowsView::Selection& selection) const {
        const auto* window = selection.get<brisalune::MaintenanceWindowsView::Selection::Window>();
        return brisalune::hashValues(selection.value.index(), window ? window->id : std::string());
    }
};
