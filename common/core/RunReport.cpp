#include "common/core/RunReport.h"

#include "common/core/ShortDate.h"

#include <algorithm>

namespace common {

QString nameList(const QStringList &names, int max)
{
    if (names.size() <= max)
        return names.join(QLatin1String(", "));
    return names.mid(0, max).join(QLatin1String(", ")) + QStringLiteral(" and %1 more").arg(names.size() - max);
}

void RunReport::add(QList<Group> &groups, const QString &key, const QString &given)
{
    // A name from a contact file is shown on one line, whatever it holds.
    QString name = given;
    for (QChar &c : name) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator || c == QChar::ParagraphSeparator)
            c = QLatin1Char(' ');
    }
    name = name.simplified();
    for (Group &g : groups) {
        if (g.key == key) {
            ++g.count;
            if (!name.isEmpty())
                g.names.append(name);
            return;
        }
    }
    groups.append({key, 1, name.isEmpty() ? QStringList() : QStringList{name}});
}

int RunReport::total(const QList<Group> &groups)
{
    int n = 0;
    for (const Group &g : groups)
        n += g.count;
    return n;
}

void RunReport::written(const QString &file, const QString &place, const QDate &day)
{
    m_written.insert(file, {day, place});
}

void RunReport::refused(const QStringList &files, const QString &reason)
{
    for (const QString &file : files) {
        if (m_written.remove(file) > 0)
            notSaved(reason);
    }
}

void RunReport::settleWritten()
{
    QList<QPair<QDate, QString>> places = m_written.values();
    std::sort(places.begin(), places.end());
    for (const auto &place : std::as_const(places))
        made(place.second);
    m_written.clear();
}

int RunReport::madeCount() const
{
    return total(m_made);
}

int RunReport::notSavedCount() const
{
    return total(m_notSaved);
}

int RunReport::skippedCount() const
{
    return total(m_skipped);
}

QString RunReport::count(int n) const
{
    return QStringLiteral("%1 %2").arg(n).arg(n == 1 ? m_noun : m_plural);
}

QString RunReport::outboxPlace(const QString &folder, const QDate &day, const QDate &today)
{
    if (!day.isValid() || day <= today)
        return QStringLiteral("in the Outbox (%1), to leave now").arg(folder);
    return QStringLiteral("in the Outbox (%1), to leave on %2").arg(folder, dateText(day));
}

QString RunReport::draftsPlace(const QString &folder)
{
    return QStringLiteral("saved in Drafts (%1)").arg(folder);
}

QStringList RunReport::lines() const
{
    QStringList out;
    for (const Group &g : m_made)
        out.append(QStringLiteral("%1 %2.").arg(count(g.count), g.key));
    for (const Group &g : m_notSaved)
        out.append(QStringLiteral("%1 not saved: %2.").arg(count(g.count), g.key));
    for (const Group &g : m_skipped) {
        QString line = QStringLiteral("Skipped, %1 (%2)").arg(g.key).arg(g.count);
        if (!g.names.isEmpty())
            line += QLatin1String(": ") + nameList(g.names);
        out.append(line + QLatin1Char('.'));
    }
    out.append(m_notes);
    return out;
}

QString RunReport::message(const QString &doneText, const QString &whyNothing) const
{
    QString head = madeCount() > 0 ? doneText : QStringLiteral("No %1 were made: %2.").arg(m_plural, whyNothing);
    const QStringList rest = lines();
    if (rest.isEmpty())
        return head;
    return head + QLatin1String("\n\n") + rest.join(QLatin1Char('\n'));
}

} // namespace common
