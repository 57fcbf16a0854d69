#pragma once

// The box window's content: joining a self-hosted box with a join code, or signing in to the box
// of one of the account's teams and choosing the team on the box to use. A two-way switch on top
// picks the form; switching starts the other form afresh. Without a hosted session there is
// only "Sign in to Brisalune first."; while the session is ending, a line above the form says why
// nothing can be sent. 440 wide. A form that succeeds closes the window.

#include <brisalune/app/model/mac_model.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QCoroTask>
#include <QWidget>

#include <optional>
#include <string>

class QButtonGroup;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace brisalune {

// The rows of a form that name the box its password goes to: the address as a request reaches
// it, whole; a line calling out a user name before its host; a warning line when the address is
// plain http to a host off this machine.
struct BoxAddressRows {
    QLabel* address = nullptr;   // "<form>.address", wrapped, never cut
    QLabel* userInfo = nullptr;  // "<form>.userInfo"
    QLabel* warning = nullptr;   // "<form>.clearText"
};

// Redeems a join code. Shows the box's address once the code reads, and asks for a box e-mail
// and password only for a seat code. A failed join keeps what was typed; a join that went
// through, a closed or hidden window clear the code and the password; a change of session clears
// every field.
class JoinBoxForm final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::string_view seatNote =
        "This code is a seat: choose the email and password you will use on the box.";

    explicit JoinBoxForm(MacModel& model, QWidget* parent = nullptr);

    // The typed code as a join code; none when it is not one (the reason is not shown).
    std::optional<JoinCode> parsedCode() const;
    bool isBusy() const noexcept { return busy_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void follow();
    // Clears every field and the error: the session they were typed for is gone.
    void forget();
    QCoro::Task<> submitJoin();

    MacModel& model_;
    QFormLayout* rows_;
    QLineEdit* code_;
    QLineEdit* name_;
    QLineEdit* email_;
    QLineEdit* password_;
    QLabel* seatNote_;
    QLabel* error_;
    QPushButton* join_;
    BoxAddressRows address_;
    std::optional<std::string> sessionToken_;  // of the session the fields were typed for
    bool busy_ = false;
};

// Signs in to a team's box, then puts one of the box account's teams to use (at once when it
// has only one). Shows the box's address before the password goes there. A failed sign-in keeps
// what was typed; a closed or hidden window clears the password and the error and drops a
// sign-in that waits for its team (signing it out on the box); a change of session clears the
// credentials too.
class BoxSignInForm final : public QWidget {
    Q_OBJECT

public:
    static constexpr std::string_view noneText = "None of your teams is self-hosted. Join one with a code first.";

    explicit BoxSignInForm(MacModel& model, QWidget* parent = nullptr);
    ~BoxSignInForm() override;

    const std::string& tenantId() const noexcept { return tenantId_; }
    bool isBusy() const noexcept { return busy_; }
    bool isPending() const noexcept { return pending_.has_value(); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void preselect();
    // Signs out a box sign-in that waits for its team, unless its team is being put to use.
    void dropPending();
    void follow();
    void forget();
    void fill(QComboBox* picker, const std::vector<Membership>& teams);
    void setError(std::optional<std::string> text);
    QCoro::Task<> signIn();
    QCoro::Task<> useTeam(BoxSignIn signIn, std::string boxTenantId);

    MacModel& model_;
    QLabel* none_;
    QWidget* credentials_;
    QComboBox* team_;
    QLineEdit* email_;
    QLineEdit* password_;
    QPushButton* signIn_;
    QWidget* choice_;
    QComboBox* boxTeam_;
    QPushButton* useTeam_;
    QLabel* error_;
    QFormLayout* rows_;
    BoxAddressRows address_;
    std::optional<std::string> sessionToken_;  // of the session the sign-in belongs to

    std::string tenantId_;  // a hosted team before the sign-in, a team on the box after it
    bool busy_ = false;
    std::optional<BoxSignIn> pending_;
};

class BoxView final : public ui::FixedWidthPane {
    Q_OBJECT

public:
    static constexpr int width = 440;
    enum class Path { join, signIn };

    BoxView(MacModel& model, Path first, QWidget* parent = nullptr);

    Path path() const noexcept { return path_; }
    // Shows the path's form, a new one when the path changes.
    void showPath(Path path);
    // The segment's title.
    static QString title(Path path);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void follow();
    void placeForm();

    MacModel& model_;
    Path path_;
    QLabel* signInFirst_;
    QLabel* signingOut_;
    QWidget* switcher_;
    QButtonGroup* segments_;
    QWidget* form_ = nullptr;
};

}  // namespace brisalune
