#include "templates/core/BodyText.h"
#include "templates/core/ImageSources.h"
#include "templates/core/TemplateText.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace templates;

TEST(BodyText, TagsMatchWithoutCaseAndTheEndTagKeepsItsOwn)
{
    EXPECT_EQ(insertAfterBodyTag("<html><body>x</body><BoDy></html>", "Dear Anna,"),
              "<html><BODY>Dear Anna,x</body><BODY>Dear Anna,</html>");
    EXPECT_EQ(insertAfterBodyTag("<body class=a>x</body>", "Dear Anna,"), "<body class=a>x</body>");
    EXPECT_EQ(insertBeforeBodyEnd("<body>x</Body></BODY>", "PS"), "<body>xPS</Body>PS</BODY>");
    EXPECT_EQ(insertBeforeBodyEnd("<body>x", "PS"), "<body>x");
}

TEST(ImageSources, LocalFilesOnly)
{
    EXPECT_EQ(imagePathFromSource("file:///C:\\Pictures\\cake.gif"), "C:\\Pictures\\cake.gif");
    EXPECT_EQ(imagePathFromSource("\\\\server\\x.gif"), "");
    EXPECT_EQ(imagePathFromSource("file:///home/me/My%20Pictures/cake.png"), "/home/me/My Pictures/cake.png");
    EXPECT_EQ(imagePathFromSource("/home/me/cake.png"), "/home/me/cake.png");
    EXPECT_EQ(imagePathFromSource("https://example.org/cake.png"), "");
    EXPECT_EQ(imagePathFromSource("data:image/png;base64,AAAA"), "");
}

TEST(TemplateText, GeneratorTagAndFilters)
{
    const QString lower = "<meta name=\"generator\" content=\"microsoft dhtml editing control\">";
    const QString other = "<META CONTENT=\"Microsoft DHTML Editing Control\" NAME=\"GENERATOR\">";
    const QString tag = "<META NAME=\"GENERATOR\" Content=\"Microsoft DHTML Editing Control\">";
    EXPECT_EQ(removeGeneratorTag("<head>" + tag + lower + other + "</head>"), "<head>" + other + "</head>");
    EXPECT_EQ(dialogFilter("HTML|*.html|RTF|*.rtf|Text|*.txt|All|*.*"),
              "HTML (*.html);;RTF (*.rtf);;Text (*.txt);;All (*.*)");
    EXPECT_EQ(dialogFilter("JPG|*.jpg|All|*.*"), "JPG (*.jpg);;All (*.*)");
}
