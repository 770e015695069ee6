#pragma once

#include <QDate>
#include <QString>

namespace greetings {

// One template's subject and salutation choices on the greeting page.
struct OccasionSettings {
    bool subjectCustom = false;
    QString subjectStd;
    QString subjectCust;
    bool printDate = false; // after a custom subject
    bool salutationCustom = false;
    QString salutationStd = QStringLiteral("Dear");
    QString salutationCust = QStringLiteral("Enter custom salutation");
    bool printNames = false; // after a custom salutation
    QString attachmentPath;

    QString subjectText() const { return subjectCustom ? subjectCust : subjectStd; }
    QString salutationText() const { return salutationCustom ? salutationCust : salutationStd; }
};

inline OccasionSettings withSubject(const QString &standardSubject)
{
    OccasionSettings s;
    s.subjectStd = standardSubject;
    s.subjectCust = QStringLiteral("Enter custom subject");
    return s;
}

// The greeting page as a run reads it.
struct GreetingSettings {
    OccasionSettings birthday = withSubject(QStringLiteral("Happy Birthday !"));
    OccasionSettings anniversary = withSubject(QStringLiteral("Happy Anniversary !"));
    bool helpNeeded = false;
    QString cc;
    QString bcc;
    bool dayPrior = false;
    bool saveDraft = false; // "Y": Save, else Send
    bool children = false;
    QString childrenLead = QStringLiteral("PS: Lots of love to ");
    bool sendBetweenDates = false;
    QDate fromDate;
    QDate toDate;
};

} // namespace greetings
