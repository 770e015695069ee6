#include "shell/core/SettingsKey.h"

#include <QSettings>

namespace shell {

namespace {

// The key path's last part names the group; the organisation and application
// name the file, as "Software\Organisation\Application\Group".
struct Location {
    QString organisation = QStringLiteral("Tovrel Software");
    QString application = QStringLiteral("Cheerpost");
    QString group = QStringLiteral("Registry");
};

Location locate(const QString &keyPath)
{
    Location l;
    const QStringList parts = keyPath.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (parts.size() >= 4) {
        l.organisation = parts.at(parts.size() - 3);
        l.application = parts.at(parts.size() - 2);
        l.group = parts.last();
    }
    return l;
}

} // namespace

QString ReadRegistryValue(const QString &, const QString &keyPath, const QString &valueName)
{
    const Location l = locate(keyPath);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, l.organisation, l.application);
    if (settings.status() != QSettings::NoError)
        return {};
    settings.beginGroup(l.group);
    const QVariant v = settings.value(valueName);
    if (v.typeId() != QMetaType::QString)
        return {};
    const QString text = v.toString();
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

QString settingsFilePath()
{
    const Location l = locate(kSettingsKeyPath);
    return QSettings(QSettings::IniFormat, QSettings::UserScope, l.organisation, l.application).fileName();
}

bool WriteRegistryValue(const QString &, const QString &keyPath, const QString &valueName, const QString &text)
{
    const Location l = locate(keyPath);
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, l.organisation, l.application);
    if (settings.status() != QSettings::NoError)
        return false; // an unreadable store is never overwritten
    settings.beginGroup(l.group);
    settings.setValue(valueName, text);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace shell
