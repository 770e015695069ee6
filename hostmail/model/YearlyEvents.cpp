#include "hostmail/model/YearlyEvents.h"

#include "hostmail/HostError.h"
#include "hostmail/ical/ICalendar.h"
#include "hostmail/store/AtomicFile.h"

#include <QCryptographicHash>
#include <QFile>

namespace hostmail {

QString YearlyEvents::eventUid(const QString &contactKey, const char *occasion)
{
    const QByteArray hash = QCryptographicHash::hash(contactKey.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("cheerpost-%1-%2").arg(QString::fromLatin1(hash.left(24)), QLatin1String(occasion));
}

void YearlyEvents::refresh(const QString &contactKey, const ContactData &contact, bool birthday, bool anniversary,
                           const QString &contactFile) const
{
    QString name = contact.fullName.trimmed();
    if (name.isEmpty())
        name = (contact.firstName + QLatin1Char(' ') + contact.lastName).trimmed();
    if (birthday)
        refreshOne(contactKey, "birthday", QStringLiteral("%1's Birthday").arg(name), contact.birthday.date,
                   contactFile);
    if (anniversary)
        refreshOne(contactKey, "anniversary", QStringLiteral("%1's Anniversary").arg(name), contact.anniversary.date,
                   contactFile);
}

void YearlyEvents::refreshOne(const QString &contactKey, const char *occasion, const QString &summary,
                              const QDate &date, const QString &contactFile) const
{
    const QString uid = eventUid(contactKey, occasion);
    const QString path = m_folder + QLatin1Char('/') + uid + QLatin1String(".ics");
    if (!isDateSet(date)) {
        removeFile(path);
        return;
    }
    // The Calendar folder is made when the store is opened.
    writeFileAtomically(path, yearlyEventCalendar(uid, summary, date), contactFile);
}

} // namespace hostmail
