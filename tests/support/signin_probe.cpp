// Signs in with a provider of the presets as the Accounts window does, and
// writes the refresh token to a file the test's PasswordCommand reads: the
// sign-in tests have no desktop keyring. Reads host.conf like the program.
//
// Usage: signin_probe PROVIDER USER TOKEN_FILE
#include "hostmail/HostError.h"
#include "hostmail/signin/SignIn.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fputs("usage: signin_probe PROVIDER USER TOKEN_FILE\n", stderr);
        return 2;
    }
    try {
        const hostmail::StorePaths paths = hostmail::StorePaths::fromConfiguration();
        const QList<hostmail::signin::Provider> providers = hostmail::signin::loadProviders(paths.signIn);
        const hostmail::signin::Provider *provider = hostmail::signin::providerById(providers, args[1]);
        if (!provider)
            throw hostmail::HostError(QStringLiteral("no provider ") + args[1]);
        const hostmail::signin::Tokens t =
            hostmail::signin::signIn(*provider, args[2], paths.signIn.browser, QDeadlineTimer(60000));
        QFile out(args[3]);
        if (!out.open(QIODevice::WriteOnly) || out.write(t.refresh.toUtf8()) < 0)
            throw hostmail::HostError(QStringLiteral("cannot write ") + args[3]);
        std::puts("signed in");
        return 0;
    } catch (const hostmail::HostError &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
