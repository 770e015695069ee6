// Times the start of the program: to the splash window on screen, and from
// dismissing the splash to the main window on screen (its three design editors
// loaded and the preferences restored). Runs on a fresh settings folder and
// store in a temporary folder, so the first start's task creation is counted.
// Usage: cheerpost_startup_bench [contacts]   (QT_QPA_PLATFORM=offscreen or
// under xvfb-run); with a number, the store first gets that many contacts.
#include "generate_store.h"

#include "shell/views/frmNewMainForm.h"
#include "shell/views/frmSplash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

int main(int argc, char *argv[])
{
    QElapsedTimer t;
    t.start();
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    const int contacts = argc > 1 ? std::atoi(argv[1]) : 0;
    if (contacts > 0) {
        generateAddressBook(home.path() + "/data/cheerpost/Contacts", contacts);
        ::sync();
        t.restart();
    }

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Tovrel Software"));
    QCoreApplication::setApplicationName(QStringLiteral("Cheerpost"));

    auto *splash = new shell::frmSplash;
    splash->setObjectName(QStringLiteral("frmSplash"));
    splash->show();
    if (!QTest::qWaitForWindowExposed(splash))
        return 1;
    const double splashSecs = t.elapsed() / 1000.0;

    t.restart();
    shell::frmNewMainForm main;
    main.Form_Load();
    main.show();
    if (!QTest::qWaitForWindowExposed(&main))
        return 1;
    QCoreApplication::processEvents(); // the first paint
    const double mainSecs = t.elapsed() / 1000.0;
    delete splash;

    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    std::printf("contacts %d\n", contacts);
    std::printf("splash shown:      %.2f s after start\n", splashSecs);
    std::printf("main window shown: %.2f s after the splash was dismissed\n", mainSecs);
    std::printf("total:             %.2f s\n", splashSecs + mainSecs);
    std::printf("peak memory:       %.0f MB\n", u.ru_maxrss / 1024.0);
    std::fflush(stdout);
    std::_Exit(0); // skips WebEngine's slow teardown, which is not start-up
}
