#pragma once

#include "hostmail/model/ApplicationFactory.h"
#include "shell/core/DeliveryTimer.h"
#include "shell/core/LockKeys.h"

#include <QMainWindow>
#include <QPointer>

class QToolButton;

#include <functional>
#include <memory>

namespace Ui {
class frmNewMainForm;
}
namespace templates {
class Dialogs;
class TemplateEditor;
} // namespace templates
namespace greetings {
class GreetingPage;
}
namespace bulkmail {
class BulkPage;
}
namespace exporting {
class frmiPodExport;
struct Volume;
} // namespace exporting

namespace common {
class Prompter;
}

namespace shell {

class Preferences;
class frmAbout;
class frmHelp;
class frmOutbox;

// What the main window works with; tests give their own.
struct MainServices {
    // Message boxes, shared with the about box and the export window, which
    // may stay open after the main window closed; default real ones.
    std::shared_ptr<common::Prompter> prompter;
    templates::Dialogs *dialogs = nullptr;             // file and font dialogs; default the real ones
    hostmail::ApplicationFactory openHost;             // default: the configured store
    std::function<hostmail::StorePaths()> storePaths;  // where it is, without opening it; default: host.conf
    QString programFolder;                             // default: the executable's folder
    std::function<QList<exporting::Volume>()> volumes; // default: the mounted volumes
    std::function<LockKeys()> lockKeys;                // default: the keyboards' LEDs
    std::function<DeliveryTimerState()> deliveryTimer; // default: systemctl --user
};

// The main window with its two pages, menus, toolbar and status bar.
class frmNewMainForm : public QMainWindow {
    Q_OBJECT
public:
    explicit frmNewMainForm(MainServices services = {}, QWidget *parent = nullptr);
    ~frmNewMainForm() override;

    // The load work, run before the window is first shown.
    void Form_Load();

    void SavePrefs();
    void GenerateReminders();
    void showAbout();
    void showHelp();
    void showExport();
    void showOutbox();
    // Shows in the status bar when a message failed or is held.
    void checkOutbox();
    void exitProgram();
    // Asks about each template with unsaved changes; false when a wanted
    // save failed, and the window stays.
    bool saveTemplateChanges();

    templates::TemplateEditor &editor(QChar letter) const;
    // The three editors, birthday, anniversary and bulk.
    QList<templates::TemplateEditor *> editors() const;
    greetings::GreetingPage &greetingPage() const { return *m_greetings; }
    bulkmail::BulkPage &bulkPage() const { return *m_bulk; }
    QPointer<frmAbout> aboutWindow() const { return m_about; }
    QPointer<exporting::frmiPodExport> exportWindow() const { return m_export; }
    QPointer<frmOutbox> outboxWindow() const { return m_outbox; }
    QString previewPath() const { return m_previewPath; }
    QString helpFile() const { return m_helpFile; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setUpToolbarAndStatus();
    void restoreTemplates();
    // After a run queued mail for a later day: once a session, makes sure it
    // will be delivered, or says in the status bar how it will be.
    void mailQueuedForLater();
    bool m_deliveryChecked = false;

    std::unique_ptr<Ui::frmNewMainForm> ui;
    MainServices m_services;
    std::unique_ptr<templates::Dialogs> m_ownDialogs;
    std::unique_ptr<Preferences> m_preferences;
    std::shared_ptr<common::Prompter> m_prompter;
    QString m_previewPath;
    QString m_helpFile;
    greetings::GreetingPage *m_greetings = nullptr;
    bulkmail::BulkPage *m_bulk = nullptr;
    QPointer<frmAbout> m_about;
    QPointer<frmHelp> m_help;
    QPointer<exporting::frmiPodExport> m_export;
    QPointer<frmOutbox> m_outbox;
    QToolButton *m_outboxButton = nullptr;
    bool m_templatesAsked = false; // Exit asked already; closing asks no more
};

} // namespace shell
