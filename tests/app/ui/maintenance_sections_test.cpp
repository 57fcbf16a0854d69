#include <brisalune/app/ui/mac_maintenance_sections.hpp>

#include <brisalune/client/maintenance/format.hpp>
#include <brisalune/client/maintenance/wall_clock.hpp>

#include <support/qt_widgets_application.hpp>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDateTimeEdit>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brisalune {
namespace {

using std::chrono::sys_seconds;
using Draft = MaintenanceWindowDraft;

// The instant a wall-clock text names in a zone.
sys_seconds wall(std::string_view text, std::string_view zone) {
    return *MaintenanceWallClock::parse(text, *platform::TimeZone::named(zone));
}

Draft parisDraft() {
    Draft draft;
    draft.timezone = "Europe/Paris";
    draft.start = wall("2024-05-06T02:00", "Europe/Paris");
    draft.end = wall("2024-05-06T04:30", "Europe/Paris");
    draft.durationMinutes = 90;
    return draft;
}

// One section over a value the test owns, held as the editor holds its draft: a write stores
// the whole value and refreshes the section at once, inside the signal that wrote it.
template <class Section, class Value>
class Held {
public:
    explicit Held(Value value) : value_(std::move(value)) {
        testkit::widgetsApplication();
        section_ = std::make_unique<Section>(Binding<Value>{
            [this] { return value_; },
            [this](Value next) {
                value_ = std::move(next);
                ++writes;
                section_->refresh();
                if (afterWrite) afterWrite();
            }});
        section_->show();
    }

    const Value& value() const { return value_; }
    // Changes the value behind the section's back, then refreshes it as the editor would.
    void change(const std::function<void(Value&)>& change) {
        change(value_);
        section_->refresh();
    }
    Section& section() { return *section_; }

    template <class Widget = QWidget>
    Widget& at(const QString& name) {
        settle();
        auto* found = section_->template findChild<Widget*>(name);
        if (!found) throw std::runtime_error("no widget " + name.toStdString());
        return *found;
    }
    bool has(const QString& name) {
        settle();
        return section_->template findChild<QWidget*>(name) != nullptr;
    }
    bool shows(const QString& name) { return at(name).isVisibleTo(section_.get()); }
    std::string text(const QString& name) {
        QWidget& widget = at(name);
        if (auto* label = qobject_cast<QLabel*>(&widget)) return label->text().toStdString();
        if (auto* button = qobject_cast<QAbstractButton*>(&widget)) return button->text().toStdString();
        if (auto* box = qobject_cast<QComboBox*>(&widget)) return box->currentText().toStdString();
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(&widget)) return spin->text().toStdString();
        throw std::runtime_error("no text on " + name.toStdString());
    }
    void pick(const QString& name, const QString& option) {
        auto& box = at<QComboBox>(name);
        const int index = box.findText(option);
        ASSERT_GE(index, 0) << option.toStdString();
        box.setCurrentIndex(index);
    }
    void click(const QString& name) { at<QAbstractButton>(name).click(); }

    int writes = 0;
    std::function<void()> afterWrite;

private:
    // Rows a write took away are deleted once the write has returned.
    static void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    Value value_;
    std::unique_ptr<Section> section_;
};

// ---- "When" ----

