#pragma once

#include <QString>

// The program's fixed texts, written out here as the program must show them,
// so that tests compare what it shows with these words and never with the
// program's own constants.
namespace texts {

inline const QString title = QStringLiteral("Cheerpost");

inline const QString greetingConfirm =
    QStringLiteral("Do you wish to send email wishes to all Contacts meeting the selected criteria? ");
inline const QString greetingDone = QStringLiteral("All birthday & anniversary emails have been generated.");
inline const QString adviceOne =
    QStringLiteral("I advise you to launch Microsoft Outlook in Offline mode.\r"
                   "I can launch it myself, but if it is running in the background,\r"
                   "I wouldn't have to launch it automatically with every email that I create...\r"
                   "Please be sure to be offline or else it takes a long time to create each email.");
inline const QString adviceTwo =
    QStringLiteral("Now, please set your Birthday and Anniversary Email Preferences.\r"
                   "Then set your email preferences and click the Send Email button to send emails.\r"
                   "To save your preferences, please click the Save button and the next time you launch\r"
                   "Cheerpost, these preferences will be predefaulted for you.");

inline const QString bulkConfirm = QStringLiteral("Do you wish to send emails to your selected Contacts?");
inline const QString allContacts =
    QStringLiteral("Are you sure that you wish to send emails to All Contacts? This is a time consuming task "
                   "based on the number of contacts in your Outlook client.");
inline const QString bulkDone = QStringLiteral("All emails have been generated.");
inline const QString noList = QStringLiteral("Please enter a Distribution List to proceed.");
inline const QString noCategory =
    QStringLiteral("Please enter a valid Contact Category that exists in MS Outlook to proceed.");

inline const QString reminderQuestion =
    QStringLiteral("Please run this utility only after importing your Contacts\r"
                   "into Outlook from an external source.\r"
                   "\r"
                   "This will generate the Birthday / Anniversary reminders for all your\r"
                   "Contacts in your Outlook Calendar.\r"
                   "\r"
                   "Are you sure you wish to run this utility?");

inline const QString nothingChecked =
    QStringLiteral("No options were selected to export. Please select the Item to export and then click Export.");
inline const QString exportDone = QStringLiteral("Export to iPod / External Drive complete.");
inline const QString notFoundTitle = QStringLiteral("iPod not Found");
inline const QString notFound = QStringLiteral("The system could not automatically locate your iPod!\r\rPlease "
                                               "click the Browse button to specify the iPod / External drive "
                                               "location.");

inline const QString openFilter = QStringLiteral("HTML|*.html|RTF|*.rtf|Text|*.txt|All|*.*");
inline const QString saveFilter = QStringLiteral("HTML|*.html|RTF|*.rtf|Text|*.txt");
inline const QString attachFilter = QStringLiteral("JPG|*.jpg|All|*.*");
inline const QString cannotSave = QStringLiteral("Can\u2019t save the file, try again.");

inline const QString launchTask = QStringLiteral("Please launch Cheerpost to send Birthday / Anniversary emails");
inline const QString sysInfoUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

} // namespace texts
