#pragma once

#include <QWebEnginePage>
#include <QWebEngineUrlRequestInterceptor>

namespace templates {

// Lets a template's page load nothing but the document itself and the
// pictures it names on this machine (file: and data: images).
class DocumentRequests : public QWebEngineUrlRequestInterceptor {
    Q_OBJECT
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

Q_SIGNALS:
    void refused(const QUrl &url);
};

// A page that shows a template as a document, never as a page: no script of
// the template runs (the program's own run in their own world), it follows
// no refresh, link or form, opens no window and no dialog, takes no dropped
// file, and loads nothing but what DocumentRequests lets through. The only
// navigations are the loads the program itself starts.
class DocumentPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit DocumentPage(QObject *parent = nullptr);

    // setHtml and setUrl with the page's own load let through.
    void showHtml(const QString &html, const QUrl &base);
    void showUrl(const QUrl &url);

Q_SIGNALS:
    // A navigation or a request the page did not let through.
    void refused(const QUrl &url);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl &origin, const QString &message) override;
    bool javaScriptConfirm(const QUrl &origin, const QString &message) override;
    bool javaScriptPrompt(const QUrl &origin, const QString &message, const QString &value, QString *result) override;

private:
    int m_expectedLoads = 0;
};

} // namespace templates
