#include "templates/views/DocumentPage.h"

#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>

namespace templates {

void DocumentRequests::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    const QString scheme = info.requestUrl().scheme();
    const bool document = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeMainFrame;
    const bool localPicture = info.resourceType() == QWebEngineUrlRequestInfo::ResourceTypeImage &&
                              (scheme == QLatin1String("file") || scheme == QLatin1String("data"));
    if (document || localPicture)
        return;
    info.block(true);
    Q_EMIT refused(info.requestUrl());
}

DocumentPage::DocumentPage(QObject *parent) : QWebEnginePage(parent)
{
    QWebEngineSettings *s = settings();
    s->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    s->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    s->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    s->setAttribute(QWebEngineSettings::NavigateOnDropEnabled, false);
    s->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    s->setAttribute(QWebEngineSettings::HyperlinkAuditingEnabled, false);
    auto *requests = new DocumentRequests(this);
    connect(requests, &DocumentRequests::refused, this, &DocumentPage::refused);
    setUrlRequestInterceptor(requests);
}

void DocumentPage::showHtml(const QString &html, const QUrl &base)
{
    ++m_expectedLoads;
    setHtml(html, base);
}

void DocumentPage::showUrl(const QUrl &url)
{
    ++m_expectedLoads;
    setUrl(url);
}

bool DocumentPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (isMainFrame && type == NavigationTypeTyped && m_expectedLoads > 0) {
        --m_expectedLoads;
        return true;
    }
    Q_EMIT refused(url);
    return false;
}

QWebEnginePage *DocumentPage::createWindow(WebWindowType)
{
    return nullptr;
}

void DocumentPage::javaScriptAlert(const QUrl &, const QString &) {}

bool DocumentPage::javaScriptConfirm(const QUrl &, const QString &)
{
    return false;
}

bool DocumentPage::javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *)
{
    return false;
}

} // namespace templates
