#pragma once

// The root widget of each of the app's own windows, for the window presenter.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/shell/window_presenter.hpp>

class QWidget;

namespace brisalune {

// The sign-in form, the box window (its sign-in page first when the active team's box needs a
// sign-in now, else the join page), or the maintenance window.
QWidget* makeWindowContent(WindowPresenter::Kind kind, MacModel& model);

}  // namespace brisalune
