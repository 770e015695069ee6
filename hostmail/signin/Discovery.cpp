#include "hostmail/signin/Discovery.h"

#include "hostmail/net/Http.h"

#include <QDnsLookup>
#include <QEventLoop>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>

namespace hostmail::signin {

namespace {

constexpr qint64 kMaxAutoconfigBytes = 256 * 1024;

QString domainOf(const QString &address)
{
    return address.section(QLatin1Char('@'), -1).trimmed().toLower();
}

QString filled(QString text, const QString &address)
{
    text.replace(QLatin1String("%EMAILADDRESS%"), address);
    text.replace(QLatin1String("%EMAILLOCALPART%"), address.section(QLatin1Char('@'), 0, 0));
    text.replace(QLatin1String("%EMAILDOMAIN%"), domainOf(address));
    return text.trimmed();
}

QString withoutDot(QString host)
{
    if (host.endsWith(QLatin1Char('.')))
        host.chop(1);
    return host.toLower();
}

void takeProvider(Discovered &d, const Provider &p, const QString &address, const QString &source)
{
    d.providerId = p.id;
    d.providerName = p.name;
    if (d.smtp.host.isEmpty() && !p.smtp.host.isEmpty()) {
        d.smtp.host = p.smtp.host;
        d.smtp.port = p.smtp.port;
        d.smtp.security = p.smtp.security;
        d.smtp.user = address;
        d.sources.append(QStringLiteral("the mail server from %1").arg(source));
    }
    if (d.contactsUrl.isEmpty() && !p.contactsUrl.isEmpty()) {
        d.contactsKind = p.contactsKind;
        d.contactsUrl = filled(p.contactsUrl, address);
        d.sources.append(QStringLiteral("the address book from %1").arg(source));
    }
    if (p.signIn.needed())
        d.signIn = p.id;
    d.passwordNote = p.passwordNote;
}

// One DNS question, answered within the deadline.
class Dns {
public:
    explicit Dns(const DiscoveryOptions &options) : m_options(options) {}

    bool ask(QDnsLookup &lookup)
    {
        if (!m_options.resolver.isEmpty())
            lookup.setNameserver(QHostAddress(m_options.resolver));
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&lookup, &QDnsLookup::finished, &loop, &QEventLoop::quit);
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            if (m_options.deadline.hasExpired() || (m_options.cancelled && m_options.cancelled->load()))
                loop.quit();
        });
        tick.start(100);
        lookup.lookup();
        if (lookup.isFinished() || (loop.exec(), lookup.isFinished()))
            return lookup.error() == QDnsLookup::NoError;
        lookup.abort();
        return false;
    }

    // The service's best target and port (lowest priority, then highest
    // weight); none where the domain says the service is not offered (".").
    std::optional<std::pair<QString, int>> service(const QString &name)
    {
        QDnsLookup lookup(QDnsLookup::SRV, name);
        if (!ask(lookup) || lookup.serviceRecords().isEmpty())
            return std::nullopt;
        QList<QDnsServiceRecord> records = lookup.serviceRecords();
        std::stable_sort(records.begin(), records.end(), [](const QDnsServiceRecord &a, const QDnsServiceRecord &b) {
            return a.priority() != b.priority() ? a.priority() < b.priority() : a.weight() > b.weight();
        });
        const QString target = withoutDot(records.first().target());
        if (target.isEmpty() || !isHostName(target) || records.first().port() == 0)
            return std::nullopt;
        return std::pair{target, int(records.first().port())};
    }

    QStringList texts(const QString &name)
    {
        QDnsLookup lookup(QDnsLookup::TXT, name);
        QStringList out;
        if (ask(lookup))
            for (const QDnsTextRecord &r : lookup.textRecords())
                out.append(QString::fromUtf8(r.values().join()));
        return out;
    }

    QStringList mailExchangers(const QString &domain)
    {
        QDnsLookup lookup(QDnsLookup::MX, domain);
        QStringList out;
        if (ask(lookup))
            for (const QDnsMailExchangeRecord &r : lookup.mailExchangeRecords())
                out.append(withoutDot(r.exchange()));
        return out;
    }

