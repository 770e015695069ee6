#pragma once

#include <QDate>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace common {

// What one long run really did, for the lines of its closing message: how
// many items were made and where, which contacts or files were skipped and
// why, and what was composed but never reached the disk. Lines keep the order
// in which their kind first happened.
class RunReport {
public:
    // noun and plural name what the run makes: "greeting", "greetings".
    RunReport(QString noun, QString plural) : m_noun(std::move(noun)), m_plural(std::move(plural)) {}

    // One item made; place says where, as "saved in Drafts (FOLDER)".
    void made(const QString &place) { add(m_made, place, {}); }
    // One item written to file, made only once it is known to be on disk;
    // day orders the places in the message.
    void written(const QString &file, const QString &place, const QDate &day = {});
    // Of the files written, those the disk refused: each is not saved, for reason.
    void refused(const QStringList &files, const QString &reason);
    // Counts every file written and not refused as made.
    void settleWritten();
    // One item composed that did not reach the disk, and why.
    void notSaved(const QString &reason) { add(m_notSaved, reason, {}); }
    // One contact or file left out, with its name, for a reason such as
    // "no e-mail address".
    void skipped(const QString &reason, const QString &who) { add(m_skipped, reason, who); }
    // A line of its own (a picture left out, where a log was written).
    void note(const QString &line) { m_notes.append(line); }

    int madeCount() const;
    int notSavedCount() const;
    int skippedCount() const;
    bool hasProblems() const { return notSavedCount() > 0 || skippedCount() > 0 || !m_notes.isEmpty(); }

    // "3 greetings" or "1 greeting".
    QString count(int n) const;
    // The closing message: doneText and what was made; when nothing was
    // made, "No NOUNS were made: WHY." instead of doneText.
    QString message(const QString &doneText, const QString &whyNothing) const;
    // The lines after the first: made, not saved, skipped, notes.
    QStringList lines() const;

    // The Outbox place of a message leaving on day, as of today.
    static QString outboxPlace(const QString &folder, const QDate &day, const QDate &today);
    static QString draftsPlace(const QString &folder);

private:
    struct Group {
        QString key;
        int count = 0;
        QStringList names;
    };
    static void add(QList<Group> &groups, const QString &key, const QString &name);
    static int total(const QList<Group> &groups);

    QString m_noun;
    QString m_plural;
    QList<Group> m_made;
    QList<Group> m_notSaved;
    QList<Group> m_skipped;
    QStringList m_notes;
    QHash<QString, QPair<QDate, QString>> m_written; // file -> day and place, until settled
};

// Names joined with ", ", at most max of them, then "and N more".
QString nameList(const QStringList &names, int max = 8);

} // namespace common
