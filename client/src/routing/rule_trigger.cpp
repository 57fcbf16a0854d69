#include <brisalune/client/routing/rule_trigger.hpp>

#include <brisalune/platform/text.hpp>

namespace brisalune {

RuleTrigger RuleTrigger::quiet(std::vector<std::string> sources, std::int64_t minutes) {
    RuleTrigger trigger;
    trigger.type = Kind::sourceSilent;
    trigger.sources = std::move(sources);
    trigger.silentForMinutes = minutes;
    return trigger;
}

RuleTrigger RuleTrigger::onCron(
    std::vector<std::string> sources, std::string expression, std::string timezone, std::int64_t graceMinutes) {
    RuleTrigger trigger;
    trigger.type = Kind::sourceSilent;
    trigger.sources = std::move(sources);
    trigger.cron = std::move(expression);
    trigger.timezone = std::move(timezone);
    trigger.graceMinutes = graceMinutes;
    return trigger;
}

RuleTrigger RuleTrigger::sourceSilent(std::vector<std::string> sources, Schedule schedule) {
    if (const auto* cron = schedule.get<Schedule::Cron>()) {
        return onCron(std::move(sources), cron->expression, cron->timezone, cron->graceMinutes);
    }
    return quiet(std::move(sources), schedule.get<Schedule::Quiet>()->minutes);
}

std::optional<RuleTrigger::Schedule> RuleTrigger::schedule() const {
    if (type != Kind::sourceSilent) return std::nullopt;
    if (cron) return Schedule{Schedule::Cron{*cron, timezone.value_or(""), graceMinutes.value_or(0)}};
    return Schedule{Schedule::Quiet{silentForMinutes}};
}

bool RuleTrigger::looksLikeCron(std::string_view text) {
    int fields = 0;
    bool inField = false;
    for (std::size_t at = 0; at < text.size();) {
        auto point = platform::decodeCodePoint(text, at);
        bool blank = point && platform::isWhitespaceOrNewline(point->value);
        if (!blank && !inField) ++fields;
        inField = !blank;
        at += point ? point->bytes.size() : 1;  // a stray byte is part of a field
    }
    return fields == 5;
}

}  // namespace brisalune

std::size_t std::hash<brisalune::RuleTrigger::Schedule>::operator()(
    const brisalune::RuleTrigger::Schedule& schedule) const {
    using Schedule = brisalune::RuleTrigger::Schedule;
    brisalune::FieldHasher hasher;
    hasher.add(schedule.value.index());
    if (const auto* quiet = schedule.get<Schedule::Quiet>()) {
        hasher.add(quiet->minutes);
    } else if (const auto* cron = schedule.get<Schedule::Cron>()) {
        hasher.add(cron->expression);
        hasher.add(cron->timezone);
        hasher.add(cron->graceMinutes);
    }
    return hasher.value();
}
