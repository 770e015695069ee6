#pragma once

#include "hostmail/model/Item.h"

#include <QList>

#include <memory>
#include <vector>

namespace hostmail {

// A file of a folder that gave no items, and why ("it is 300 MB, larger
// than 128 MB"; "Permission denied").
struct SkippedFile {
    QString path;
    QString reason;
    bool tooLarge = false;
};

// The entries of a folder, enumerated in collection order, or in the order of
// the last Sort, and the files of the folder that could not be read.
class Items {
public:
    using List = std::vector<std::shared_ptr<Item>>;
    Items() = default;
    explicit Items(List items, QList<SkippedFile> skipped = {}, int contactsRead = -1)
        : m_items(std::move(items)), m_skipped(std::move(skipped)), m_contactsRead(contactsRead)
    {
    }

    int Count() const { return static_cast<int>(m_items.size()); }
    // key is "[LastName]", "[Start]" or "[Subject]"; the sort is stable.
    void Sort(const QString &key, bool descending = false);
    Item &at(int index) const { return *m_items.at(static_cast<size_t>(index)); }
    List::const_iterator begin() const { return m_items.begin(); }
    List::const_iterator end() const { return m_items.end(); }
    const QList<SkippedFile> &skippedFiles() const { return m_skipped; }
    // The contacts read from the folder, with those a filter did not keep.
    int contactsRead() const { return m_contactsRead < 0 ? Count() : m_contactsRead; }

private:
    List m_items;
    QList<SkippedFile> m_skipped;
    int m_contactsRead = -1;
};

} // namespace hostmail
