#include "greetings/core/Composition.h"

#include "templates/core/BodyText.h"

namespace greetings {

QString subjectLine(const OccasionSettings &s, const QString &dateText)
{
    if (s.subjectCustom && !s.printDate)
        return s.subjectText();
    return s.subjectText() + QLatin1String(" - ") + dateText;
}

QString salutationLine(OccasionKind kind, const OccasionSettings &s, const QString &firstName, const QString &spouse)
{
    const QString text = s.salutationText().trimmed();
    if (s.salutationCustom && !s.printNames)
        return text + QLatin1Char(',');
    QString line = text + QLatin1Char(' ') + firstName;
    if (kind == OccasionKind::Anniversary && !spouse.isEmpty())
        line += QLatin1String(" and ") + spouse;
    return line + QLatin1Char(',');
}

QString composeBody(const QString &html, const QString &salutation, const QString &children)
{
    const QString body = templates::insertAfterBodyTag(html, salutation);
    return children.isEmpty() ? body : templates::insertBeforeBodyEnd(body, children);
}

QString childrenLine(const QString &lead, const QString &children)
{
    if (children.trimmed().isEmpty())
        return {};
    return lead.trimmed() + QLatin1Char(' ') + children.trimmed();
}

QStringList attachmentPaths(const QStringList &images, const QString &attachmentPath)
{
    QStringList out;
    for (qsizetype i = 0; i < images.size(); ++i) {
        if (i == 0 || images.at(i).compare(images.at(i - 1), Qt::CaseInsensitive) != 0)
            out.append(images.at(i));
    }
    if (!attachmentPath.isEmpty())
        out.append(attachmentPath);
    return out;
}

} // namespace greetings
