#include "templates/views/DesignEditor.h"

#include "templates/core/TemplateEncoding.h"
#include "templates/views/DocumentPage.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QSaveFile>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineSettings>

#include <memory>

namespace templates {

namespace {

constexpr int kScriptTimeoutMs = 10000;
// setHtml hands the page over as a data URL, which Chromium limits to 2 MB.
constexpr qsizetype kMaxDocumentBytes = 2 * 1024 * 1024 - 4096;

QString jsString(const QString &s)
{
    QString out = s;
    out.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QChar(0x2028), QLatin1String("\\u2028"))
        .replace(QChar(0x2029), QLatin1String("\\u2029"));
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

} // namespace

DesignEditor::DesignEditor(QWidget *parent) : QWebEngineView(parent), m_page(new DocumentPage(this))
{
    // A template's own scripts never run, nor does it go anywhere; the
    // editor's scripts run in their own world.
    setPage(m_page);
    connect(this, &QWebEngineView::loadStarted, this, [this] { m_loading = true; });
    connect(this, &QWebEngineView::loadFinished, this, [this](bool) {
        m_loading = false;
        // Design mode adds no attribute to <html> or <body>.
        page()->runJavaScript(QStringLiteral("document.designMode = 'on';"), QWebEngineScript::ApplicationWorld);
        applyDisplayOptions();
    });
    setDocument(QString());
}

void DesignEditor::setDisplayOptions(bool zeroBorders, bool details)
{
    m_zeroBorders = zeroBorders;
    m_details = details;
    applyDisplayOptions();
}

void DesignEditor::applyDisplayOptions()
{
    // The outlines are drawn by a style sheet the page does not hold, so they
    // never reach the document's HTML.
    QString css;
    if (m_zeroBorders)
        css += QStringLiteral("table[border='0'] td, table:not([border]) td { outline: 1px dotted #bbb; } ");
    if (m_details)
        css += QStringLiteral("img { outline: 1px dashed #99c; } ");
    page()->runJavaScript(
        QStringLiteral("(function(){ if (!document.adoptedStyleSheets) return; var s = new CSSStyleSheet();"
                       " s.replaceSync(%1); document.adoptedStyleSheets = [s]; })();")
            .arg(jsString(css)),
        QWebEngineScript::ApplicationWorld);
}

void DesignEditor::setDocument(const QString &html, const QUrl &base)
{
    m_loading = true;
    m_page->showHtml(html, base.isValid() ? base : QUrl(QStringLiteral("file:///")));
}

bool DesignEditor::loadFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (bytes.size() > kMaxDocumentBytes) {
        *error = QStringLiteral("The file is larger than 2 MB.");
        return false;
    }
    const DecodedTemplate decoded = decodeTemplate(bytes);
    m_encoding = decoded.encoding;
    setDocument(decoded.html, QUrl::fromLocalFile(QFileInfo(path).absolutePath() + QLatin1Char('/')));
    waitForLoad();
    return true;
}

bool DesignEditor::saveFile(const QString &path) const
{
    const QString html = documentHtml();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(encodeTemplate(html, m_encoding));
    return file.commit();
}

