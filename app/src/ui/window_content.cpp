#include <brisalune/app/ui/window_content.hpp>

#include <brisalune/app/ui/box_view.hpp>
#include <brisalune/app/ui/sign_in_view.hpp>

#include <QLabel>

namespace brisalune {

QWidget* makeWindowContent(WindowPresenter::Kind kind, MacModel& model) {
    switch (kind) {
        case WindowPresenter::Kind::signIn: return new SignInView(model);
        case WindowPresenter::Kind::box:
            return new BoxView(model, model.needsBoxSignIn() ? BoxView::Path::signIn : BoxView::Path::join);
        case WindowPresenter::Kind::maintenance: break;
    }
    auto* placeholder = new QLabel(QStringLiteral("Maintenance windows"));
    placeholder->setObjectName(QStringLiteral("maintenance"));
    return placeholder;
}

}  // namespace brisalune