private:
    const DiscoveryOptions &m_options;
};

QByteArray fetchAutoconfig(const QUrl &url, const DiscoveryOptions &options)
{
    if (url.scheme() != QLatin1String("https"))
        return {};
    net::HttpAccount account;
    account.site = url.host();
    account.caFile = options.caFile;
    account.what = QStringLiteral("the mail settings");
    net::Http http(account, options.deadline, options.cancelled, kMaxAutoconfigBytes);
    const net::Reply r = http.request("GET", url, QByteArray(), {"Accept: application/xml, text/xml"});
    return r.error.isEmpty() && r.status == 200 ? r.body : QByteArray();
}

QList<QUrl> autoconfigAddresses(const QString &address, const DiscoveryOptions &options)
{
    const QString domain = domainOf(address);
    QUrl first, second;
    if (options.autoconfigBase.isEmpty()) {
        first = QUrl(QStringLiteral("https://autoconfig.%1/mail/config-v1.1.xml").arg(domain));
        second = QUrl(QStringLiteral("https://%1/.well-known/autoconfig/mail/config-v1.1.xml").arg(domain));
    } else {
        QString base = options.autoconfigBase;
        if (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        first = QUrl(QStringLiteral("%1/autoconfig.%2/mail/config-v1.1.xml").arg(base, domain));
        second = QUrl(QStringLiteral("%1/%2/.well-known/autoconfig/mail/config-v1.1.xml").arg(base, domain));
    }
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("emailaddress"), QString::fromLatin1(QUrl::toPercentEncoding(address)));
    first.setQuery(query);
    return {first, second};
}

} // namespace

bool isHostName(const QString &text)
{
    static const QRegularExpression name(
        QStringLiteral("^(?=.{1,253}$)([A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?)(\\.[A-Za-z0-9]([A-Za-z0-9-]{0,61}"
                       "[A-Za-z0-9])?)*\\.?$"));
    return name.match(text).hasMatch() || !QHostAddress(text).isNull();
}

Discovered parseAutoconfig(const QByteArray &xml, const QString &address, const QList<Provider> &providers)
{
    Discovered d;
    QXmlStreamReader r(xml);
    struct Server {
        QString host, socketType, user;
        QStringList authentication;
        int port = 0;
    };
    QList<Server> outgoing;
    QString book, displayName;
    while (!r.atEnd()) {
        r.readNext();
        if (!r.isStartElement())
            continue;
        if (r.name() == QLatin1String("displayName") && displayName.isEmpty()) {
            displayName = r.readElementText().trimmed().left(100);
        } else if (r.name() == QLatin1String("outgoingServer") &&
                   r.attributes().value(QLatin1String("type")) == QLatin1String("smtp")) {
            Server s;
            while (r.readNextStartElement()) {
                const QString text = r.readElementText().trimmed();
                if (r.name() == QLatin1String("hostname"))
                    s.host = filled(text, address);
                else if (r.name() == QLatin1String("port"))
                    s.port = text.toInt();
                else if (r.name() == QLatin1String("socketType"))
                    s.socketType = text.toUpper();
                else if (r.name() == QLatin1String("username"))
                    s.user = filled(text, address);
                else if (r.name() == QLatin1String("authentication"))
                    s.authentication.append(text);
            }
            outgoing.append(s);
        } else if (r.name() == QLatin1String("addressBook") &&
                   r.attributes().value(QLatin1String("type")) == QLatin1String("carddav") && book.isEmpty()) {
            while (r.readNextStartElement()) {
                const QString text = r.readElementText().trimmed();
                if (r.name() == QLatin1String("serverURL"))
                    book = filled(text, address);
            }
        }
    }
    if (r.hasError())
        return {};
    for (const Server &s : outgoing) {
        const bool secure = s.socketType == QLatin1String("SSL") || s.socketType == QLatin1String("STARTTLS");
        if (!secure || !isHostName(s.host) || s.port <= 0 || s.port > 65535)
            continue;
        d.smtp.host = withoutDot(s.host);
        d.smtp.port = s.port;
        d.smtp.security =
            s.socketType == QLatin1String("SSL") ? SmtpSettings::Security::Tls : SmtpSettings::Security::StartTls;
        d.smtp.user = s.user.isEmpty() ? address : s.user;
        // A server that takes OAuth 2.0 alone signs in with the provider whose preset names it.
        if (s.authentication.contains(QLatin1String("OAuth2")) &&
            !s.authentication.contains(QLatin1String("password-cleartext")))
            for (const Provider &p : providers)
                if (p.signIn.needed() && p.smtp.host.compare(d.smtp.host, Qt::CaseInsensitive) == 0) {
                    d.signIn = p.id;
                    d.providerId = p.id;
                    d.providerName = p.name;
                }
        break;
    }
    const QUrl bookUrl(book);
    if (bookUrl.scheme() == QLatin1String("https") && isHostName(bookUrl.host())) {
        d.contactsKind = QStringLiteral("carddav");
        d.contactsUrl = bookUrl.toString();
    }
    if (d.providerName.isEmpty())
        d.providerName = displayName;
    return d;
}

