#pragma once

#include "hostmail/model/ApplicationFactory.h"

#include <functional>

namespace common {
class Prompter;
}

namespace exporting {

inline const QString kNothingChecked =
    QStringLiteral("No options were selected to export. Please select the Item to export and then click Export.");
inline const QString kExportDone = QStringLiteral("Export to iPod / External Drive complete.");

// The refusal of an export location that is the program's own store or lies
// inside it: exported cards would be read back as contacts of their own.
QString insideStoreText(const QString &location, const QString &storeFolder);
// The store folder that target is, or lies inside, after links are resolved;
// empty when there is none.
QString storeFolderHolding(const QString &target, const QStringList &storeFolders);

// Every character the file system forbids in a name, of ": / \ ? * | \" TAB", as a blank.
QString cleanFileName(const QString &dirtyFileName);

struct ExportChoice {
    QString location; // the export location
    bool contacts = false;
    bool calendarItems = false;
    bool notes = false;
};

// What the window shows while a run goes.
struct ExportView {
    std::function<void()> showProgress;
    std::function<void(const QString &)> setLabel;
    std::function<void(int)> setMaximum;
    std::function<void(int)> setValue;
};

// What one item routine wrote.
struct ExportCount {
    QString name;    // "Contacts"
    QString folder;  // where the files went
    int items = 0;   // entries of the type, one file each
    int written = 0; // files found on the device afterwards
    QString problem; // why files are missing
};

// The Export button: the three target folders, then the chosen item routines.
// The closing message says how many files reached the device, and which
// routine lost files and why; it is the completion text only when none did.
class ExportRun {
public:
    ExportRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter, ExportView view);
    void run(const ExportChoice &choice);
    const QList<ExportCount> &counts() const { return m_counts; }

    void ExportToVCard(const QString &location);
    void ExportToiCalendar(const QString &location);
    void ExportToText(const QString &location);

private:
    struct Routine;
    void exportItems(const Routine &r, const QString &location);

    hostmail::ApplicationFactory m_openHost;
    common::Prompter &m_prompter;
    ExportView m_view;
    QList<ExportCount> m_counts;
};

} // namespace exporting
