#pragma once

#include "greetings/core/GreetingSettings.h"

#include <QStringList>

namespace greetings {

enum class OccasionKind { Birthday, Anniversary };

// Subject text + " - " + date text, or the custom text alone without print-date.
QString subjectLine(const OccasionSettings &s, const QString &dateText);

// "Dear Anna," / "Dear Tom and Lisa," / "Dear,". The names go in as given:
// a caller that puts the line into HTML passes them escaped.
QString salutationLine(OccasionKind kind, const OccasionSettings &s, const QString &firstName, const QString &spouse);

// Inserts text after every "<BODY>" (letter case ignored; the tag comes out as
// "<BODY>").
QString insertAfterBodyTag(const QString &html, const QString &text);

// The template with the salutation after "<BODY>" and, when childrenLine is
// not empty, that line before every "</BODY>".
QString composeBody(const QString &html, const QString &salutation, const QString &childrenLine);

// Trimmed lead + " " + trimmed children, or empty when children is empty.
QString childrenLine(const QString &lead, const QString &children);

// The local file an image source names: a file: URL or an absolute path gives
// the (percent-decoded) path; a source with a backslash keeps the old rule
// (from two characters before the first backslash); web sources give nothing.
QString imagePathFromSource(const QString &src);

// The image paths of a template, joined by ";".
QString imageAttachmentList(const QStringList &imageSources);

// The image list without consecutive repeats (no case), then attachmentPath.
QStringList attachmentPaths(const QString &imageList, const QString &attachmentPath);

// Whether a file is a picture by its content, so a template cannot make a run
// attach some other local file.
bool isImageFile(const QString &path);

} // namespace greetings
