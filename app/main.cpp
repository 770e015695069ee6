// Cheerpost: the splash window, then the main window.
#include "common/views/Icons.h"
#include "shell/views/frmNewMainForm.h"
#include "shell/views/frmSplash.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tovrel Software"));
    QCoreApplication::setApplicationName(QStringLiteral("Cheerpost"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CHEERPOST_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tovrel.cheerpost"));
    QApplication::setWindowIcon(common::applicationIcon()); // every window's

    auto *splash = new shell::frmSplash;
    splash->setObjectName(QStringLiteral("frmSplash"));
    splash->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(splash, &shell::frmSplash::dismissed, [] {
        auto *main = new shell::frmNewMainForm;
        main->setAttribute(Qt::WA_DeleteOnClose);
        main->Form_Load();
        main->show();
    });
    splash->show();
    return app.exec();
}