TEST(ScheduleSection, TheZoneKeepsTheWallClockAndAnUnknownOneShowsGmt) {
    Held<MacScheduleSection, Draft> held(parisDraft());
    EXPECT_EQ(held.text("schedule.timezone"), "Europe/Paris");
    EXPECT_EQ(held.at<QDateTimeEdit>("schedule.starts").time(), QTime(2, 0));
    EXPECT_EQ(held.writes, 0);

    held.pick("schedule.timezone", "America/New_York");
    EXPECT_EQ(held.value().timezone, "America/New_York");
    EXPECT_EQ(held.value().start, wall("2024-05-06T02:00", "America/New_York"));
    EXPECT_EQ(held.value().end, wall("2024-05-06T04:30", "America/New_York"));
    EXPECT_EQ(held.at<QDateTimeEdit>("schedule.starts").dateTime(), QDateTime(QDate(2024, 5, 6), QTime(2, 0), Qt::UTC));

    // Shown in GMT, nothing selected, nothing written.
    const int writes = held.writes;
    held.change([](Draft& changed) { changed.timezone = "Mars/Olympus"; });
    EXPECT_EQ(held.at<QComboBox>("schedule.timezone").currentIndex(), -1);
    EXPECT_EQ(
        held.at<QDateTimeEdit>("schedule.starts").dateTime(),
        QDateTime(QDate(2024, 5, 6), QTime(6, 0), Qt::UTC));  // 02:00 in New York is 06:00 GMT
    EXPECT_EQ(held.writes, writes);
    EXPECT_EQ(held.value().timezone, "Mars/Olympus");
}

TEST(ScheduleSection, RepeatsSwapsTheEndForTheLengthAndKeepsBoth) {
    Held<MacScheduleSection, Draft> held(parisDraft());
    EXPECT_TRUE(held.shows("schedule.ends"));
    EXPECT_FALSE(held.shows("schedule.lasts"));

    held.click("schedule.repeats");
    EXPECT_TRUE(held.value().recurring);
    EXPECT_FALSE(held.shows("schedule.ends"));
    EXPECT_TRUE(held.shows("schedule.lasts"));
    EXPECT_EQ(held.text("schedule.lasts"), "1 h 30 min");

    held.click("schedule.repeats");
    EXPECT_EQ(held.value(), parisDraft());
    EXPECT_TRUE(held.shows("schedule.ends"));
}

TEST(ScheduleSection, StepsAndDatesStayInTheirBoundsWithoutWriting) {
    Draft draft = parisDraft();
    draft.recurring = true;
    draft.durationMinutes = 15;
    Held<MacScheduleSection, Draft> held(draft);
    auto& lasts = held.at<QSpinBox>("schedule.lasts");
    lasts.stepBy(-1);
    EXPECT_EQ(held.writes, 0);
    lasts.stepBy(5);
    EXPECT_EQ(held.value().durationMinutes, 90);
    EXPECT_EQ(held.text("schedule.lasts"), "1 h 30 min");
    held.change([](Draft& changed) { changed.durationMinutes = 129600; });
    EXPECT_EQ(held.text("schedule.lasts"), "90 d");
    lasts.stepBy(1);
    EXPECT_EQ(held.value().durationMinutes, 129600);

    // A length past the stepper's own bounds shows as it is, and is not written.
    const int writes = held.writes;
    held.change([](Draft& changed) {
        changed.durationMinutes = 200000;
        changed.recurring = false;
        changed.end = changed.start - std::chrono::hours(5);
    });
    EXPECT_EQ(lasts.value(), 200000);
    auto& ends = held.at<QDateTimeEdit>("schedule.ends");
    EXPECT_EQ(ends.dateTime(), QDateTime(QDate(2024, 5, 6), QTime(2, 0), Qt::UTC));
    EXPECT_EQ(held.writes, writes);
    EXPECT_EQ(held.value().durationMinutes, 200000);

    // A new start writes the start alone, read on the zone's clock.
    const Draft before = held.value();
    held.at<QDateTimeEdit>("schedule.starts").setDateTime(QDateTime(QDate(2024, 7, 1), QTime(23, 15), Qt::UTC));
    Draft expected = before;
    expected.start = wall("2024-07-01T23:15", "Europe/Paris");
    EXPECT_EQ(held.value(), expected);
    EXPECT_EQ(ends.minimumDateTime(), QDateTime(QDate(2024, 7, 1), QTime(23, 15), Qt::UTC));
}

// ---- "Repeats" ----

Draft recurringDraft(std::string rule) {
    Draft draft = parisDraft();
    draft.recurring = true;
    draft.rrule = std::move(rule);
    return draft;
}

