#pragma once

#include "hostmail/model/Item.h"

#include <QByteArray>

namespace hostmail {

// A note: a text file of the Notes folder; its subject is its first line.
class NoteItem : public Item {
public:
    explicit NoteItem(QByteArray body) : m_body(std::move(body)) {}

    QString TypeName() const override { return QStringLiteral("NoteItem"); }
    QString Subject() const override;
    QString Body() const { return QString::fromUtf8(m_body); }
    void SaveAs(const QString &path, int format) const override;

private:
    QByteArray m_body;
};

} // namespace hostmail