void DesignEditor::waitForLoad() const
{
    if (!m_loading)
        return;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    auto done = connect(this, &QWebEngineView::loadFinished, &loop, &QEventLoop::quit);
    timeout.start(kScriptTimeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    disconnect(done);
}

QVariant DesignEditor::evaluate(const QString &script) const
{
    waitForLoad();
    struct State {
        QVariant result;
        bool done = false;
        QEventLoop loop;
    };
    auto state = std::make_shared<State>();
    std::weak_ptr<State> weak = state;
    page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [weak](const QVariant &v) {
        if (auto s = weak.lock()) {
            s->result = v;
            s->done = true;
            s->loop.quit();
        }
    });
    if (!state->done) {
        QTimer::singleShot(kScriptTimeoutMs, &state->loop, &QEventLoop::quit);
        state->loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
    return state->result;
}

QString DesignEditor::documentHtml() const
{
    return evaluate(QStringLiteral(
                        "(document.doctype ? new XMLSerializer().serializeToString(document.doctype) + '\\n' : '')"
                        " + document.documentElement.outerHTML"))
        .toString();
}

TemplateDocument DesignEditor::document() const
{
    const QString html =
        evaluate(QStringLiteral(
                     "(function() {"
                     " var copy = document.documentElement.cloneNode(true);"
                     " var images = copy.getElementsByTagName('img');"
                     " for (var i = 0; i < images.length && i < document.images.length; ++i)"
                     "   if (images[i].hasAttribute('src')) images[i].setAttribute('src', document.images[i].src);"
                     " var backed = copy.querySelectorAll('[background]');"
                     " for (var j = 0; j < backed.length; ++j)"
                     "   backed[j].setAttribute('background',"
                     "     new URL(backed[j].getAttribute('background'), document.baseURI).href);"
                     " return (document.doctype ? new XMLSerializer().serializeToString(document.doctype)"
                     "   + '\\n' : '') + copy.outerHTML; })()"))
            .toString();
    return {html};
}

void DesignEditor::execCommand(const QString &command, const QString &value)
{
    evaluate(QStringLiteral("document.execCommand(%1, false, %2)").arg(jsString(command), jsString(value)));
}

void DesignEditor::ensureCaret()
{
    // A document just opened has no caret: the start of its body takes it.
    evaluate(QStringLiteral("(function() { var s = window.getSelection(); var b = document.body;"
                            " if (!b) { b = document.createElement('body'); document.documentElement.appendChild(b); }"
                            " if (s.rangeCount === 0 || !b.contains(s.getRangeAt(0).startContainer)) {"
                            "   var r = document.createRange(); r.setStart(b, 0); r.collapse(true);"
                            "   s.removeAllRanges(); s.addRange(r); } })()"));
}

void DesignEditor::insertImage(const QUrl &source)
{
    ensureCaret();
    execCommand(QStringLiteral("insertImage"), source.toString(QUrl::FullyEncoded));
}

QFont DesignEditor::selectionFont() const
{
    const QStringList style =
        evaluate(QStringLiteral("(function() { var s = window.getSelection();"
                                " var n = s.rangeCount ? s.getRangeAt(0).startContainer : document.body;"
                                " if (n && n.nodeType === 3) n = n.parentNode;"
                                " if (!n || n.nodeType !== 1) n = document.body || document.documentElement;"
                                " var c = getComputedStyle(n);"
                                " return [c.fontFamily, c.fontSize, c.fontWeight, c.fontStyle]; })()"))
            .toStringList();
    QFont font;
    if (style.size() != 4)
        return font;
    // The first family the page names, as the system resolves it (a generic
    // "serif" becomes an installed family, whose styles the dialog offers).
    QString family = style.at(0).section(QLatin1Char(','), 0, 0).trimmed();
    family.remove(QLatin1Char('"')).remove(QLatin1Char('\''));
    font.setFamily(family);
    font.setFamily(QFontInfo(font).family());
    const double px = style.at(1).chopped(2).toDouble(); // "16px"
    if (px > 0)
        font.setPointSizeF(qRound(px * 72.0 / 96.0 * 2) / 2.0); // to half points, as the dialog offers them
    font.setBold(style.at(2).toInt() >= 600);
    font.setItalic(style.at(3) == QLatin1String("italic") || style.at(3) == QLatin1String("oblique"));
    return font;
}

void DesignEditor::applyFont(const QFont &font)
{
    ensureCaret();
    evaluate(QStringLiteral("document.execCommand('styleWithCSS', false, true)"));
    execCommand(QStringLiteral("fontName"), font.family());
    // execCommand knows sizes 1 to 7 only: size 7 marks the selection, and
    // the mark becomes the exact size in points.
    execCommand(QStringLiteral("fontSize"), QStringLiteral("7"));
    evaluate(QStringLiteral("Array.prototype.forEach.call(document.querySelectorAll("
                            "  '[style*=\"xxx-large\"], font[size=\"7\"]'), function(e) {"
                            "  e.style.fontSize = '%1pt'; e.removeAttribute('size'); })")
                 .arg(QString::number(font.pointSizeF() > 0 ? font.pointSizeF() : font.pointSize())));
    if (font.bold() != evaluate(QStringLiteral("document.queryCommandState('bold')")).toBool())
        execCommand(QStringLiteral("bold"));
    if (font.italic() != evaluate(QStringLiteral("document.queryCommandState('italic')")).toBool())
        execCommand(QStringLiteral("italic"));
}

} // namespace templates
