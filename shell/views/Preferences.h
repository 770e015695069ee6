#pragma once

class QTabWidget;

namespace bulkmail {
class BulkPage;
}
namespace greetings {
class GreetingPage;
}

namespace shell {

// The two pages' preferences in the settings key. restore applies every
// stored value, the greeting page's first, as a user's change would (so the
// controls' handlers run); SavePrefs writes the group of the page that is
// current.
class Preferences {
public:
    Preferences(const QTabWidget &pages, greetings::GreetingPage &greetings, bulkmail::BulkPage &bulk);

    void restore() const;
    bool SavePrefs() const; // false when a value could not be stored

private:
    const QTabWidget &m_pages;
    greetings::GreetingPage &m_greetings;
    bulkmail::BulkPage &m_bulk;
};

} // namespace shell
