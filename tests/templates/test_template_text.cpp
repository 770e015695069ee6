#include "templates/core/BodyText.h"
#include "templates/core/ImageSources.h"
#include "templates/core/TemplateEncoding.h"
#include "templates/core/TemplateText.h"

#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace templates;

TEST(BodyText, EveryPlainBodyTagAndNoOtherGetsTheText)
{
    EXPECT_EQ(insertAfterBodyTag("<html><body>x</body><BoDy></html>", "Dear Anna,"),
              "<html><BODY>Dear Anna,x</body><BODY>Dear Anna,</html>");
    // In a comment of the head too: the text is what counts, as written.
    EXPECT_EQ(insertAfterBodyTag("<head><!-- <body> --></head><body bgcolor=\"#ffeecc\">x", "Dear,"),
              "<head><!-- <BODY>Dear, --></head><body bgcolor=\"#ffeecc\">x");
    for (const char *none : {"<body class=a>x</body>", "<BODY style=\"a:b\">x", "<bodyguard><body/>x", "<p>no body</p>",
                             "<body\n>x", ""}) {
        EXPECT_EQ(insertAfterBodyTag(none, "Dear,"), none);
        EXPECT_FALSE(hasBodyText(none)) << none;
    }
    EXPECT_TRUE(hasBodyText("<Body>"));
    EXPECT_EQ(insertBeforeBodyEnd("<body>x</Body></body>", "PS"), "<body>x</Body>PS</BODY>");
    EXPECT_EQ(insertBeforeBodyEnd("<body>x", "PS"), "<body>x");
}

TEST(BodyText, ADocumentWithoutTextOrPictureShowsNothing)
{
    EXPECT_TRUE(showsNothing(""));
    EXPECT_TRUE(showsNothing("<html><head><title>Card</title><style>p{}</style></head><body>\n</body></html>"));
    EXPECT_TRUE(showsNothing("<body><p>&nbsp;</p><!-- note --><script>x()</script></body>"));
    EXPECT_FALSE(showsNothing("<body><p>Happy day</p></body>"));
    EXPECT_FALSE(showsNothing("<body><IMG src=\"cake.png\"></body>"));
}

