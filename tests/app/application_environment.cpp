// Every test of this program runs with the one QApplication, made before any fixture.

#include <support/qt_widgets_application.hpp>

#include <gtest/gtest.h>

namespace {

class WidgetsApplication : public ::testing::Environment {
public:
    void SetUp() override { brisalune::testkit::widgetsApplication(); }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new WidgetsApplication);

}  // namespace
