#pragma once

#include <QString>

namespace templates {

// A template's design document as the send runs read it: the whole HTML
// text, with the pictures' references made absolute, so that the pictures it
// shows are found in the text alone.
struct TemplateDocument {
    QString html;
};

} // namespace templates
