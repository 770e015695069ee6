#pragma once

#include <QString>

namespace shell {

// The settings key: named text values kept between runs. The root and key path
// name the store; here it is a QSettings INI file in the user's config folder
// (organisation "Tovrel Software", application "Cheerpost", group "Registry").
inline const QString kSettingsRoot = QStringLiteral("HKEY_LOCAL_MACHINE");
inline const QString kSettingsKeyPath = QStringLiteral("Software\\Tovrel Software\\Cheerpost\\Registry");

// The value's text; empty when the value or the store is missing, unreadable or
// not text. A text holding a NUL reads as the part before it. Never fails.
QString ReadRegistryValue(const QString &root, const QString &keyPath, const QString &valueName);
// Stores text under the name, creating the store when missing; the file is
// replaced atomically. A failed write leaves the old value and returns false.
bool WriteRegistryValue(const QString &root, const QString &keyPath, const QString &valueName, const QString &text);

// Where the key's values are kept.
QString settingsFilePath();

// Shorthands for the system's one key.
inline QString readSetting(const QString &name)
{
    return ReadRegistryValue(kSettingsRoot, kSettingsKeyPath, name);
}
inline bool writeSetting(const QString &name, const QString &text)
{
    return WriteRegistryValue(kSettingsRoot, kSettingsKeyPath, name, text);
}

} // namespace shell
