#include "common/core/ShortDate.h"

#include <QLocale>

namespace common {

QString shortDateFormat()
{
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1String("yyyy")))
        format.replace(QLatin1String("yy"), QLatin1String("yyyy"));
    return format;
}

QString dateText(const QDate &date)
{
    return QLocale().toString(date, shortDateFormat());
}

} // namespace common
