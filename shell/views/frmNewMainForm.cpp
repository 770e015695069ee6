#include "shell/views/frmNewMainForm.h"

#include "bulkmail/views/BulkPage.h"
#include "common/core/Clock.h"
#include "export/views/frmiPodExport.h"
#include "greetings/views/GreetingPage.h"
#include "hostmail/HostError.h"
#include "hostmail/delivery/Delivery.h"
#include "reminders/core/ReminderRun.h"
#include "shell/core/LaunchTask.h"
#include "shell/core/OutboxStatus.h"
#include "shell/core/SettingsKey.h"
#include "shell/views/Preferences.h"
#include "shell/views/QtPrompter.h"
#include "shell/views/frmAbout.h"
#include "shell/views/frmAccounts.h"
#include "shell/views/frmHelp.h"
#include "shell/views/frmOutbox.h"
#include "shell/views/frmSplash.h"
#include "templates/core/TemplateText.h"
#include "templates/views/ClipboardCommand.h"
#include "templates/views/Dialogs.h"
#include "templates/views/TemplateEditor.h"
#include "ui_frmNewMainForm.h"

#include "common/core/ShortDate.h"
#include "common/views/AddressBookSyncDialog.h"
#include "common/views/Icons.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateEdit>
#include <QFutureWatcher>
#include <QLabel>
#include <QStandardPaths>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QtConcurrent/QtConcurrentRun>

