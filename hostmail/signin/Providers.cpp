#include "hostmail/signin/Providers.h"

#include "hostmail/HostError.h"
#include "hostmail/store/AtomicFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

namespace hostmail::signin {

namespace {

constexpr qint64 kMaxPresetsBytes = 1024 * 1024;

QStringList strings(const QJsonValue &v)
{
    QStringList out;
    for (const QJsonValue &item : v.toArray())
        if (item.isString() && !item.toString().trimmed().isEmpty())
            out.append(item.toString().trimmed());
    return out;
}

QStringList lowered(QStringList list)
{
    for (QString &s : list)
        s = s.toLower();
    return list;
}

bool endsInDomain(const QString &host, const QString &domain)
{
    QString h = host.toLower();
    if (h.endsWith(QLatin1Char('.')))
        h.chop(1);
    return h == domain || h.endsWith(QLatin1Char('.') + domain);
}

} // namespace

QList<Provider> parseProviders(const QByteArray &json, const QString &where)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        throw HostError(QStringLiteral("%1 is not a provider presets file: %2").arg(where, error.errorString()));
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("version")).toInt() != 1)
        throw HostError(QStringLiteral("%1 is a provider presets file of another version (%2); this program reads "
                                       "version 1")
                            .arg(where)
                            .arg(root.value(QStringLiteral("version")).toInt()));
    QList<Provider> out;
    for (const QJsonValue &value : root.value(QStringLiteral("providers")).toArray()) {
        const QJsonObject o = value.toObject();
        Provider p;
        p.id = o.value(QStringLiteral("id")).toString().trimmed().toLower();
        if (p.id.isEmpty())
            continue;
        p.name = o.value(QStringLiteral("name")).toString(p.id);
        p.domains = lowered(strings(o.value(QStringLiteral("domains"))));
        p.mxDomains = lowered(strings(o.value(QStringLiteral("mx"))));
        const QJsonObject smtp = o.value(QStringLiteral("smtp")).toObject();
        p.smtp.host = smtp.value(QStringLiteral("host")).toString().trimmed();
        const QString security = smtp.value(QStringLiteral("security")).toString().toLower();
        p.smtp.security = security == QLatin1String("tls")    ? SmtpSettings::Security::Tls
                          : security == QLatin1String("none") ? SmtpSettings::Security::None
                                                              : SmtpSettings::Security::StartTls;
        p.smtp.port =
            smtp.value(QStringLiteral("port")).toInt(p.smtp.security == SmtpSettings::Security::Tls ? 465 : 587);
        const QJsonObject contacts = o.value(QStringLiteral("contacts")).toObject();
        p.contactsKind = contacts.value(QStringLiteral("kind")).toString().toLower();
        p.contactsUrl = contacts.value(QStringLiteral("url")).toString().trimmed();
        p.passwordNote = o.value(QStringLiteral("password")).toString();
        const QJsonObject s = o.value(QStringLiteral("signIn")).toObject();
        p.signIn.authorizeUrl = s.value(QStringLiteral("authorize")).toString().trimmed();
        p.signIn.tokenUrl = s.value(QStringLiteral("token")).toString().trimmed();
        p.signIn.mailScopes = strings(s.value(QStringLiteral("mailScopes")));
        p.signIn.contactsScopes = strings(s.value(QStringLiteral("contactsScopes")));
        p.signIn.clientId = s.value(QStringLiteral("clientId")).toString().trimmed();
        p.signIn.clientSecret = s.value(QStringLiteral("clientSecret")).toString().trimmed();
        if (s.value(QStringLiteral("redirectHost")).toString() == QLatin1String("localhost"))
            p.signIn.redirectHost = QStringLiteral("localhost");
        p.signIn.clientOf = s.value(QStringLiteral("clientIdOf")).toString().trimmed().toLower();
        out.append(p);
    }
    return out;
}

QList<Provider> loadProviders(const SignInSettings &settings)
{
    QString file = settings.providersFile;
    if (file.isEmpty())
        file = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("cheerpost/providers.json"));
    QList<Provider> providers = file.isEmpty()
                                    ? parseProviders(builtInProviders(), QStringLiteral("the built-in presets"))
                                    : parseProviders(readWholeFile(file, kMaxPresetsBytes), file);
    const QHash<QString, QString> ids = builtInClientIds(), secrets = builtInClientSecrets();
    for (Provider &p : providers) {
        p.signIn.clientId = settings.clientIds.value(p.id, ids.value(p.id, p.signIn.clientId));
        p.signIn.clientSecret = settings.clientSecrets.value(p.id, secrets.value(p.id, p.signIn.clientSecret));
    }
    // One registration may serve several presets (consumer and work accounts).
    for (Provider &p : providers)
        if (const Provider *other = providerById(providers, p.signIn.clientOf); other && p.signIn.clientId.isEmpty()) {
            p.signIn.clientId = other->signIn.clientId;
            p.signIn.clientSecret = other->signIn.clientSecret;
        }
    return providers;
}

const Provider *providerForAddress(const QList<Provider> &providers, const QString &address)
{
    const QString domain = address.section(QLatin1Char('@'), -1).trimmed().toLower();
    if (!address.contains(QLatin1Char('@')) || domain.isEmpty())
        return nullptr;
    for (const Provider &p : providers)
        if (p.domains.contains(domain))
            return &p;
    return nullptr;
}

const Provider *providerForMx(const QList<Provider> &providers, const QStringList &mxHosts)
{
    // The longest suffix names the provider: a Microsoft 365 tenant's
    // mail.protection.outlook.com before the consumer service's.
    const Provider *best = nullptr;
    qsizetype bestLength = 0;
    for (const QString &host : mxHosts)
        for (const Provider &p : providers)
            for (const QString &domain : p.mxDomains)
                if (endsInDomain(host, domain) && domain.size() > bestLength) {
                    best = &p;
                    bestLength = domain.size();
                }
    return best;
}

const Provider *providerById(const QList<Provider> &providers, const QString &id)
{
    for (const Provider &p : providers)
        if (p.id.compare(id, Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

} // namespace hostmail::signin
