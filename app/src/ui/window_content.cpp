#include <brisalune/app/ui/window_content.hpp>

#include <brisalune/app/ui/box_view.hpp>
#include <brisalune/app/ui/maintenance_windows_view.hpp>
#include <brisalune/app/ui/sign_in_view.hpp>

namespace brisalune {

QWidget* makeWindowContent(WindowPresenter::Kind kind, MacModel& model) {
    switch (kind) {
        case WindowPresenter::Kind::signIn: return new SignInView(model);
        case WindowPresenter::Kind::box:
            return new BoxView(model, model.needsBoxSignIn() ? BoxView::Path::signIn : BoxView::Path::join);
        case WindowPresenter::Kind::maintenance: break;
    }
    return new MaintenanceWindowsView(model);
}

}  // namespace brisalune
