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

// The template with the salutation after "<BODY>" and, when childrenLine is
// not empty, that line before every "</BODY>".
QString composeBody(const QString &html, const QString &salutation, const QString &childrenLine);

// Trimmed lead + " " + trimmed children, or empty when children is empty.
QString childrenLine(const QString &lead, const QString &children);

// The template's images without consecutive repeats (no case), then
// attachmentPath.
QStringList attachmentPaths(const QStringList &images, const QString &attachmentPath);

} // namespace greetings
