#pragma once

#include "common/core/Clock.h"
#include "export/core/DeviceLocator.h"
#include "hostmail/HostError.h"
#include "hostmail/model/Application.h"
#include "shell/views/frmAccounts.h"
#include "shell/views/frmNewMainForm.h"
#include "support/FakeDialogs.h"
#include "support/RecordingPrompter.h"
#include "support/TempStore.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QWidget>

#include <gtest/gtest.h>

// A main window on a temporary store, with recorded message boxes, fake file
// dialogs and a settings key emptied before each test.
class MainWindowFixture : public ::testing::Test {
protected:
    TempStore store;
    RecordingPrompter prompter;
    FakeDialogs dialogs;
    std::unique_ptr<shell::frmNewMainForm> window;
    bool hostFails = false;
    int hostOpenings = 0;         // how often a command opened the host
    shell::MainServices services; // what open() starts from

    static QString settingsFile()
    {
        return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovrel Software"),
                         QStringLiteral("Cheerpost"))
            .fileName();
    }
    static void clearSettings()
    {
        QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovrel Software"),
                    QStringLiteral("Cheerpost"));
        s.clear();
        s.sync();
    }
    void SetUp() override
    {
        clearSettings();
        // Neither the keyboard nor the user's systemd of the machine running the tests.
        services.lockKeys = [] { return shell::LockKeys{}; };
        services.deliveryTimer = [] { return shell::DeliveryTimerState::Enabled; };
    }
    void TearDown() override
    {
        window.reset();
        // Windows that outlive the main window (the Outbox) go with the test
        // whose store they read.
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->testAttribute(Qt::WA_DeleteOnClose))
                w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        common::Clock::setFixed({});
    }
    shell::frmNewMainForm &open(bool load = true)
    {
        shell::MainServices s = services;
        s.prompter = borrowed(prompter);
        s.dialogs = &dialogs;
        s.openHost = [this]() -> std::unique_ptr<hostmail::Application> {
            ++hostOpenings;
            if (hostFails)
                throw hostmail::HostError(QStringLiteral("no host"));
            return std::make_unique<hostmail::Application>(store.paths);
        };
        s.storePaths = [this] { return store.paths; };
        s.programFolder = services.programFolder.isEmpty() ? store.dir.path() : services.programFolder;
        s.volumes = [] { return QList<exporting::Volume>(); };
        window = std::make_unique<shell::frmNewMainForm>(s);
        if (load)
            window->Form_Load();
        return *window;
    }
    // The main window on host.conf as given, and its File > Accounts window.
    shell::frmAccounts *openAccounts(const QByteArray &hostConf)
    {
        const QString conf = hostmail::StorePaths::configurationFile();
        QDir().mkpath(QFileInfo(conf).absolutePath());
        store.write(conf, hostConf);
        open();
        window->findChild<QAction *>("mnuAccounts")->trigger();
        return window->findChild<shell::frmAccounts *>();
    }
    template <typename T> T *find(const char *name) const
    {
        T *w = window->findChild<T *>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};
