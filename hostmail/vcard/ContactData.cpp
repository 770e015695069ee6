#include "hostmail/vcard/ContactData.h"

#include <QHash>

namespace hostmail {

namespace {

// Year standing in for "no year" on read, a leap year so 29 February exists.
constexpr int kNoYear = 2000;

bool allDigits(const QByteArray &s)
{
    if (s.isEmpty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

bool isTextUri(const QString &v)
{
    static const char *schemes[] = {"urn:", "mailto:", "http:", "https:", "tel:", "uid:"};
    for (const char *s : schemes) {
        if (v.startsWith(QLatin1String(s), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString mailtoAddress(const QString &v)
{
    QString s = v.trimmed();
    if (s.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        s = s.mid(7);
    const qsizetype lt = s.lastIndexOf(QLatin1Char('<'));
    const qsizetype gt = s.lastIndexOf(QLatin1Char('>'));
    if (lt >= 0 && gt > lt)
        s = s.mid(lt + 1, gt - lt - 1);
    return s.trimmed();
}

// The first property that holds a date gives the field; a property whose
// value is no date is kept as the field's line until one that is comes.
void setDate(DateField &field, const ContentLine &line, int index)
{
    if (field.valid)
        return;
    QDate date;
    DateForm form;
    // A text value is no date, nor is one that does not read as a date.
    if (line.hasParam("VALUE", "text") || !parseVCardDate(line.rawValue.trimmed(), &date, &form)) {
        if (field.line < 0)
            field.line = index;
        return;
    }
    if (line.param("X-APPLE-OMIT-YEAR") == QByteArray::number(date.year()) || date.year() == 1604) {
        field.placeholderYear = date.year();
        date = QDate(kNoYear, date.month(), date.day());
        form = form == DateForm::Basic ? DateForm::AppleNoYearBasic : DateForm::AppleNoYear;
    }
    field.line = index;
    field.valid = true;
    field.date = date;
    field.form = form;
    field.hasTime = line.rawValue.contains('T');
}

// RFC 5322 atext, and any non-ASCII character (internationalised addresses).
bool isAtext(QChar c)
{
    return c.unicode() >= 0x80 || c.isLetterOrNumber() || QStringView(u"!#$%&'*+-/=?^_`{|}~").contains(c);
}

bool isDotAtom(QStringView s)
{
    if (s.isEmpty() || s.startsWith(QLatin1Char('.')) || s.endsWith(QLatin1Char('.')) ||
        s.contains(QLatin1String("..")))
        return false;
    for (const QChar c : s) {
        if (c != QLatin1Char('.') && !isAtext(c))
            return false;
    }
    return true;
}

bool isQuotedString(QStringView s)
{
    if (s.size() < 2 || !s.startsWith(QLatin1Char('"')) || !s.endsWith(QLatin1Char('"')))
        return false;
    for (qsizetype i = 1; i + 1 < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('\\'))
            ++i;
        else if (c == QLatin1Char('"') || c.unicode() < 0x20)
            return false;
    }
    return true;
}

bool isAddrSpec(QStringView s)
{
    const qsizetype at = s.lastIndexOf(QLatin1Char('@'));
    if (at <= 0)
        return false;
    const QStringView local = s.left(at), domain = s.mid(at + 1);
    if (!isDotAtom(local) && !isQuotedString(local))
        return false;
    if (domain.startsWith(QLatin1Char('[')) && domain.endsWith(QLatin1Char(']')))
        return domain.size() > 2 && !domain.mid(1, domain.size() - 2).contains(QLatin1Char('['));
    return isDotAtom(domain);
}

// A display name: words of atext and blanks, or one quoted string.
bool isDisplayName(QStringView s)
{
    s = s.trimmed();
    if (s.isEmpty() || isQuotedString(s))
        return true;
    for (const QChar c : s) {
        if (c != QLatin1Char(' ') && c != QLatin1Char('\t') && c != QLatin1Char('.') && !isAtext(c))
            return false;
    }
    return true;
}

} // namespace

bool isSingleMailbox(const QString &value)
{
    QStringView v = QStringView(value).trimmed();
    if (v.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
        v = v.mid(7);
    if (v.endsWith(QLatin1Char('>'))) {
        const qsizetype open = v.lastIndexOf(QLatin1Char('<'));
        return open >= 0 && isDisplayName(v.left(open)) && isAddrSpec(v.mid(open + 1, v.size() - open - 2).trimmed());
    }
    return isAddrSpec(v);
}

bool parseVCardDate(const QByteArray &raw, QDate *date, DateForm *form)
{
    QByteArray v = raw;
    const qsizetype t = v.indexOf('T');
    if (t >= 0)
        v.truncate(t); // a date-time: the date part
    int y = 0, m = 0, d = 0;
    if (v.startsWith("--")) {
        const QByteArray rest = v.mid(2);
        if (rest.size() == 4 && allDigits(rest)) {
            m = rest.left(2).toInt();
            d = rest.mid(2).toInt();
            *form = DateForm::YearlessBasic;
        } else if (rest.size() == 5 && rest.at(2) == '-' && allDigits(rest.left(2)) && allDigits(rest.mid(3))) {
            m = rest.left(2).toInt();
            d = rest.mid(3).toInt();
            *form = DateForm::YearlessExtended;
        } else {
            return false;
        }
        y = kNoYear;
    } else if (v.size() == 8 && allDigits(v)) {
        y = v.left(4).toInt();
        m = v.mid(4, 2).toInt();
        d = v.mid(6, 2).toInt();
        *form = DateForm::Basic;
    } else if (v.size() == 10 && v.at(4) == '-' && v.at(7) == '-' && allDigits(v.left(4)) && allDigits(v.mid(5, 2)) &&
               allDigits(v.mid(8, 2))) {
        y = v.left(4).toInt();
        m = v.mid(5, 2).toInt();
        d = v.mid(8, 2).toInt();
        *form = DateForm::Extended;
    } else {
        return false;
    }
    const QDate parsed(y, m, d);
    if (!parsed.isValid())
        return false;
    *date = parsed;
    return true;
}

QByteArray formatVCardDate(const QDate &date, DateForm form, int placeholderYear)
{
    const bool yearless = date.year() == kNoYear;
    switch (form) {
    case DateForm::YearlessBasic:
        if (yearless)
            return "--" + date.toString(QStringLiteral("MMdd")).toLatin1();
        return date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    case DateForm::YearlessExtended:
        if (yearless)
            return "--" + date.toString(QStringLiteral("MM-dd")).toLatin1();
        break;
    case DateForm::AppleNoYear:
        if (yearless)
            return QByteArray::number(placeholderYear) + '-' + date.toString(QStringLiteral("MM-dd")).toLatin1();
        break;
    case DateForm::AppleNoYearBasic:
        if (yearless)
            return QByteArray::number(placeholderYear) + date.toString(QStringLiteral("MMdd")).toLatin1();
        return date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    case DateForm::Basic:
        return date.toString(QStringLiteral("yyyyMMdd")).toLatin1();
    case DateForm::Extended:
        break;
    }
    return date.toString(QStringLiteral("yyyy-MM-dd")).toLatin1();
}

ContactData readContact(const VCardCard &card)
{
    ContactData c;
    // Apple and Google label grouped properties with an X-ABLabel line.
    // A card has a handful of them: a list is faster than a hash here.
    QList<QPair<QByteArray, QString>> labels;
    for (const ContentLine &l : card.lines) {
        if (!l.group.isEmpty() && l.name == "X-ABLABEL")
            labels.append({l.group.toLower(), l.value().trimmed()});
    }
    auto labelOf = [&](const ContentLine &l) {
        const QByteArray group = l.group.toLower();
        for (const auto &[g, label] : labels) {
            if (g == group)
                return label;
        }
        return QString();
    };

    QStringList children;
    QString nameFirst, nameLast;
    bool haveN = false;
    bool evolutionList = false;
    QStringList emailsAsMembers;
    for (int i = 0; i < card.lines.size(); ++i) {
        const ContentLine &l = card.lines.at(i);
        const QByteArray &name = l.name;
        if (name == "N") {
            const QStringList parts = splitUnescaped(l.value(), QLatin1Char(';'));
            nameLast = parts.value(0);
            nameFirst = parts.value(1);
            haveN = true;
        } else if (name == "FN") {
            c.fullName = unescapeText(l.value());
        } else if (name == "UID") {
            c.uid = l.value().trimmed();
        } else if (name == "EMAIL") {
            const QString address = unescapeText(l.value()).trimmed();
            emailsAsMembers.append(mailtoAddress(address));
            // A value that is no single mailbox, or none at all, keeps its
            // slot, empty: it must never add recipients or name a list, and
            // never moves a later address up into the first slot.
            if (c.emails.size() < 3)
                c.emails.append(isSingleMailbox(address) ? address : QString());
        } else if (name == "CATEGORIES") {
            const QStringList cats = splitUnescaped(l.value(), QLatin1Char(','));
            for (const QString &cat : cats) {
                if (cat.trimmed().isEmpty())
                    continue;
                if (!c.categories.isEmpty())
                    c.categories += QLatin1String(", ");
                c.categories += cat.trimmed();
            }
        } else if (name == "BDAY") {
            setDate(c.birthday, l, i);
        } else if (name == "ANNIVERSARY" || name == "X-ANNIVERSARY" || name == "X-EVOLUTION-ANNIVERSARY" ||
                   name == "X-MS-ANNIVERSARY" || name == "X-KADDRESSBOOK-X-ANNIVERSARY" ||
                   name == "X-WAB-WEDDING_ANNIVERSARY") {
            setDate(c.anniversary, l, i);
        } else if (name == "X-ABDATE") {
            if (labelOf(l).contains(QLatin1String("Anniversary"), Qt::CaseInsensitive))
                setDate(c.anniversary, l, i);
        } else if (name == "RELATED") {
            const QString v = unescapeText(l.value()).trimmed();
            if (v.isEmpty() || (isTextUri(v) && !l.hasParam("VALUE", "text")))
                continue;
            if (l.hasParam("TYPE", "spouse") && c.spouse.isEmpty())
                c.spouse = v;
            else if (l.hasParam("TYPE", "child"))
                children.append(v);
        } else if (name == "X-EVOLUTION-SPOUSE" || name == "X-MS-SPOUSE" || name == "X-SPOUSE" ||
                   name == "X-KADDRESSBOOK-X-SPOUSESNAME" || name == "X-WAB-SPOUSE_NAME") {
            if (c.spouse.isEmpty())
                c.spouse = unescapeText(l.value()).trimmed();
        } else if (name == "X-MS-CHILD" || name == "X-CHILDREN") {
            const QString v = unescapeText(l.value()).trimmed();
            if (!v.isEmpty())
                children.append(v);
        } else if (name == "X-ABRELATEDNAMES") {
            const QString label = labelOf(l);
            const QString v = unescapeText(l.value()).trimmed();
            if (v.isEmpty())
                continue;
            if (label.contains(QLatin1String("Spouse"), Qt::CaseInsensitive) && c.spouse.isEmpty())
                c.spouse = v;
            else if (label.contains(QLatin1String("Child"), Qt::CaseInsensitive))
                children.append(v);
        } else if (name == "KIND" || name == "X-ADDRESSBOOKSERVER-KIND") {
            if (l.value().trimmed().compare(QLatin1String("group"), Qt::CaseInsensitive) == 0)
                c.isGroup = true;
        } else if (name == "X-EVOLUTION-LIST") {
            if (l.value().trimmed().compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0)
                evolutionList = true;
        } else if (name == "X-EVOLUTION-LIST-SHOW-ADDRESSES") {
            if (l.value().trimmed().compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0)
                c.hideMembers = true;
        } else if (name == "MEMBER" || name == "X-ADDRESSBOOKSERVER-MEMBER") {
            c.members.append(l.value().trimmed());
        }
    }
    if (evolutionList) {
        c.isGroup = true;
        for (const QString &a : emailsAsMembers) {
            if (isSingleMailbox(a))
                c.members.append(QStringLiteral("mailto:") + a);
        }
    }
    if (haveN) {
        c.firstName = nameFirst;
        c.lastName = nameLast;
    } else if (!c.fullName.isEmpty()) {
        // No N line: the host splits the display name at its last blank.
        const QString fn = c.fullName.trimmed();
        const qsizetype blank = fn.lastIndexOf(QLatin1Char(' '));
        if (blank < 0) {
            c.firstName = fn;
        } else {
            c.firstName = fn.left(blank).trimmed();
            c.lastName = fn.mid(blank + 1);
        }
    }
    c.children = children.join(QLatin1String(", "));
    return c;
}

} // namespace hostmail