TEST(TemplateFiles, PicturesComeFromTheHtmlAloneAndOnlyPictureFilesGo)
{
    QTemporaryDir dir;
    const QString png = dir.filePath("cake.png"), odd = dir.filePath("new;year.png"), key = dir.filePath("id_rsa");
    const QByteArray picture = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==");
    for (const auto &[path, bytes] : {std::pair{png, picture}, {odd, picture}, {key, QByteArray("secret\n")}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    const QString url = QUrl::fromLocalFile(png).toString();
    const QString html = "<body background=\"" + QUrl::fromLocalFile(odd).toString() + "\"><img src=\"" + url +
                         "\"><img src=\"https://example.org/w.png\"><img src=\"data:image/png;base64,AAAA\">"
                         "<img src=\"file:///C:\\Pictures\\cake.gif\"><img src=\"" +
                         url + "\"><img src=\"" + QUrl::fromLocalFile(key).toString() + "\"><a href=\"" + key +
                         "\">key</a></body>";
    const TemplateFiles files = templateFiles(html);
    // The image elements' files as shown, repeats kept; a web or data:
    // source names no file, and a Windows one no picture here.
    const QString windows = "/C:\\Pictures\\cake.gif";
    EXPECT_EQ(files.images, QStringList({png, windows, png, key}));
    EXPECT_EQ(files.pictures, QStringList({odd, png}));
    EXPECT_EQ(files.leftOut, QStringList({windows + " (file not found)", key + " (not a picture)", key + " (a href)"}));
    // A run's choice keeps its repeats and gains every other picture shown.
    EXPECT_EQ(attachedPictures(files.images, files), QStringList({png, png, odd}));
    EXPECT_EQ(attachedPictures({}, files), QStringList({odd, png}));
}

TEST(TemplateText, GeneratorTagAndFilters)
{
    const QString lower = "<meta name=\"generator\" content=\"microsoft dhtml editing control\">";
    const QString other = "<META CONTENT=\"Microsoft DHTML Editing Control\" NAME=\"GENERATOR\">";
    const QString tag = "<META NAME=\"GENERATOR\" Content=\"Microsoft DHTML Editing Control\">";
    EXPECT_EQ(removeGeneratorTag("<head>" + tag + lower + other + "</head>"), "<head>" + other + "</head>");
    EXPECT_EQ(dialogFilter("HTML|*.html|RTF|*.rtf|Text|*.txt|All|*.*"),
              "HTML (*.html);;RTF (*.rtf);;Text (*.txt);;All (*)");
    EXPECT_EQ(dialogFilter("JPG|*.jpg|All|*.*"), "JPG (*.jpg);;All (*)");
}

TEST(TemplateEncoding, DeclaredUndeclaredAndMarkedFilesDecodeAndEncodeBack)
{
    const DecodedTemplate cp = decodeTemplate("<meta charset=\"windows-1252\"><p>Caf\xE9 \x80</p>");
    EXPECT_EQ(cp.html, QString::fromUtf8("<meta charset=\"windows-1252\"><p>Café €</p>"));
    EXPECT_EQ(cp.encoding.name, "windows-1252");
    EXPECT_TRUE(cp.encoding.declared);
    EXPECT_EQ(encodeTemplate(cp.html, cp.encoding), "<meta charset=\"windows-1252\"><p>Caf\xE9 \x80</p>");
    // A character the file's encoding has not: UTF-8, and the declaration follows.
    EXPECT_EQ(encodeTemplate(cp.html + QString::fromUtf8("☺"), cp.encoding),
              QString::fromUtf8("<meta charset=\"utf-8\"><p>Café €</p>☺").toUtf8());
    const DecodedTemplate equiv = decodeTemplate("<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; "
                                                 "charset=ISO-8859-1\">Gr\xFC\xDF"
                                                 "e");
    EXPECT_EQ(equiv.encoding.name, "ISO-8859-1");
    EXPECT_TRUE(equiv.html.endsWith(QString::fromUtf8("Grüße")));

    const DecodedTemplate plain = decodeTemplate("Lieber G\xFCnther");
    EXPECT_EQ(plain.html, QString::fromUtf8("Lieber Günther"));
    EXPECT_EQ(plain.encoding.name, "windows-1252");
    EXPECT_FALSE(plain.encoding.declared);
    // Undeclared Polish in windows-1250: the detector tells it, and it is written back so.
    const QByteArray polish = "<p>Droga Agnieszko, wszystkiego najlepszego z okazji urodzin! \xAF\xF3\xB3w, "
                              "\xBF\xF3\xB3ty, pi\xEAkny dzie\xF1 w Gda\xF1sku i w \xA3odzi.</p>";
    const DecodedTemplate pl = decodeTemplate(polish);
    EXPECT_EQ(pl.encoding.name, "windows-1250");
    EXPECT_TRUE(pl.html.contains(QString::fromUtf8("dzień w Gdańsku"))) << pl.html.toStdString();
    EXPECT_EQ(encodeTemplate(pl.html, pl.encoding), polish);
    const DecodedTemplate utf8 = decodeTemplate(QString::fromUtf8("Lieber Günther").toUtf8());
    EXPECT_EQ(utf8.encoding.name, "UTF-8");

    const DecodedTemplate marked = decodeTemplate("\xEF\xBB\xBF<p>\xE2\x98\xBA</p>");
    EXPECT_EQ(marked.html, QString::fromUtf8("<p>☺</p>"));
    EXPECT_EQ(encodeTemplate(marked.html, marked.encoding), "\xEF\xBB\xBF<p>\xE2\x98\xBA</p>");
    const DecodedTemplate wide = decodeTemplate(QByteArray("\xFF\xFE<\0p\0>\0", 8));
    EXPECT_EQ(wide.html, "<p>");
    EXPECT_EQ(encodeTemplate(wide.html, wide.encoding), QByteArray("\xFF\xFE<\0p\0>\0", 8));
    // A declaration no decoder knows counts as none.
    EXPECT_EQ(decodeTemplate("<meta charset=\"klingon-9\">x").encoding.name, "UTF-8");
}
