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

// The Export button: the three target folders, then the chosen item routines.
class ExportRun {
public:
    ExportRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter, ExportView view);
    void run(const ExportChoice &choice);

    void ExportToVCard(const QString &location);
    void ExportToiCalendar(const QString &location);
    void ExportToText(const QString &location);

private:
    struct Routine;
    void exportItems(const Routine &r, const QString &location);

    hostmail::ApplicationFactory m_openHost;
    common::Prompter &m_prompter;
    ExportView m_view;
};

} // namespace exporting
