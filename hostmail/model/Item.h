#pragma once

#include <QString>
#include <QVariant>

namespace hostmail {

// Any entry of a host folder: a contact, a distribution list, a calendar item
// or a note.
class Item {
public:
    virtual ~Item() = default;
    virtual QString TypeName() const = 0;
    virtual QString Subject() const = 0;
    // Writes the item to path in format (olVCard, olICal or olTXT), replacing
    // any file there. Throws HostError for a format the item has not, or when
    // the file cannot be written.
    virtual void SaveAs(const QString &path, int format) const = 0;
    // The value that Items::Sort orders by for a key such as "[LastName]".
    virtual QVariant sortValue(const QString &key) const;
};

} // namespace hostmail