TEST(RecurrenceSection, ShowsTheRowsOfTheRulesPattern) {
    Draft draft = recurringDraft("");
    draft.exdates = {"2024-05-13T02:00", "soon"};
    Held<MacRecurrenceSection, Draft> held(draft);
    EXPECT_EQ(held.text("recurrence.pattern"), "Custom rule");
    for (const char* row : {"recurrence.interval", "recurrence.days", "recurrence.end", "recurrence.until"}) {
        EXPECT_FALSE(held.shows(row)) << row;
    }
    EXPECT_EQ(held.at<QPlainTextEdit>("recurrence.rule").toPlainText(), "");
    const auto paris = *platform::TimeZone::named("Europe/Paris");
    EXPECT_EQ(held.text("recurrence.skip.0"), "Skips " + MaintenanceFormat::wallClockText("2024-05-13T02:00", paris));
    EXPECT_EQ(held.text("recurrence.skip.1"), "Skips soon");

    held.change([](Draft& changed) { changed.rrule = "FREQ=MONTHLY;INTERVAL=3;BYDAY=2TU;COUNT=4"; });
    EXPECT_EQ(held.text("recurrence.pattern"), "Monthly on a weekday");
    EXPECT_EQ(held.text("recurrence.interval"), "3 month(s)");
    EXPECT_EQ(held.text("recurrence.ordinal"), "second");
    EXPECT_EQ(held.text("recurrence.weekday"), "Tuesday");
    EXPECT_EQ(held.text("recurrence.end"), "After a number of times");
    EXPECT_EQ(held.at<QSpinBox>("recurrence.count").value(), 4);
    EXPECT_FALSE(held.shows("recurrence.days"));
    EXPECT_FALSE(held.shows("recurrence.monthDay"));
    EXPECT_FALSE(held.shows("recurrence.until"));
    EXPECT_EQ(held.writes, 0);
}

TEST(RecurrenceSection, DayTogglesEditTheWeeklyDayList) {
    Held<MacRecurrenceSection, Draft> held(recurringDraft("FREQ=WEEKLY"));
    for (const char* day : {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"}) {
        EXPECT_FALSE(held.at<QPushButton>(QStringLiteral("recurrence.day.") + day).isChecked()) << day;
    }
    held.click("recurrence.day.Mon");
    EXPECT_EQ(held.value().rrule, "FREQ=WEEKLY;BYDAY=MO");
    held.click("recurrence.day.Sun");
    held.click("recurrence.day.Wed");
    EXPECT_EQ(held.value().rrule, "FREQ=WEEKLY;BYDAY=MO,WE,SU");
    held.click("recurrence.day.Mon");
    held.click("recurrence.day.Wed");
    held.click("recurrence.day.Sun");
    EXPECT_EQ(held.value().rrule, "FREQ=WEEKLY");
    EXPECT_EQ(held.text("recurrence.pattern"), "Weekly");
}

// The share of a widget's pixels drawn in (nearly) the colour.
double shareIn(QWidget& widget, const QColor& colour) {
    const QImage image = widget.grab().toImage();
    int near = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            near += std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                        std::abs(pixel.blue() - colour.blue()) <
                    60;
        }
    }
    return static_cast<double>(near) / (image.width() * image.height());
}

// On reads at a glance: a day that is on fills with the highlight colour, also when the value
// was put on the button without a click.
TEST(RecurrenceSection, ADayThatIsOnShowsInTheHighlightColour) {
    Held<MacRecurrenceSection, Draft> held(recurringDraft("FREQ=WEEKLY;BYDAY=TU"));
    auto& tuesday = held.at<QPushButton>(QStringLiteral("recurrence.day.Tue"));
    auto& wednesday = held.at<QPushButton>(QStringLiteral("recurrence.day.Wed"));
    ASSERT_TRUE(tuesday.isChecked());
    const QColor highlight = tuesday.palette().color(QPalette::Highlight);
    EXPECT_GT(shareIn(tuesday, highlight), 0.5);
    EXPECT_LT(shareIn(wednesday, highlight), 0.05);
    held.click("recurrence.day.Tue");
    EXPECT_LT(shareIn(tuesday, highlight), 0.05);
    held.change([](Draft& draft) { draft.rrule = "FREQ=WEEKLY;BYDAY=WE"; });
    EXPECT_GT(shareIn(wednesday, highlight), 0.5);
}

