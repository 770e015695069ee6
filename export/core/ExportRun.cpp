#include "export/core/ExportRun.h"

#include "common/core/Prompter.h"
#include "export/core/DeviceLocator.h"
#include "hostmail/HostError.h"
#include "hostmail/model/ContactItem.h"
#include "hostmail/model/HostEnums.h"
#include "hostmail/store/AtomicFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

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

QString insideStoreText(const QString &location, const QString &storeFolder)
{
    return QStringLiteral("%1 is Cheerpost's own store, or lies inside it (%2).\r"
                          "Choose a removable drive or another folder to export to.")
        .arg(location, storeFolder);
}

namespace {

// The path with every link resolved, also where its last parts do not exist yet.
QString resolved(const QString &path)
{
    QFileInfo info(path);
    QStringList rest;
    while (!info.exists() && !info.isSymLink()) {
        const QString parent = info.absolutePath();
        if (parent == info.absoluteFilePath())
            break;
        rest.prepend(info.fileName());
        info = QFileInfo(parent);
    }
    QString base = info.canonicalFilePath();
    if (base.isEmpty())
        base = info.absoluteFilePath();
    return QDir::cleanPath(rest.isEmpty() ? base : base + QLatin1Char('/') + rest.join(QLatin1Char('/')));
}

bool within(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/'));
}

} // namespace

QString storeFolderHolding(const QString &target, const QStringList &storeFolders)
{
    const QString t = resolved(target);
    for (const QString &folder : storeFolders) {
        if (!folder.isEmpty() && within(t, resolved(folder)))
            return folder;
    }
    return {};
}

ExportRun::ExportRun(hostmail::ApplicationFactory openHost, common::Prompter &prompter, ExportView view)
    : m_openHost(std::move(openHost)), m_prompter(prompter), m_view(std::move(view))
{
}

void ExportRun::run(const ExportChoice &choice)
{
    m_counts.clear();
    // Nothing is written into the store: exported cards would be read back.
    try {
        const std::unique_ptr<hostmail::Application> app = m_openHost ? m_openHost() : nullptr;
        if (!app)
            throw HostError(QStringLiteral("No mail host"));
        const hostmail::StorePaths &p = app->paths();
        const QStringList store = {p.contacts, p.calendar, p.tasks, p.notes, p.mail};
        for (const QString &target : {choice.location, targetFolder(choice.location, QStringLiteral("Contacts")),
                                      targetFolder(choice.location, QStringLiteral("Calendars")),
                                      targetFolder(choice.location, QStringLiteral("Notes"))}) {
            const QString holder = storeFolderHolding(target, store);
            if (!holder.isEmpty()) {
                m_prompter.tell(common::kAppTitle, insideStoreText(choice.location, holder),
                                common::MessageIcon::Critical);
                return;
            }
        }
    } catch (const HostError &) {
        // no host: the routines below find nothing to write
    }
    for (const char *name : {"Contacts", "Calendars", "Notes"}) {
        QString folder = targetFolder(choice.location, QLatin1String(name));
        folder.chop(1);
        QDir().mkdir(folder); // one that exists or cannot be made is passed over
    }
    hostmail::syncFolder(choice.location); // the folders stay on the device through a cut
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
    int items = 0, missing = 0;
    QStringList lines;
    for (const ExportCount &c : std::as_const(m_counts)) {
        items += c.items;
        missing += c.items - c.written;
        if (c.written == c.items)
            lines.append(QStringLiteral("%1: %2 %3 in %4.")
                             .arg(c.name)
                             .arg(c.written)
                             .arg(c.written == 1 ? QStringLiteral("file") : QStringLiteral("files"), c.folder));
        else
            lines.append(QStringLiteral("%1: %2 of %3 files written to %4; %5 missing (%6).")
                             .arg(c.name)
                             .arg(c.written)
                             .arg(c.items)
                             .arg(c.folder)
                             .arg(c.items - c.written)
                             .arg(c.problem));
    }
    const QString head = missing == 0 ? kExportDone
                                      : QStringLiteral("Export to iPod / External Drive is incomplete: %1 of %2 "
                                                       "files were not written.")
                                            .arg(missing)
                                            .arg(items);
    m_prompter.tell(common::kAppTitle, head + QLatin1String("\n\n") + lines.join(QLatin1Char('\n')),
                    missing == 0 ? common::MessageIcon::Information : common::MessageIcon::Critical);
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
    ExportCount count{QLatin1String(r.targetName), target.chopped(1), 0, 0, {}};
    QSet<QString> files; // a later entry of the same name replaces the file
    auto problem = [&](const HostError &e) {
        if (count.problem.isEmpty())
            count.problem = e.reason();
    };
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
        app->startBatch(); // the files reach the device together
        for (const auto &item : items) {
            if (item->TypeName() == QLatin1String(r.typeName)) {
                const auto *contact = dynamic_cast<const hostmail::ContactItem *>(item.get());
                lastName = cleanFileName(contact ? contact->LastNameAndFirstName() : item->Subject());
                ++count.items;
                files.insert(target + lastName + extension);
                try {
                    item->SaveAs(target + lastName + extension, r.format);
                } catch (const HostError &e) {
                    problem(e); // that entry gets no file; the run goes on
                }
            }
            if (m_view.setLabel)
                m_view.setLabel(QLatin1String(r.progressText) + lastName + extension);
            ++counter;
            if (m_view.setValue)
                m_view.setValue(counter);
        }
        app->finishBatch();
    } catch (const HostError &e) {
        // no host or folder, or files the device refused: the routine still completes
        problem(e);
    }
    // What really reached the device: a removed drive or folder loses all.
    int found = 0;
    for (const QString &file : std::as_const(files))
        found += QFileInfo(file).isFile() ? 1 : 0;
    // Entries of one name share a file: all of them count when every file is there.
    count.written = found == files.size() ? count.items : found;
    if (count.written < count.items && count.problem.isEmpty())
        count.problem = QStringLiteral("the files are not on the device after writing");
    m_counts.append(count);
    if (m_view.setLabel)
        m_view.setLabel(QLatin1String(r.completionText));
}

} // namespace exporting
