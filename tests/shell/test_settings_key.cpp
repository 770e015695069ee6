#include "shell/core/SettingsKey.h"

#include <QSettings>

#include <gtest/gtest.h>

using namespace shell;

TEST(SettingsKey, MissingReadsEmptyAndWritesCreateAndReplace)
{
    EXPECT_EQ(readSetting(QStringLiteral("NeverWritten")), QString());
    writeSetting(QStringLiteral("CC"), QStringLiteral("a@example.org"));
    EXPECT_EQ(readSetting(QStringLiteral("CC")), "a@example.org");
    writeSetting(QStringLiteral("CC"), QStringLiteral("b@example.org; c@example.org"));
    EXPECT_EQ(readSetting(QStringLiteral("CC")), "b@example.org; c@example.org");
    // The file lives under the user's config folder, in the group "Registry".
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovrel Software"),
                QStringLiteral("Cheerpost"));
    EXPECT_TRUE(s.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    EXPECT_EQ(s.value(QStringLiteral("Registry/CC")).toString(), "b@example.org; c@example.org");
}

TEST(SettingsKey, NonTextAndNulValues)
{
    {
        QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovrel Software"),
                    QStringLiteral("Cheerpost"));
        s.setValue(QStringLiteral("Registry/Bytes"), QByteArray("abc"));
        s.setValue(QStringLiteral("Registry/List"), QStringList{"a", "b"});
        s.setValue(QStringLiteral("Registry/Nul"), QString::fromUtf8("before\0after", 12));
        s.sync();
    }
    EXPECT_EQ(readSetting(QStringLiteral("List")), QString());
    EXPECT_EQ(readSetting(QStringLiteral("Nul")), "before");
    EXPECT_EQ(readSetting(QStringLiteral("Bytes")), QString());
}