namespace shell {

namespace {
void bringForward(QWidget *w)
{
    w->show();
    w->raise();
    w->activateWindow();
}
} // namespace

frmNewMainForm::frmNewMainForm(MainServices services, QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmNewMainForm>()), m_services(std::move(services))
{
    ui->setupUi(this);
    if (!m_services.prompter)
        m_services.prompter = std::make_shared<QtPrompter>();
    m_prompter = m_services.prompter;
    if (!m_services.dialogs)
        m_ownDialogs = std::make_unique<templates::QtDialogs>();
    templates::Dialogs &dialogs = m_services.dialogs ? *m_services.dialogs : *m_ownDialogs;
    if (!m_services.openHost)
        m_services.openHost = [] { return hostmail::Application::open(); };
    if (!m_services.storePaths)
        m_services.storePaths = [] { return hostmail::StorePaths::fromConfiguration(); };
    if (!m_services.volumes)
        m_services.volumes = exporting::mountedVolumes;
    if (!m_services.lockKeys)
        m_services.lockKeys = [] { return readLockKeys(); };
    if (!m_services.deliveryTimer)
        m_services.deliveryTimer = [] { return ensureDeliveryTimer(); };
    if (m_services.programFolder.isEmpty())
        m_services.programFolder = QCoreApplication::applicationDirPath();
    m_previewPath = templates::previewFilePath(m_services.programFolder);

    m_greetings = new greetings::GreetingPage(*m_prompter, m_services.openHost, dialogs, m_previewPath);
    m_bulk = new bulkmail::BulkPage(*m_prompter, m_services.openHost, dialogs, m_previewPath);
    ui->SSTab1->addTab(m_greetings, m_greetings->windowTitle());
    ui->SSTab1->addTab(m_bulk, m_bulk->windowTitle());
    m_preferences = std::make_unique<Preferences>(*ui->SSTab1, *m_greetings, *m_bulk);
    connect(m_greetings, &greetings::GreetingPage::mailQueuedForLater, this, &frmNewMainForm::mailQueuedForLater);
    connect(m_bulk, &bulkmail::BulkPage::mailQueuedForLater, this, &frmNewMainForm::mailQueuedForLater);

    connect(ui->mnuSavePrefs, &QAction::triggered, this, &frmNewMainForm::SavePrefs);
    connect(ui->tbSavePreferences, &QAction::triggered, this, &frmNewMainForm::SavePrefs);
    connect(ui->mnuExit, &QAction::triggered, this, &frmNewMainForm::exitProgram);
    connect(ui->tbExit, &QAction::triggered, this, &frmNewMainForm::exitProgram);
    connect(ui->mnuAbout, &QAction::triggered, this, &frmNewMainForm::showAbout);
    connect(ui->tbAbout, &QAction::triggered, this, &frmNewMainForm::showAbout);
    connect(ui->mnuContents, &QAction::triggered, this, &frmNewMainForm::showHelp);
    connect(ui->tbHelp, &QAction::triggered, this, &frmNewMainForm::showHelp);
    connect(ui->tbSyncWithIPod, &QAction::triggered, this, &frmNewMainForm::showExport);
    connect(ui->tbGenerateReminders, &QAction::triggered, this, &frmNewMainForm::GenerateReminders);
    connect(ui->mnuGenerateReminders, &QAction::triggered, this, &frmNewMainForm::GenerateReminders);
    connect(ui->mnuExport, &QAction::triggered, this, &frmNewMainForm::showExport);
    connect(ui->mnuOutbox, &QAction::triggered, this, &frmNewMainForm::showOutbox);
    connect(ui->mnuAccounts, &QAction::triggered, this, [this] {
        auto *accounts = new frmAccounts(this);
        accounts->setAttribute(Qt::WA_DeleteOnClose);
        accounts->show();
    });
    using templates::ClipboardAction;
    connect(ui->mnuCut, &QAction::triggered, this,
            [] { templates::clipboardCommand(QApplication::focusWidget(), ClipboardAction::Cut); });
    connect(ui->mnuCopy, &QAction::triggered, this,
            [] { templates::clipboardCommand(QApplication::focusWidget(), ClipboardAction::Copy); });
    connect(ui->mnuPaste, &QAction::triggered, this,
            [] { templates::clipboardCommand(QApplication::focusWidget(), ClipboardAction::Paste); });
    for (auto *picker : findChildren<QDateEdit *>())
        picker->setDisplayFormat(common::shortDateFormat());
    setUpToolbarAndStatus();
}

// The about box, the help and the export window have lives of their own:
// they stay usable when the main window closes, and "Exit" closes them all.
frmNewMainForm::~frmNewMainForm() = default;

void frmNewMainForm::setUpToolbarAndStatus()
{
    // Icons of the desktop's theme by their freedesktop names, each command
    // its own; the program's own pictures where the theme has none.
    const std::pair<QAction *, const char *> icons[] = {{ui->tbSavePreferences, "document-save"},
                                                        {ui->mnuSavePrefs, "document-save"},
                                                        {ui->tbAbout, "help-about"},
                                                        {ui->mnuAbout, "help-about"},
                                                        {ui->tbHelp, "help-contents"},
                                                        {ui->mnuContents, "help-contents"},
                                                        {ui->tbSyncWithIPod, "drive-removable-media"},
                                                        {ui->tbGenerateReminders, "x-office-calendar"},
                                                        {ui->tbExit, "application-exit"},
                                                        {ui->mnuExit, "application-exit"},
                                                        {ui->mnuCut, "edit-cut"},
                                                        {ui->mnuCopy, "edit-copy"},
                                                        {ui->mnuPaste, "edit-paste"}};
    for (const auto &[action, name] : icons)
        action->setIcon(common::themedIcon(QLatin1String(name)));
    setWindowIcon(common::applicationIcon());

    // Six panels: a fixed text, Caps Lock, Num Lock, the date, the time, empty.
    const QStringList names = {"pnlText", "pnlCaps", "pnlNum", "pnlDate", "pnlTime", "pnlEmpty"};
    const QStringList texts = {
        QStringLiteral("Cheerpost: birthday and anniversary greetings"), "CAPS", "NUM", "", "", ""};
    QList<QLabel *> panels;
    for (qsizetype i = 0; i < names.size(); ++i) {
        auto *panel = new QLabel(texts.at(i), ui->StatusBar1);
        panel->setObjectName(names.at(i));
        panel->setFrameShape(QFrame::StyledPanel);
        if (i == 0)
            ui->StatusBar1->addWidget(panel, 1);
        else
            ui->StatusBar1->addPermanentWidget(panel);
        panels.append(panel);
    }
    auto tick = [this, caps = panels.at(1), num = panels.at(2), date = panels.at(3), time = panels.at(4)] {
        const QDateTime now = common::Clock::now();
        date->setText(common::dateText(now.date()));
        time->setText(QLocale().toString(now.time(), QLocale::ShortFormat));
        const LockKeys keys = m_services.lockKeys();
        caps->setEnabled(keys.caps); // greyed while off
        num->setEnabled(keys.num);
    };
    tick();
    auto *clock = new QTimer(this);
    connect(clock, &QTimer::timeout, this, tick);
    clock->start(1000);

    // Shown only while a message failed or is held; a click opens the Outbox.
    m_outboxButton = new QToolButton(ui->StatusBar1);
    m_outboxButton->setObjectName(QStringLiteral("btnOutboxStatus"));
    m_outboxButton->setAutoRaise(true);
    m_outboxButton->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    m_outboxButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_outboxButton->hide();
    ui->StatusBar1->addPermanentWidget(m_outboxButton);
    connect(m_outboxButton, &QToolButton::clicked, this, &frmNewMainForm::showOutbox);
    auto *outboxCheck = new QTimer(this);
    connect(outboxCheck, &QTimer::timeout, this, &frmNewMainForm::checkOutbox);
    outboxCheck->start(60 * 1000);
}

void frmNewMainForm::checkOutbox()
{
    QString attention;
    try {
        const auto [failed, held] = hostmail::Delivery(m_services.storePaths()).failedAndHeld();
        attention = outboxAttention(failed, held);
    } catch (const hostmail::HostError &e) {
        attention = QStringLiteral("Outbox: %1").arg(QString::fromUtf8(e.what()));
    }
    m_outboxButton->setText(attention);
    m_outboxButton->setToolTip(attention.isEmpty() ? QString() : QStringLiteral("Open the Outbox"));
    m_outboxButton->setVisible(!attention.isEmpty());
}

void frmNewMainForm::showOutbox()
{
    if (!m_outbox) {
        m_outbox = new frmOutbox(m_services.openHost, m_prompter);
        m_outbox->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_outbox, &frmOutbox::changed, this, &frmNewMainForm::checkOutbox);
    } else {
        m_outbox->refresh();
    }
    bringForward(m_outbox);
}

