#include "hostmail/ical/ICalendar.h"

#include "hostmail/HostError.h"

#include <libical/ical.h>

#include <memory>

namespace hostmail {

namespace {

struct ComponentFree {
    void operator()(icalcomponent *c) const { icalcomponent_free(c); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

icaltimetype dateValue(const QDate &d)
{
    icaltimetype t = icaltime_null_date();
    t.year = d.year();
    t.month = d.month();
    t.day = d.day();
    t.is_date = 1;
    return t;
}

icaltimetype nowUtc()
{
    return icaltime_current_time_with_zone(icaltimezone_get_utc_timezone());
}

QByteArray text(icalcomponent *calendar)
{
    char *s = icalcomponent_as_ical_string_r(calendar);
    QByteArray out(s);
    free(s);
    return out;
}

icalcomponent *newCalendar()
{
    icalcomponent *cal = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
    icalcomponent_add_property(cal, icalproperty_new_version("2.0"));
    icalcomponent_add_property(cal, icalproperty_new_prodid("-//Tovrel Software//Cheerpost 5.0//EN"));
    return cal;
}

} // namespace

QByteArray yearlyEventCalendar(const QString &uid, const QString &summary, const QDate &date)
{
    Component cal(newCalendar());
    icalcomponent *ev = icalcomponent_new(ICAL_VEVENT_COMPONENT);
    icalcomponent_add_property(ev, icalproperty_new_uid(uid.toUtf8().constData()));
    icalcomponent_add_property(ev, icalproperty_new_dtstamp(nowUtc()));
    icalcomponent_add_property(ev, icalproperty_new_summary(summary.toUtf8().constData()));
    icalcomponent_add_property(ev, icalproperty_new_dtstart(dateValue(date)));
    icalcomponent_add_property(ev, icalproperty_new_dtend(dateValue(date.addDays(1))));
    icalrecurrencetype rule;
    icalrecurrencetype_clear(&rule);
    rule.freq = ICAL_YEARLY_RECURRENCE;
    rule.interval = 1;
    // Day 60 is 29 February in a leap year and 1 March otherwise, the day the
    // greetings use: a plain yearly rule would skip three years in four.
    if (date.month() == 2 && date.day() == 29)
        rule.by_year_day[0] = 60;
    icalcomponent_add_property(ev, icalproperty_new_rrule(rule));
    icalcomponent_add_property(ev, icalproperty_new_transp(ICAL_TRANSP_TRANSPARENT));
    icalcomponent_add_property(ev, icalproperty_new_categories("Birthday/Anniversary"));
    icalcomponent_add_component(cal.get(), ev);
    return text(cal.get());
}

QByteArray taskCalendar(const TaskData &task)
{
    Component cal(newCalendar());
    icalcomponent *todo = icalcomponent_new(ICAL_VTODO_COMPONENT);
    icalcomponent_add_property(todo, icalproperty_new_uid(task.uid.toUtf8().constData()));
    icalcomponent_add_property(todo, icalproperty_new_dtstamp(nowUtc()));
    icalcomponent_add_property(todo, icalproperty_new_summary(task.subject.toUtf8().constData()));
    if (task.startDate.isValid())
        icalcomponent_add_property(todo, icalproperty_new_dtstart(dateValue(task.startDate)));
    if (task.dueDate.isValid())
        icalcomponent_add_property(todo, icalproperty_new_due(dateValue(task.dueDate)));
    // iCalendar priority: 1 high, 5 normal, 9 low.
    const int priority = task.importance == 2 ? 1 : task.importance == 0 ? 9 : 5;
    icalcomponent_add_property(todo, icalproperty_new_priority(priority));
    icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    if (task.recurring) {
        icalrecurrencetype rule;
        icalrecurrencetype_clear(&rule);
        rule.freq = task.recurrenceType == 0   ? ICAL_DAILY_RECURRENCE
                    : task.recurrenceType == 1 ? ICAL_WEEKLY_RECURRENCE
                                               : ICAL_MONTHLY_RECURRENCE;
        rule.interval = static_cast<short>(task.interval > 0 ? task.interval : 1);
        if (task.recurrenceType == 2)
            rule.by_month_day[0] = static_cast<short>(task.dayOfMonth);
        icalcomponent_add_property(todo, icalproperty_new_rrule(rule));
    }
    if (task.reminderSet) {
        // The host's default reminder: 08:00 on the task's start day.
        icalcomponent *alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
        icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
        icalcomponent_add_property(alarm, icalproperty_new_description(task.subject.toUtf8().constData()));
        icaltriggertype trigger;
        trigger.time = icaltime_null_time();
        trigger.duration = icaldurationtype_from_int(8 * 3600);
        icalproperty *p = icalproperty_new_trigger(trigger);
        icalproperty_add_parameter(p, icalparameter_new_related(ICAL_RELATED_START));
        icalcomponent_add_property(alarm, p);
        icalcomponent_add_component(todo, alarm);
    }
    icalcomponent_add_component(cal.get(), todo);
    return text(cal.get());
}

QList<QDate> occurrences(const QByteArray &ics, const QDate &from, const QDate &to)
{
    Component root(icalparser_parse_string(ics.constData()));
    if (!root)
        throw HostError(QStringLiteral("Not an iCalendar file"));
    icalcomponent *ev = icalcomponent_isa(root.get()) == ICAL_VEVENT_COMPONENT
                            ? root.get()
                            : icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT);
    if (!ev)
        throw HostError(QStringLiteral("No event in the calendar"));
    const icaltimetype start = icalcomponent_get_dtstart(ev);
    QList<QDate> out;
    icalproperty *rrule = icalcomponent_get_first_property(ev, ICAL_RRULE_PROPERTY);
    if (!rrule) {
        const QDate d(start.year, start.month, start.day);
        if (d >= from && d <= to)
            out.append(d);
        return out;
    }
    icalrecur_iterator *it = icalrecur_iterator_new(icalproperty_get_rrule(rrule), start);
    if (!it)
        throw HostError(QStringLiteral("The event's recurrence cannot be read"));
    for (icaltimetype t = icalrecur_iterator_next(it); !icaltime_is_null_time(t); t = icalrecur_iterator_next(it)) {
        const QDate d(t.year, t.month, t.day);
        if (d > to)
            break;
        if (d >= from)
            out.append(d);
    }
    icalrecur_iterator_free(it);
    return out;
}

QList<CalendarEvent> readCalendarEvents(const QByteArray &ics)
{
    Component root(icalparser_parse_string(ics.constData()));
    if (!root)
        throw HostError(QStringLiteral("Not an iCalendar file"));
    QList<CalendarEvent> events;
    auto take = [&](icalcomponent *ev) {
        CalendarEvent e;
        if (const char *s = icalcomponent_get_summary(ev))
            e.subject = QString::fromUtf8(s);
        const icaltimetype start = icalcomponent_get_dtstart(ev);
        if (!icaltime_is_null_time(start)) {
            e.start = QDateTime(QDate(start.year, start.month, start.day),
                                start.is_date ? QTime(0, 0) : QTime(start.hour, start.minute, start.second));
        }
        Component cal(newCalendar());
        icalcomponent_add_component(cal.get(), icalcomponent_new_clone(ev));
        e.calendar = text(cal.get());
        events.append(e);
    };
    if (icalcomponent_isa(root.get()) == ICAL_VEVENT_COMPONENT) {
        take(root.get());
        return events;
    }
    for (icalcomponent *ev = icalcomponent_get_first_component(root.get(), ICAL_VEVENT_COMPONENT); ev;
         ev = icalcomponent_get_next_component(root.get(), ICAL_VEVENT_COMPONENT))
        take(ev);
    return events;
}

} // namespace hostmail
