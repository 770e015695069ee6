#pragma once

#include "hostmail/model/Item.h"

#include <QDateTime>

namespace hostmail {

// An event of the Calendar folder.
class AppointmentItem : public Item {
public:
    AppointmentItem(QString subject, QDateTime start, QByteArray calendar)
        : m_subject(std::move(subject)), m_start(std::move(start)), m_calendar(std::move(calendar))
    {
    }

    QString TypeName() const override { return QStringLiteral("AppointmentItem"); }
    QString Subject() const override { return m_subject; }
    QDateTime Start() const { return m_start; }
    void SaveAs(const QString &path, int format) const override;
    QVariant sortValue(const QString &key) const override;

private:
    QString m_subject;
    QDateTime m_start;
    QByteArray m_calendar;
};

} // namespace hostmail