TEST(RecurrenceSection, PatternSwitchesTakeTheStartAsAnchor) {
    Draft draft = recurringDraft("FREQ=WEEKLY;BYDAY=FR,MO;INTERVAL=2");
    draft.start = wall("2024-05-31T09:00", "Europe/Paris");  // the fifth Friday of May
    Held<MacRecurrenceSection, Draft> held(draft);

    // "Custom rule" only rewrites the text: it reads back as the weekly rule it was.
    held.pick("recurrence.pattern", "Custom rule");
    EXPECT_EQ(held.value().rrule, "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,FR");
    EXPECT_EQ(held.text("recurrence.pattern"), "Weekly");

    held.pick("recurrence.pattern", "Monthly on a weekday");
    EXPECT_EQ(held.text("recurrence.ordinal"), "last");
    EXPECT_EQ(held.text("recurrence.weekday"), "Friday");
    EXPECT_EQ(held.value().rrule, "FREQ=MONTHLY;INTERVAL=2;BYDAY=-1FR");
    held.pick("recurrence.ordinal", "first");
    held.pick("recurrence.weekday", "Sunday");
    EXPECT_EQ(held.value().rrule, "FREQ=MONTHLY;INTERVAL=2;BYDAY=1SU");

    held.change([](Draft& changed) { changed.rrule = "FREQ=YEARLY;BYMONTH=3"; });
    EXPECT_EQ(held.text("recurrence.pattern"), "Custom rule");
    held.pick("recurrence.pattern", "Daily");
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY");
    EXPECT_EQ(held.text("recurrence.interval"), "1 day(s)");
    EXPECT_EQ(held.text("recurrence.end"), "Never");
}

TEST(RecurrenceSection, EndsOnADateNinetyDaysOnOrAfterTenTimes) {
    Draft draft = recurringDraft("FREQ=DAILY");
    draft.timezone = "America/New_York";
    draft.start = wall("2024-03-01T09:00", "America/New_York");
    Held<MacRecurrenceSection, Draft> held(draft);

    held.pick("recurrence.end", "On a date");
    const MaintenanceRecurrence recurrence = held.value().recurrence();
    const auto* until = recurrence.end.get<MaintenanceRecurrence::End::Until>();
    ASSERT_TRUE(until);
    EXPECT_EQ(until->instant, wall("2024-05-30T23:59", "America/New_York") + std::chrono::seconds(59));
    EXPECT_TRUE(held.shows("recurrence.until"));
    EXPECT_EQ(held.at<QDateEdit>("recurrence.until").date(), QDate(2024, 5, 30));

    held.at<QDateEdit>("recurrence.until").setDate(QDate(2024, 11, 3));  // a day the clocks go back
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY;UNTIL=20241104T045959Z");

    held.pick("recurrence.end", "After a number of times");
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY;COUNT=10");
    EXPECT_FALSE(held.shows("recurrence.until"));
    held.pick("recurrence.end", "Never");
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY");
}

