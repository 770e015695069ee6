#include "shell/views/Preferences.h"

#include "bulkmail/views/BulkPage.h"
#include "greetings/views/GreetingPage.h"
#include "shell/core/SettingsKey.h"

#include <QTabWidget>

namespace shell {

Preferences::Preferences(const QTabWidget &pages, greetings::GreetingPage &greetings, bulkmail::BulkPage &bulk)
    : m_pages(pages), m_greetings(greetings), m_bulk(bulk)
{
}

void Preferences::restore() const
{
    const common::StoredText stored = [](const char *name) { return readSetting(QLatin1String(name)); };
    m_greetings.restorePreferences(stored);
    m_bulk.restorePreferences(stored);
}

bool Preferences::SavePrefs() const
{
    const common::PreferenceList values =
        m_pages.currentWidget() == &m_greetings ? m_greetings.preferences() : m_bulk.preferences();
    bool allWritten = true;
    for (const auto &[name, value] : values)
        allWritten = writeSetting(QLatin1String(name), value) && allWritten;
    return allWritten;
}

} // namespace shell
