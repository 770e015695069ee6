#include "export/core/ExportRun.h"

#include "common/core/Prompter.h"
#include "export/core/DeviceLocator.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/WriteBatch.h"

#include <QDir>

namespace exporting {

using hostmail::HostError;

QString cleanFileName(const QString &dirtyFileName)
{
    QString name = dirtyFileName;
    for (QChar c : {QChar(':'), QChar('/'), QChar('\\'), QChar('?'), QChar('*'), QChar('|'), QChar('"'), QChar('\t')})
        name.replace(c, QLatin1Char(' '));
    return name;
}

struct ExportRun::Routine {
    int folder;
    const char *sortKey;
    const char *typeName;
    const char *targetName;
    const char *extension;
    int format;
    const char *progressText;
    const char *completionText;
};

ExportRun::ExportRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter, ExportView view)
    : m_openHost(std::move(openHost)), m_prompter(prompter), m_view(std::move(view))
{
}

void ExportRun::run(const ExportChoice &choice)
{
    for (const char *name : {"Contacts", "Calendars", "Notes"}) {
        QString folder = targetFolder(choice.location, QLatin1String(name));
        folder.chop(1);
        QDir().mkdir(folder); // one that exists or cannot be made is passed over
    }
    if (m_view.showProgress)
        m_view.showProgress();
    if (!choice.contacts && !choice.calendarItems && !choice.notes) {
        m_prompter.tell(common::kAppTitle, kNothingChecked, common::MessageIcon::Information);
        return;
    }
    if (choice.contacts)
        ExportToVCard(choice.location);
    if (choice.calendarItems)
        ExportToiCalendar(choice.location);
    if (choice.notes)
        ExportToText(choice.location);
    m_prompter.tell(common::kAppTitle, kExportDone, common::MessageIcon::Information);
}

void ExportRun::ExportToVCard(const QString &location)
{
    exportItems({hostmail::olFolderContacts, "[LastName]", "ContactItem", "Contacts", ".vcf", hostmail::olVCard,
                 "Exporting Contact: ", "Export Contact Complete."},
                location);
}

void ExportRun::ExportToiCalendar(const QString &location)
{
    exportItems({hostmail::olFolderCalendar, "[Start]", "AppointmentItem", "Calendars", ".ics", hostmail::olICal,
                 "Exporting Calendar Items: ", "Export Calendar Items Complete."},
                location);
}

void ExportRun::ExportToText(const QString &location)
{
    exportItems({hostmail::olFolderNotes, "[Subject]", "NoteItem", "Notes", ".txt", hostmail::olTXT,
                 "Exporting Notes: ", "Export Notes Complete."},
                location);
}

void ExportRun::exportItems(const Routine &r, const QString &location)
{
    const QString target = targetFolder(location, QLatin1String(r.targetName));
    const QString extension = QLatin1String(r.extension);
    try {
        const std::unique_ptr<hostmail::Application> app = m_openHost();
        hostmail::Items items = app->GetNamespace(QStringLiteral("MAPI")).GetDefaultFolder(r.folder).items();
        if (m_view.setValue)
            m_view.setValue(0);
        if (m_view.setMaximum)
            m_view.setMaximum(items.Count());
        items.Sort(QLatin1String(r.sortKey));
        int counter = 0;
        QString lastName;
        hostmail::WriteBatch batch; // the files reach the device together
        for (const auto &item : items) {
            if (item->TypeName() == QLatin1String(r.typeName)) {
                const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
                lastName = cleanFileName(contact ? contact->LastNameAndFirstName() : item->Subject());
                try {
                    item->SaveAs(target + lastName + extension, r.format);
                } catch (const HostError &) {
                    // that entry gets no file; the run goes on
                }
            }
            if (m_view.setLabel)
                m_view.setLabel(QLatin1String(r.progressText) + lastName + extension);
            ++counter;
            if (m_view.setValue)
                m_view.setValue(counter);
        }
        batch.flush();
    } catch (const HostError &) {
        // no host or folder, or files the device refused: the routine still completes
    }
    if (m_view.setLabel)
        m_view.setLabel(QLatin1String(r.completionText));
}

} // namespace exporting
