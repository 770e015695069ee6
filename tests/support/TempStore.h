#pragma once

#include "hostmail/store/StorePaths.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>

// A mail store in a temporary folder, removed with the object.
struct TempStore {
    QTemporaryDir dir;
    hostmail::StorePaths paths = hostmail::StorePaths::underRoot(dir.path());

    TempStore()
    {
        for (const QString &f : {paths.contacts, paths.calendar, paths.tasks, paths.notes, paths.mail})
            QDir().mkpath(f);
    }
    QString contactFile(const QString &name) const { return paths.contacts + QLatin1Char('/') + name; }
    void write(const QString &path, const QByteArray &bytes) const
    {
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(bytes);
    }
    void addCard(const QString &name, const QByteArray &bytes) const { write(contactFile(name), bytes); }
    QByteArray read(const QString &path) const
    {
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }
    QStringList files(const QString &folder) const
    {
        QStringList out;
        for (const QString &n : QDir(folder).entryList(QDir::Files, QDir::Name))
            out.append(folder + QLatin1Char('/') + n);
        return out;
    }
    // Messages of a Maildir folder in the order they were stored.
    static QStringList inOrder(QStringList list)
    {
        static const QRegularExpression counter(QStringLiteral("Q(\\d+)\\."));
        std::sort(list.begin(), list.end(), [](const QString &a, const QString &b) {
            return counter.match(a).captured(1).toLongLong() < counter.match(b).captured(1).toLongLong();
        });
        return list;
    }
    QStringList drafts() const { return inOrder(files(paths.drafts() + QStringLiteral("/cur"))); }
    QStringList outbox() const { return inOrder(files(paths.outbox() + QStringLiteral("/new"))); }
};

// A simple vCard 3.0 contact.
inline QByteArray card(const QString &first, const QString &last, const QString &extra = {},
                       const QString &email = QString())
{
    QString s = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nN:%1;%2;;;\r\nFN:%2 %1\r\n").arg(last, first);
    if (!email.isEmpty())
        s += QStringLiteral("EMAIL:%1\r\n").arg(email);
    s += extra;
    s += QStringLiteral("END:VCARD\r\n");
    return s.toUtf8();
}