Discovered discoverAccount(const QString &address, const QList<Provider> &providers, const DiscoveryOptions &options)
{
    Discovered d;
    const QString domain = domainOf(address);
    if (!address.contains(QLatin1Char('@')) || !isHostName(domain))
        return d;
    if (const Provider *p = providerForAddress(providers, address)) {
        takeProvider(d, *p, address, QStringLiteral("the presets of %1").arg(p->name));
        return d;
    }
    for (const QUrl &url : autoconfigAddresses(address, options)) {
        const Discovered a = parseAutoconfig(fetchAutoconfig(url, options), address, providers);
        if (!a.found())
            continue;
        const QString source = QStringLiteral("the autoconfig document at %1").arg(url.host());
        d = a;
        d.sources.clear();
        if (!a.smtp.host.isEmpty())
            d.sources.append(QStringLiteral("the mail server from %1").arg(source));
        if (!a.contactsUrl.isEmpty())
            d.sources.append(QStringLiteral("the address book from %1").arg(source));
        break;
    }
    Dns dns(options);
    if (d.smtp.host.isEmpty()) {
        // Implicit TLS first (RFC 8314), then STARTTLS (RFC 6186).
        if (const auto tls = dns.service(QStringLiteral("_submissions._tcp.") + domain)) {
            d.smtp.host = tls->first;
            d.smtp.port = tls->second;
            d.smtp.security = SmtpSettings::Security::Tls;
        } else if (const auto starttls = dns.service(QStringLiteral("_submission._tcp.") + domain)) {
            d.smtp.host = starttls->first;
            d.smtp.port = starttls->second;
            d.smtp.security = SmtpSettings::Security::StartTls;
        }
        if (!d.smtp.host.isEmpty()) {
            d.smtp.user = address;
            d.sources.append(QStringLiteral("the mail server from the SRV records of %1").arg(domain));
        }
    }
    if (d.contactsUrl.isEmpty()) {
        if (const auto dav = dns.service(QStringLiteral("_carddavs._tcp.") + domain)) {
            QString path = QStringLiteral("/.well-known/carddav");
            for (const QString &text : dns.texts(QStringLiteral("_carddavs._tcp.") + domain))
                if (text.startsWith(QLatin1String("path=/")))
                    path = text.mid(5);
            QUrl url;
            url.setScheme(QStringLiteral("https"));
            url.setHost(dav->first);
            if (dav->second != 443)
                url.setPort(dav->second);
            url.setPath(path);
            if (url.isValid()) {
                d.contactsKind = QStringLiteral("carddav");
                d.contactsUrl = url.toString();
                d.sources.append(QStringLiteral("the address book from the SRV records of %1").arg(domain));
            }
        }
    }
    if (d.smtp.host.isEmpty() || d.contactsUrl.isEmpty())
        if (const Provider *p = providerForMx(providers, dns.mailExchangers(domain)))
            takeProvider(d, *p, address, QStringLiteral("%1, which receives the mail of %2").arg(p->name, domain));
    return d;
}

} // namespace hostmail::signin