// A rule typed by hand or stored by another client may hold more than the steppers offer: they
// show what the rule says, never a clamped number the rule does not hold.
TEST(RecurrenceSection, SteppersStopAtTheirBoundsAndShowLargerValuesAsTheRuleHoldsThem) {
    Held<MacRecurrenceSection, Draft> held(recurringDraft("FREQ=DAILY;INTERVAL=150;COUNT=5000"));
    EXPECT_EQ(held.at<QSpinBox>("recurrence.interval").value(), 150);
    EXPECT_EQ(held.at<QSpinBox>("recurrence.count").value(), 5000);
    EXPECT_EQ(held.text("recurrence.count"), "5000");
    EXPECT_EQ(held.writes, 0);
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY;INTERVAL=150;COUNT=5000");

    held.at<QSpinBox>("recurrence.count").stepBy(1);  // no further than the rule already goes
    EXPECT_EQ(held.writes, 0);
    held.at<QSpinBox>("recurrence.count").stepBy(-1);
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY;INTERVAL=150;COUNT=4999");
    held.change([](Draft& changed) { changed.rrule = "FREQ=DAILY;INTERVAL=9999999999"; });
    EXPECT_EQ(held.value().rrule, "FREQ=DAILY;INTERVAL=9999999999");
    held.change([](Draft& changed) { changed.rrule = "FREQ=MONTHLY;BYMONTHDAY=31;COUNT=1"; });
    for (const char* name : {"recurrence.interval", "recurrence.count"}) held.at<QSpinBox>(name).stepBy(-1);
    held.at<QSpinBox>("recurrence.monthDay").stepBy(1);
    EXPECT_EQ(held.value().rrule, "FREQ=MONTHLY;BYMONTHDAY=31;COUNT=1");
    held.at<QSpinBox>("recurrence.monthDay").stepBy(-30);
    held.at<QSpinBox>("recurrence.interval").stepBy(1);
    EXPECT_EQ(held.value().rrule, "FREQ=MONTHLY;INTERVAL=2;BYMONTHDAY=1;COUNT=1");
}

TEST(RecurrenceSection, TheRuleFieldKeepsTheTextAsTyped) {
    Held<MacRecurrenceSection, Draft> held(recurringDraft(""));
    auto& rule = held.at<QPlainTextEdit>("recurrence.rule");
    rule.setFocus();
    QTest::keyClicks(&rule, " FREQ=DAILY;");
    EXPECT_EQ(held.value().rrule, " FREQ=DAILY;");
    EXPECT_EQ(held.text("recurrence.pattern"), "Daily");
    EXPECT_TRUE(held.shows("recurrence.interval"));
    QTest::keyClicks(&rule, "BYSETPOS=2 ");
    EXPECT_EQ(held.value().rrule, " FREQ=DAILY;BYSETPOS=2 ");
    EXPECT_EQ(rule.toPlainText(), " FREQ=DAILY;BYSETPOS=2 ");
    EXPECT_EQ(held.text("recurrence.pattern"), "Custom rule");
    for (const char* row : {"recurrence.interval", "recurrence.end", "recurrence.count"}) {
        EXPECT_FALSE(held.shows(row)) << row;
    }
}

TEST(RecurrenceSection, RestoreTakesEveryCopyOfTheSkippedDate) {
    Draft draft = recurringDraft("FREQ=WEEKLY");
    draft.exdates = {"2024-05-13T02:00", "2024-05-20T02:00", "2024-05-13T02:00"};
    Held<MacRecurrenceSection, Draft> held(draft);
    held.click("recurrence.restore.2");
    EXPECT_EQ(held.value().exdates, std::vector<std::string>{"2024-05-20T02:00"});
    EXPECT_FALSE(held.has("recurrence.restore.1"));
    held.click("recurrence.restore.0");
    EXPECT_TRUE(held.value().exdates.empty());
    EXPECT_FALSE(held.shows("recurrence.skips"));
}

// ---- "Covers" ----

