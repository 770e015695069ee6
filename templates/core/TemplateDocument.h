#pragma once

#include <QString>
#include <QStringList>

namespace templates {

// A template's design document as the send runs read it: the whole HTML text
// and the source reference of each image element, in document order.
struct TemplateDocument {
    QString html;
    QStringList imageSources;
};

} // namespace templates
