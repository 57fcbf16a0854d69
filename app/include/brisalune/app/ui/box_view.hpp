#pragma once

// The box window: joining a box with a join code, or signing in to the box of a team and picking
// the box team to use. Failures show as the error's text. Closes its own window when done.

#include <brisalune/app/model/mac_model.hpp>

#include <QCoroTask>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace brisalune {

class BoxView final : public QWidget {
    Q_OBJECT

public:
    enum class Path { join, signIn };

    BoxView(MacModel& model, Path first, QWidget* parent = nullptr);

    Path path() const;
    void showPath(Path path);

private:
    QWidget* makeJoinPage();
    QWidget* makeSignInPage();
    void fillTeams();
    QCoro::Task<> join();
    QCoro::Task<> signIn();
    QCoro::Task<> useTeam();
    void done();

    MacModel& model_;
    QStackedWidget* pages_;
    QLabel* error_;
    // Join.
    QLineEdit* joinCode_ = nullptr;
    QLineEdit* displayName_ = nullptr;
    QLineEdit* seatEmail_ = nullptr;
    QLineEdit* seatPassword_ = nullptr;
    QPushButton* join_ = nullptr;
    // Sign-in.
    QComboBox* team_ = nullptr;
    QLineEdit* email_ = nullptr;
    QLineEdit* password_ = nullptr;
    QPushButton* signIn_ = nullptr;
    QComboBox* boxTeam_ = nullptr;
    QPushButton* useTeam_ = nullptr;
    std::optional<BoxSignIn> boxSignIn_;
};

}  // namespace brisalune