TEST(ScopeSection, ListsOfferedAndLeftoverPicksInByteOrder) {
    MaintenanceScope scope;
    scope.checks = {"gone", "a", "a"};
    Held<MacScopeSection, MaintenanceScope> held(scope);
    held.section().setNames({.checks = {"b", "B", "a"}, .sources = {"s1"}});
    EXPECT_EQ(held.text("scope.checks.toggle"), "Checks (3)");
    EXPECT_FALSE(held.shows("scope.checks.content"));  // groups start closed
    held.click("scope.checks.toggle");
    EXPECT_TRUE(held.shows("scope.checks.content"));

    const std::vector<std::string> order{"B", "a", "b", "gone"};
    for (std::size_t index = 0; index < order.size(); ++index) {
        const QString name = QStringLiteral("scope.checks.entry.") + QString::number(index);
        EXPECT_EQ(held.text(name), order[index]);
        EXPECT_EQ(held.at<QCheckBox>(name).isChecked(), order[index] == "a" || order[index] == "gone");
    }
    EXPECT_EQ(held.text("scope.rules.toggle"), "Rules (0)");
    EXPECT_TRUE(held.at("scope.rules.none").isVisibleTo(&held.at("scope.rules.content")));
    EXPECT_FALSE(held.at("scope.checks.none").isVisibleTo(&held.at("scope.checks.content")));

    held.click("scope.checks.entry.1");  // "a", held twice
    EXPECT_EQ(held.value().checks, std::vector<std::string>{"gone"});
    held.click("scope.checks.entry.3");  // "gone" leaves the list with its switch
    EXPECT_TRUE(held.value().checks.empty());
    EXPECT_FALSE(held.has("scope.checks.entry.3"));
    held.click("scope.checks.entry.2");
    held.click("scope.sources.entry.0");
    EXPECT_EQ(held.value().checks, std::vector<std::string>{"b"});
    EXPECT_EQ(held.value().sources, std::vector<std::string>{"s1"});
    EXPECT_EQ(held.text("scope.checks.toggle"), "Checks (1)");

    // A picked name in another Unicode form is the offered one.
    held.change([](MaintenanceScope& changed) { changed.checks = {"Cafe\u0301"}; });
    held.section().setNames({.checks = {"Caf\u00e9"}});
    EXPECT_TRUE(held.at<QCheckBox>("scope.checks.entry.0").isChecked());
    EXPECT_FALSE(held.has("scope.checks.entry.1"));
}

TEST(ScopeSection, TheWholeProjectDropsEveryPick) {
    Held<MacScopeSection, MaintenanceScope> held(MaintenanceScope::defaultScope());
    held.section().setNames({.checks = {"c1", "c2"}, .rules = {"r1"}});
    for (const char* group : {"scope.checks", "scope.sources", "scope.rules"}) EXPECT_FALSE(held.shows(group));

    held.click("scope.whole");
    EXPECT_FALSE(held.value().project);
    EXPECT_TRUE(held.shows("scope.checks"));
    EXPECT_EQ(held.text("scope.checks.toggle"), "Checks (0)");
    held.at<QCheckBox>("scope.checks.entry.0").setChecked(true);
    held.at<QCheckBox>("scope.checks.entry.1").setChecked(true);
    held.at<QCheckBox>("scope.rules.entry.0").setChecked(true);
    EXPECT_EQ(held.value().checks.size(), 2u);

    held.click("scope.whole");
    EXPECT_EQ(held.value(), MaintenanceScope::defaultScope());
    held.click("scope.whole");
    EXPECT_FALSE(held.at<QCheckBox>("scope.checks.entry.0").isChecked());
    EXPECT_EQ(held.text("scope.rules.toggle"), "Rules (0)");
}

// ---- "Status pages" ----

MaintenanceComponentChoices twoPages(std::vector<std::string> unknown) {
    MaintenanceComponentChoices choices;
    choices.pages = {
        {"p1", "Public", {{"c1", "Berlin", "Edge"}, {"c2", "API", ""}}},
        {"p2", "Internal", {{"c1", "Berlin", "Edge"}}},
        {"p3", "Empty", {}},
    };
    choices.unknown = std::move(unknown);
    return choices;
}