void frmNewMainForm::mailQueuedForLater()
{
    checkOutbox();
    if (m_deliveryChecked)
        return;
    m_deliveryChecked = true;
    // systemctl can hang for long on a stuck session bus: the window never
    // waits for it, and hears the answer when it comes.
    auto *watcher = new QFutureWatcher<DeliveryTimerState>(this);
    connect(watcher, &QFutureWatcher<DeliveryTimerState>::finished, this, [this, watcher] {
        const QString advice = deliveryTimerAdvice(watcher->result());
        if (!advice.isEmpty())
            ui->StatusBar1->showMessage(advice, 120000);
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(m_services.deliveryTimer));
}

void frmNewMainForm::Form_Load()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<frmSplash *>(w))
            w->close();
    }
    for (templates::TemplateEditor *editor : editors())
        editor->prepare();
    restoreTemplates();
    const QString setTask = readSetting(QStringLiteral("SetTask"));
    m_helpFile = helpFilePath(m_services.programFolder);
    m_preferences->restore();
    if (setTask.isEmpty())
        ensureLaunchTask(m_services.openHost, common::Clock::today());
    checkOutbox();
}

templates::TemplateEditor &frmNewMainForm::editor(QChar letter) const
{
    return letter == QLatin1Char('A')   ? m_greetings->anniversaryEditor()
           : letter == QLatin1Char('B') ? m_greetings->birthdayEditor()
                                        : m_bulk->editor();
}

QList<templates::TemplateEditor *> frmNewMainForm::editors() const
{
    return {&editor(QLatin1Char('B')), &editor(QLatin1Char('A')), &editor(QLatin1Char('O'))};
}

void frmNewMainForm::SavePrefs()
{
    if (m_preferences->SavePrefs())
        ui->StatusBar1->showMessage(QStringLiteral("Preferences saved."), 5000);
    else
        m_prompter->tell(common::kAppTitle,
                         QStringLiteral("The preferences could not be saved in %1.").arg(settingsFilePath()),
                         common::MessageIcon::Critical);
}

void frmNewMainForm::GenerateReminders()
{
    reminders::ReminderRun run(m_services.openHost, *m_prompter);
    run.beforeOpening = [this] { return common::syncContactsBeforeRun(this, m_services.openHost, *m_prompter); };
    if (run.run([] { return common::Clock::now(); }))
        common::syncContactsAfterRun(this, m_services.openHost, *m_prompter);
}

void frmNewMainForm::showAbout()
{
    if (!m_about) {
        m_about = new frmAbout(m_prompter);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_about);
}

void frmNewMainForm::showHelp()
{
    if (!m_help) {
        m_help = new frmHelp(m_helpFile.isEmpty() ? helpFilePath(m_services.programFolder) : m_helpFile);
        m_help->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_help);
}

void frmNewMainForm::showExport()
{
    if (!m_export) {
        exporting::frmiPodExport::Services s;
        s.prompter = m_prompter;
        s.openHost = m_services.openHost;
        s.volumes = m_services.volumes;
        m_export = new exporting::frmiPodExport(std::move(s));
        m_export->setAttribute(Qt::WA_DeleteOnClose);
    }
    bringForward(m_export);
}

void frmNewMainForm::restoreTemplates()
{
    // The files last opened, or on the first start the shipped examples; the
    // Open dialog starts among the examples until a file was opened.
    const QString examples = exampleTemplateFolder(m_services.programFolder);
    const bool firstStart = readSetting(QStringLiteral("TemplatesKept")).isEmpty();
    for (templates::TemplateEditor *editor : editors()) {
        const QString key = QStringLiteral("Template") + editor->letter();
        editor->setStartFolder(examples);
        editor->setExampleFolders(examples, QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                                QLatin1String("/cheerpost/Templates"));
        QString path = readSetting(key);
        if (path.isEmpty() && firstStart && !examples.isEmpty())
            path = examples + QLatin1Char('/') + exampleTemplateName(editor->letter());
        connect(editor, &templates::TemplateEditor::fileChanged, this,
                [key](const QString &file) { writeSetting(key, file); });
        if (!path.isEmpty())
            editor->loadFile(path); // a file gone since is simply not opened
    }
    writeSetting(QStringLiteral("TemplatesKept"), QStringLiteral("1"));
}

bool frmNewMainForm::saveTemplateChanges()
{
    for (templates::TemplateEditor *editor : editors()) {
        if (!editor->saveChangesIfWanted())
            return false;
    }
    return true;
}

void frmNewMainForm::closeEvent(QCloseEvent *event)
{
    if (m_templatesAsked || saveTemplateChanges())
        event->accept();
    else
        event->ignore();
}

void frmNewMainForm::exitProgram()
{
    if (!saveTemplateChanges())
        return;
    m_templatesAsked = true;
    QApplication::closeAllWindows();
    QCoreApplication::quit();
}

} // namespace shell
