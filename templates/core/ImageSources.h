#pragma once

#include <QString>
#include <QStringList>

namespace templates {

// The local files a template's HTML names, as the mail library finds them
// (hostmail::mime::localReferences, its one rule of what a local picture is).
struct TemplateFiles {
    // The files its image elements show, in document order, repeats kept:
    // the template's image attachment list.
    QStringList images;
    // Every local file it shows as a picture (images, background, CSS url())
    // that is a picture file, each once, in document order.
    QStringList pictures;
    // The local files it names that never leave in a mail: "VALUE (PLACE)",
    // or "PATH (not a picture)" for a picture reference to another file.
    QStringList leftOut;
};
TemplateFiles templateFiles(const QString &html);

// The pictures a message of the template carries: the chosen image files
// that are pictures, then every other picture the HTML shows, so that no
// picture of the template is blanked in the mail.
QStringList attachedPictures(QStringList chosen, const TemplateFiles &files);

// Whether a file is a picture by its content, so a template cannot make a run
// attach some other local file.
bool isImageFile(const QString &path);

} // namespace templates