TEST(StatusPageSection, ShowsWhatTheChoicesHoldOnlyWhileOn) {
    Held<MacStatusPageSection, Draft> held(Draft{});
    EXPECT_TRUE(held.shows("statusPage.show"));
    EXPECT_FALSE(held.shows("statusPage.loading"));
    EXPECT_FALSE(held.shows("statusPage.choices"));
    EXPECT_EQ(
        held.text("statusPage.footer"),
        "Off: the window stays off every status page. The components its scope covers still leave its time out of "
        "uptime.");

    held.click("statusPage.show");
    EXPECT_TRUE(held.value().statusPage);
    EXPECT_TRUE(held.shows("statusPage.loading"));
    EXPECT_EQ(held.at<QProgressBar>("statusPage.loading").maximum(), 0);
    EXPECT_EQ(
        held.text("statusPage.footer"),
        "The picked components show maintenance while the window runs, and each page lists it a week ahead. "
        "Maintenance time is left out of their uptime; an outage during it still counts.");

    held.section().setChoices(MaintenanceComponentChoices{});
    EXPECT_FALSE(held.shows("statusPage.loading"));
    EXPECT_TRUE(held.shows("statusPage.empty"));
    EXPECT_FALSE(held.has("statusPage.page.0"));

    held.section().setChoices(twoPages({}));
    EXPECT_FALSE(held.shows("statusPage.empty"));
    EXPECT_TRUE(held.shows("statusPage.page.2"));
    EXPECT_EQ(held.text("statusPage.page.2.toggle"), "Empty");
    EXPECT_EQ(held.writes, 1);
}

TEST(StatusPageSection, SwitchesPickComponentsByIdAcrossPages) {
    Draft draft;
    draft.statusPage = true;
    draft.components = {"gone", "c2", "gone"};
    Held<MacStatusPageSection, Draft> held(draft);
    // As the editor does: the choices follow the picks.
    held.afterWrite = [&] {
        std::vector<std::string> unknown;
        if (std::count(held.value().components.begin(), held.value().components.end(), "gone")) unknown = {"gone"};
        held.section().setChoices(twoPages(unknown));
    };
    held.section().setChoices(twoPages({"gone"}));
    held.click("statusPage.page.1.toggle");

    EXPECT_EQ(held.text("statusPage.page.0.toggle"), "Public");
    EXPECT_EQ(held.text("statusPage.page.0.entry.0"), "Edge \u00b7 Berlin");
    EXPECT_EQ(held.text("statusPage.page.0.entry.1"), "API");
    EXPECT_TRUE(held.at<QCheckBox>("statusPage.page.0.entry.1").isChecked());
    EXPECT_EQ(held.text("statusPage.unknown.0"), "Unknown component (no longer on a page)");
    EXPECT_TRUE(held.at<QCheckBox>("statusPage.unknown.0").isChecked());

    held.click("statusPage.page.1.entry.0");
    EXPECT_EQ(held.value().components, (std::vector<std::string>{"gone", "c2", "gone", "c1"}));
    EXPECT_TRUE(held.at<QCheckBox>("statusPage.page.0.entry.0").isChecked());
    held.click("statusPage.unknown.0");
    EXPECT_EQ(held.value().components, (std::vector<std::string>{"c2", "c1"}));
    EXPECT_FALSE(held.has("statusPage.unknown.0"));
    held.click("statusPage.page.0.entry.0");
    EXPECT_EQ(held.value().components, std::vector<std::string>{"c2"});
    EXPECT_FALSE(held.at<QCheckBox>("statusPage.page.1.entry.0").isChecked());
    EXPECT_TRUE(held.shows("statusPage.page.1.content"));  // still open

    // Off keeps the picks.
    held.click("statusPage.show");
    EXPECT_FALSE(held.shows("statusPage.choices"));
    EXPECT_EQ(held.value().components, std::vector<std::string>{"c2"});
}

}  // namespace
}  // namespace brisalune
