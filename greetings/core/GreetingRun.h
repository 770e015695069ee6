#pragma once

#include "common/core/RunReport.h"
#include "greetings/core/Composition.h"
#include "greetings/core/GreetingSettings.h"
#include "greetings/core/Occasions.h"
#include "hostmail/model/ApplicationFactory.h"
#include "templates/core/TemplateDocument.h"

#include <functional>

namespace common {
class Prompter;
}
namespace hostmail {
class ContactItem;
}

namespace greetings {

inline const QString kConfirmText =
    QStringLiteral("Do you wish to send email wishes to all Contacts meeting the selected criteria? ");
inline const QString kDoneText = QStringLiteral("All birthday & anniversary emails have been generated.");
inline const QString kAdviceOne =
    QStringLiteral("I advise you to launch Microsoft Outlook in Offline mode.\r"
                   "I can launch it myself, but if it is running in the background,\r"
                   "I wouldn't have to launch it automatically with every email that I create...\r"
                   "Please be sure to be offline or else it takes a long time to create each email.");
inline const QString kAdviceTwo =
    QStringLiteral("Now, please set your Birthday and Anniversary Email Preferences.\r"
                   "Then set your email preferences and click the Send Email button to send emails.\r"
                   "To save your preferences, please click the Save button and the next time you launch\r"
                   "Cheerpost, these preferences will be predefaulted for you.");

// One click on "Send Emails" of the greeting page: every qualifying birthday
// and anniversary of the contacts folder becomes one HTML message, saved as a
// draft or sent. A step that fails is skipped, and the closing message says
// what was made, where, and what was skipped or not saved, and why. Before
// it makes greetings from an empty template, or without a picture or
// attachment that cannot be read, it asks.
class GreetingRun {
public:
    using Progress = std::function<void(int)>;
    GreetingRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter, Progress progress);
    // Asked once the run's own checks and questions are done, right before
    // it opens the contacts (the address book sync); false ends the run
    // with nothing written and nothing more said.
    std::function<bool()> beforeOpening;

    // Whether the last run sent a greeting to be delivered on a later day.
    bool queuedForLater() const { return m_queuedForLater; }
    // What the last run did.
    const common::RunReport &report() const { return m_report; }
    // Returns the number of greetings that reached the disk.
    int run(const GreetingSettings &settings, const templates::TemplateDocument &birthdayTemplate,
            const templates::TemplateDocument &anniversaryTemplate, const QDate &today);

private:
    struct Pass {
        OccasionKind kind;
        const OccasionSettings *settings;
        const QString *html;
        QStringList paths; // pictures, then the attachment
    };
    struct Greeting {
        const hostmail::ContactItem *contact;
        Pass *pass;
        QDate contactDate;
        Occasion occasion;
        QString to;
    };
    void deliver(const hostmail::Application &app, const Greeting &g, const GreetingSettings &settings, int runYear);
    void advance();

    hostmail::ApplicationFactory m_openHost;
    common::Prompter &m_prompter;
    Progress m_progress;
    int m_value = 0;
    QDate m_today;
    bool m_queuedForLater = false;
    common::RunReport m_report{QStringLiteral("greeting"), QStringLiteral("greetings")};
};

// The questions a run asks before it makes mail that is plainly not meant.
QString emptyTemplateQuestion(OccasionKind kind, int greetings);
QString leftOutQuestion(const QString &path, const QString &problem);

} // namespace greetings
