#pragma once

// The editor of one maintenance window of a project, in the maintenance window's detail pane:
// creates a new window or changes or deletes a stored one, and shows the window's next
// occurrences as the service computes them from the unsaved draft, 400 ms after the last edit.
// Each time it is shown it looks up the project's scope names and the team's status pages again
// and asks for a preview; hidden, it drops what is on its way and asks for nothing. The draft
// stays as typed across a hide and a show.
// Errors show under the section of their field. A skipped occurrence stays in its row, struck
// out, until the next answer. It reports a stored window, or a delete, to its
// owner and never closes itself; the owner builds a new editor for each selection. Main thread
// only.
//
// Object names: "editor.name", "editor.description" (the two fields on top); the sections
// "editor.schedule", "editor.recurrence", "editor.scope", "editor.statusPage"; the error blocks
// "editor.errors.details", ".schedule", ".recurrence", ".scope", ".statusPage" and ".other" (the
// last one, after the preview, above the buttons), each holding a label "editor.errors.<block>.N"
// per error; the preview "editor.preview" with its header "editor.previewHeader", its note
// "editor.previewNote", and per occurrence the label "editor.preview.row.N" and the button
// "editor.preview.skip.N" (N from 0), in a pane of their own under the form ("editor.previewPane",
// the form being "editor.scroll", the two in the splitter "editor.split"); the buttons
// "editor.save" and "editor.delete"; the confirmation dialog "editor.deleteDialog" with its button
// "editor.deleteConfirm".

#include <brisalune/app/ui/mac_maintenance_sections.hpp>
#include <brisalune/client/core/client.hpp>
#include <brisalune/client/core/errors.hpp>
#include <brisalune/client/incidents/status_pages.hpp>
#include <brisalune/client/maintenance/draft.hpp>
#include <brisalune/client/maintenance/windows.hpp>

#include <QCoroTask>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace brisalune {

class MacMaintenanceEditor final : public QWidget {
    Q_OBJECT

public:
    // The stored window after a create or update; none after a delete.
    using OnSaved = std::function<void(std::optional<MaintenanceWindow>)>;

    static constexpr std::chrono::milliseconds previewPause{400};
    static constexpr std::int64_t previewCount = 10;

    MacMaintenanceEditor(
        std::shared_ptr<BrisaluneClient> client,
        std::string project,
        std::optional<MaintenanceWindow> existing,
        OnSaved onSaved,
        bool projectLimited,
        QWidget* parent = nullptr);
    ~MacMaintenanceEditor() override;

    const std::string& project() const noexcept { return project_; }
    const std::optional<MaintenanceWindow>& existing() const noexcept { return existing_; }
    // The stored window as the owner's list shows it now (a refresh may list it renamed): what
    // "Delete…" names. Another window is ignored; the draft stays as typed.
    void setListed(const MaintenanceWindow& window);
    const MaintenanceWindowDraft& draft() const noexcept { return draft_; }
    // The sections' write: takes the whole draft and shows it everywhere.
    void setDraft(MaintenanceWindowDraft draft);

    const std::vector<FieldError>& saveErrors() const noexcept { return saveErrors_; }
    const std::vector<MaintenanceOccurrence>& preview() const noexcept { return preview_; }
    const std::vector<FieldError>& previewErrors() const noexcept { return previewErrors_; }
    bool isBusy() const noexcept { return busy_; }

    QCoro::Task<> save();
    QCoro::Task<> deleteWindow();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Parts;

    void buildLayout();
    void editText();
    void restartPreview();
    void offerChoices();
    void showDraft();
    void showPreview();
    // Whether the draft already skips that occurrence (a "Skip" since the last answer).
    bool isSkipped(const MaintenanceOccurrence& occurrence) const;
    void showErrors();
    void followSave();
    void confirmDelete();
    QCoro::Task<> loadNames();
    QCoro::Task<> loadStatusPages();
    // Drops its answer when a later edit took another generation meanwhile.
    QCoro::Task<> refreshPreview(std::uint64_t generation);

    std::shared_ptr<BrisaluneClient> client_;
    std::string project_;
    std::optional<MaintenanceWindow> existing_;
    OnSaved onSaved_;
    bool projectLimited_;

    MaintenanceWindowDraft draft_;
    MaintenanceScopeNames names_;
    std::stop_source namesLookup_;  // stopped at each hide and with the editor
    bool shown_ = false;
    std::uint64_t showing_ = 0;  // counts the hides: an answer from an earlier showing is dropped
    std::optional<std::vector<StatusPage>> statusPages_;
    std::vector<FieldError> saveErrors_;
    std::vector<MaintenanceOccurrence> preview_;
    std::vector<FieldError> previewErrors_;
    bool busy_ = false;
    std::uint64_t previewGeneration_ = 0;
    bool refreshing_ = false;   // the sections are being redrawn
    bool redrawAgain_ = false;  // a section wrote while they were

    std::unique_ptr<Parts> parts_;
};

}  // namespace brisalune
