#include <brisalune/app/ui/update_row.hpp>

#include <brisalune/app/ui/notices.hpp>
#include <brisalune/app/ui/ui_kit.hpp>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace brisalune {

namespace {

QString unwrittenText(SiteUpdates::Unwritten unwritten) {
    switch (unwritten) {
        case SiteUpdates::Unwritten::dismissal:
            return QStringLiteral("Brisalune's settings file could not be written, so this update was not dismissed.");
        case SiteUpdates::Unwritten::dismissalRemoval:
            return QStringLiteral(
                "Brisalune's settings file could not be written, so this update will be hidden again when Brisalune "
                "restarts.");
        case SiteUpdates::Unwritten::manifest:
            return QStringLiteral(
                "Brisalune's settings file could not be written, so this update is not remembered after Brisalune "
                "quits.");
    }
    return {};
}

}  // namespace

std::optional<platform::Url> UpdateRow::downloadAddress(const SiteUpdates& updates) {
    if (!updates.offer() || !updates.manifestURL()) return std::nullopt;
    return updates.offer()->downloadURL(*updates.manifestURL());
}

UpdateRow::UpdateRow(const MenuEnvironment& environment, QWidget* parent)
    : QWidget(parent)
    , environment_(environment)
    , text_(ui::lineText(QString(), QStringLiteral("updateRow.text"), ui::Font::callout))
    , unwritten_(ui::text(QString(), QStringLiteral("updateRow.unwritten"), ui::Font::caption, ui::Tone::red, true)) {
    setObjectName(QStringLiteral("updateRow"));
    auto* outer = ui::stack(this, 10);
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    outer->addLayout(line);
    outer->addWidget(unwritten_);
    outer->addWidget(ui::divider(QStringLiteral("updateRow.divider")));
    QPushButton* download = ui::button(QStringLiteral("Download"), QStringLiteral("updateRow.download"));
    QToolButton* dismiss = ui::dismissButton(QStringLiteral("updateRow.dismiss"));
    ui::setFont(download, ui::Font::callout);
    line->addWidget(ui::symbol(ui::Symbol::arrowDownCircle, QStringLiteral("updateRow.symbol")), 0, Qt::AlignVCenter);
    line->addWidget(text_, 0, Qt::AlignVCenter);
    line->addWidget(download, 0, Qt::AlignVCenter);
    line->addWidget(dismiss, 0, Qt::AlignVCenter);
    line->addStretch(1);

    connect(download, &QPushButton::clicked, this, [this] {
        if (const auto address = downloadAddress(environment_.updates)) environment_.openURL(*address);
    });
    connect(dismiss, &QToolButton::clicked, this, [this] { environment_.updates.dismissOffer(); });
    connect(&environment_.updates, &SiteUpdates::offerChanged, this, &UpdateRow::follow);
    connect(&environment_.updates, &SiteUpdates::unwrittenChanged, this, &UpdateRow::follow);
    follow();
}

void UpdateRow::follow() {
    const bool due = downloadAddress(environment_.updates).has_value();
    if (due)
        text_->setText(
            QStringLiteral("Brisalune ") + ui::oneLine(qText(environment_.updates.offer()->versionName)) +
            QStringLiteral(" is available"));
    const std::optional<SiteUpdates::Unwritten> unwritten = environment_.updates.unwritten();
    unwritten_->setText(unwritten ? unwrittenText(*unwritten) : QString());
    unwritten_->setVisible(unwritten.has_value());
}

}  // namespace brisalune
