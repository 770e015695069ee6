#include "shell/core/DeliveryTimer.h"
#include "shell/core/LockKeys.h"
#include "shell/core/MailAccount.h"
#include "shell/core/OutboxStatus.h"

#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace shell;

namespace {

void write(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.section('/', 0, -2));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A systemctl that answers is-enabled with state and exits with code, and
// enable with enableCode; it records what it was asked.
QString systemctl(const QTemporaryDir &dir, const char *state, int code, int enableCode, const char *error = "")
{
    const QString script = dir.filePath("systemctl");
    write(script, QStringLiteral("#!/bin/sh\necho \"$@\" >> '%1/calls'\n"
                                 "case \"$2\" in is-enabled) echo %2; echo '%3' >&2; exit %4;; "
                                 "enable) echo '%3' >&2; exit %5;; esac\n")
                      .arg(dir.path(), QLatin1String(state), QLatin1String(error))
                      .arg(code)
                      .arg(enableCode)
                      .toUtf8());
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return script;
}

QByteArray calls(const QTemporaryDir &dir)
{
    QFile f(dir.filePath("calls"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(LockKeys, ReadFromTheKeyboardsLeds)
{
    QTemporaryDir leds;
    EXPECT_FALSE(readLockKeys(leds.path()).caps);
    write(leds.filePath("input3::capslock/brightness"), "1\n");
    write(leds.filePath("input3::numlock/brightness"), "0\n");
    write(leds.filePath("input7::numlock/brightness"), "0\n");
    write(leds.filePath("phy0-led/brightness"), "1\n");
    LockKeys keys = readLockKeys(leds.path());
    EXPECT_TRUE(keys.caps);
    EXPECT_FALSE(keys.num);
    write(leds.filePath("input7::numlock/brightness"), "1\n"); // any keyboard that shows it
    EXPECT_TRUE(readLockKeys(leds.path()).num);
}

TEST(DeliveryTimer, EnabledOnceWhereItIsNotAndAdviceWhereItCannotBe)
{
    QTemporaryDir on;
    EXPECT_EQ(ensureDeliveryTimer(systemctl(on, "enabled", 0, 1)), DeliveryTimerState::Enabled);
    EXPECT_EQ(calls(on), "--user is-enabled cheerpost-deliver.timer\n");

    QTemporaryDir off;
    EXPECT_EQ(ensureDeliveryTimer(systemctl(off, "disabled", 1, 0)), DeliveryTimerState::Enabled);
    EXPECT_EQ(calls(off), "--user is-enabled cheerpost-deliver.timer\n"
                          "--user enable --now cheerpost-deliver.timer\n");

    QTemporaryDir noBus;
    EXPECT_EQ(ensureDeliveryTimer(systemctl(noBus, "", 1, 1, "Failed to connect to bus: No medium found")),
              DeliveryTimerState::NoUserManager);
    QTemporaryDir missing;
    EXPECT_EQ(ensureDeliveryTimer(systemctl(missing, "", 1, 1, "Unit file cheerpost-deliver.timer does not exist.")),
              DeliveryTimerState::NotInstalled);
    EXPECT_EQ(ensureDeliveryTimer(QStringLiteral("/no/such/systemctl")), DeliveryTimerState::NoUserManager);

    EXPECT_TRUE(deliveryTimerAdvice(DeliveryTimerState::Enabled).isEmpty());
    EXPECT_EQ(deliveryTimerAdvice(DeliveryTimerState::NoUserManager),
              "Mail for a later day waits in the Outbox until cheerpost-deliver runs: schedule it, for example "
              "every 15 minutes with cron (*/15 * * * * cheerpost-deliver).");
}

TEST(OutboxStatus, AFailedMessageSaysWhenItWillBeTriedAgain)
{
    hostmail::OutboxEntry e;
    e.status = hostmail::OutboxEntry::Status::Failed;
    e.reason = "The mail server refused the password";
    EXPECT_EQ(shell::outboxStatusText(e),
              "Failed: The mail server refused the password; will be tried again on the next delivery");
    e.retryAt = QDateTime(QDate(2026, 12, 28), QTime(9, 30));
    EXPECT_TRUE(shell::outboxStatusText(e).startsWith("Failed: The mail server refused the password; will be tried "
                                                      "again on "));
}

TEST(Sender, ANameWithSpecialsIsQuotedAndReadBackWhole)
{
    EXPECT_EQ(shell::senderLine("Anna Berg", "anna@example.org"), "Anna Berg <anna@example.org>");
    EXPECT_EQ(shell::senderLine("  ", "anna@example.org"), "anna@example.org");
    EXPECT_EQ(shell::senderLine("Berg, Anna \"Ann\"", "anna@example.org"),
              "\"Berg, Anna \\\"Ann\\\"\" <anna@example.org>");
    for (const QString &name : {QString("Anna Berg"), QString("Berg, Anna \"Ann\""), QString("Zoë Ørsted")})
        EXPECT_EQ(shell::splitSender(shell::senderLine(name, "anna@example.org")),
                  std::make_pair(name, QString("anna@example.org")));
    EXPECT_EQ(shell::splitSender("anna@example.org"), std::make_pair(QString(), QString("anna@example.org")));
}
