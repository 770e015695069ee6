#pragma once

#include "hostmail/model/Item.h"

#include <memory>
#include <vector>

namespace hostmail {

// The entries of a folder, enumerated in collection order, or in the order of
// the last Sort.
class Items {
public:
    using List = std::vector<std::shared_ptr<Item>>;
    Items() = default;
    explicit Items(List items) : m_items(std::move(items)) {}

    int Count() const { return static_cast<int>(m_items.size()); }
    // key is "[LastName]", "[Start]" or "[Subject]"; the sort is stable.
    void Sort(const QString &key, bool descending = false);
    Item &at(int index) const { return *m_items.at(static_cast<size_t>(index)); }
    List::const_iterator begin() const { return m_items.begin(); }
    List::const_iterator end() const { return m_items.end(); }

private:
    List m_items;
};

} // namespace hostmail
