#pragma once

#include "hostmail/model/Item.h"
#include "hostmail/vcard/ContactData.h"

#include <memory>

namespace hostmail {

class VCardFile;

// A distribution list kept in the Contacts folder (a group card).
class DistListItem : public Item {
public:
    DistListItem(std::shared_ptr<VCardFile> file, int card, ContactData data);

    QString TypeName() const override { return QStringLiteral("DistListItem"); }
    QString Subject() const override { return m_data.fullName; }
    QString DLName() const { return m_data.fullName; }
    QStringList members() const { return m_data.members; }
    // A private list: its members must not see each other.
    bool hidesMembers() const { return m_data.hideMembers; }
    void SaveAs(const QString &path, int format) const override;

private:
    std::shared_ptr<VCardFile> m_file;
    int m_card;
    ContactData m_data;
};

} // namespace hostmail
