#include <brisalune/app/shell/window_presenter.hpp>

#include <support/qt_widgets_application.hpp>

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>

namespace brisalune {
namespace {

using Kind = WindowPresenter::Kind;

class WindowPresenterTest : public ::testing::Test {
protected:
    void SetUp() override { testkit::widgetsApplication(); }

    std::map<Kind, int> made;
    WindowPresenter presenter{[this](Kind kind) {
        ++made[kind];
        auto* field = new QLineEdit;
        field->setObjectName(WindowPresenter::objectName(kind) + ".field");
        return field;
    }};

    QLineEdit* field(Kind kind) {
        return presenter.window(kind)->findChild<QLineEdit*>(WindowPresenter::objectName(kind) + ".field");
    }
};

TEST_F(WindowPresenterTest, OneWindowPerKindThatClosingHidesWithItsState) {
    presenter.close(Kind::box);  // never shown: nothing made
    EXPECT_EQ(presenter.window(Kind::box), nullptr);

    presenter.show(Kind::box);
    presenter.show(Kind::box);
    QWidget* window = presenter.window(Kind::box);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    field(Kind::box)->setText("blj_half-typed");
    presenter.close(Kind::box);
    EXPECT_FALSE(window->isVisible());

    presenter.show(Kind::box);
    window->close();  // the user's close button does the same
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));  // the tray app goes on

    presenter.show(Kind::box);
    EXPECT_EQ(presenter.window(Kind::box), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(field(Kind::box)->text(), "blj_half-typed");
    EXPECT_EQ(made[Kind::box], 1);
    EXPECT_EQ(presenter.window(Kind::signIn), nullptr);
}

TEST_F(WindowPresenterTest, OnlyTheMaintenanceWindowResizesOrMinimises) {
    for (Kind kind : {Kind::signIn, Kind::box, Kind::maintenance}) {
        presenter.show(kind);
        const QWidget* window = presenter.window(kind);
        const bool resizable = kind == Kind::maintenance;
        EXPECT_EQ(window->minimumSize() != window->maximumSize(), resizable) << window->objectName().toStdString();
        EXPECT_EQ(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint), resizable);
        EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    }
}

// Escape from a field closes a dialog's window, keeping what was typed; the maintenance window,
// a window to work in, stays.
TEST_F(WindowPresenterTest, EscapeClosesTheSignInAndBoxWindows) {
    for (Kind kind : {Kind::signIn, Kind::box, Kind::maintenance}) {
        presenter.show(kind);
        field(kind)->setText("typed");
        QTest::keyClick(field(kind), Qt::Key_Escape);
        EXPECT_EQ(presenter.window(kind)->isVisible(), kind == Kind::maintenance)
            << WindowPresenter::objectName(kind).toStdString();
        presenter.show(kind);
        EXPECT_EQ(field(kind)->text(), "typed");
    }
}

TEST_F(WindowPresenterTest, WidgetsFindThePresenterOfTheirWindow) {
    presenter.show(Kind::maintenance);
    EXPECT_EQ(WindowPresenter::of(field(Kind::maintenance)), &presenter);

    QWidget menu;
    auto* row = new QWidget(&menu);
    EXPECT_EQ(WindowPresenter::of(row), nullptr);  // then opening and closing do nothing
    presenter.provideTo(&menu);
    EXPECT_EQ(WindowPresenter::of(row), &presenter);
    EXPECT_EQ(WindowPresenter::of(nullptr), nullptr);
}

}  // namespace
}  // namespace brisalune
