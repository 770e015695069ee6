#include "generate_store.h"

#include <QDir>
#include <QFile>

void generateAddressBook(const QString &folder, int n)
{
    QDir().mkpath(folder);
    static const char *first[] = {"Anna", "Jürgen", "Zoë", "Tom", "Åsa", "Li", "Renée", "Ola"};
    static const char *last[] = {"Berg", "Müller", "Ødegård", "Lind", "Nilsson", "Wei", "Dubois", "Ek"};
    quint32 seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) & 0xFFFF;
    };
    for (int i = 0; i < n; ++i) {
        const QString f = QString::fromUtf8(first[i % 8]),
                      l = QString::fromUtf8(last[(i / 8) % 8]) + QString::number(i);
        const int bm = int(next() % 12) + 1, bd = int(next() % 28) + 1, am = int(next() % 12) + 1,
                  ad = int(next() % 28) + 1;
        QString card;
        if (i % 500 == 499) {
            card = QStringLiteral(
                       "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:List %1\r\nMEMBER:urn:uuid:c%2\r\nEND:VCARD\r\n")
                       .arg(i)
                       .arg(i - 1);
        } else if (i % 3 == 0) {
            card = QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:c%1\r\nN:%2;%3;;;\r\nFN:%3 %2\r\n"
                                  "EMAIL;TYPE=INTERNET:p%1@example.org\r\nBDAY:19%4-%5-%6\r\n"
                                  "item1.X-ABDATE:20%7-%8-%9\r\nitem1.X-ABLabel:_$!<Anniversary>!$_\r\n"
                                  "item2.X-ABRELATEDNAMES:Kim\r\nitem2.X-ABLabel:_$!<Spouse>!$_\r\nCATEGORIES:"
                                  "Family\r\nEND:VCARD\r\n")
                       .arg(i)
                       .arg(l, f)
                       .arg(50 + i % 50)
                       .arg(bm, 2, 10, QChar('0'))
                       .arg(bd, 2, 10, QChar('0'))
                       .arg(i % 20, 2, 10, QChar('0'))
                       .arg(am, 2, 10, QChar('0'))
                       .arg(ad, 2, 10, QChar('0'));
        } else if (i % 3 == 1) {
            const QString mmdd = QStringLiteral("%1%2").arg(bm, 2, 10, QChar('0')).arg(bd, 2, 10, QChar('0'));
            const QString ann = QStringLiteral("2010%1%2").arg(am, 2, 10, QChar('0')).arg(ad, 2, 10, QChar('0'));
            card =
                QStringLiteral(
                    "BEGIN:VCARD\nVERSION:4.0\nUID:c%1\nN:%2;%3;;;\nFN:%3 %2\nEMAIL:p%1@example.org\n"
                    "EMAIL:w%1@example.org\nBDAY:--%4\nANNIVERSARY:%5\nRELATED;TYPE=child;VALUE=text:Sam\nEND:VCARD\n")
                    .arg(i)
                    .arg(l, f)
                    .arg(mmdd, ann);
        } else {
            card = QStringLiteral(
                       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:%2;%3\r\n"
                       "EMAIL;PREF;INTERNET:p%1@example.org\r\nBDAY:19%4%5%6\r\nX-MS-SPOUSE:Alex\r\nEND:VCARD\r\n")
                       .arg(i)
                       .arg(l, f)
                       .arg(60 + i % 30)
                       .arg(bm, 2, 10, QChar('0'))
                       .arg(bd, 2, 10, QChar('0'));
        }
        QFile out(QStringLiteral("%1/c%2.vcf").arg(folder).arg(i, 6, 10, QChar('0')));
        if (out.open(QIODevice::WriteOnly))
            out.write(card.toUtf8());
    }
}
