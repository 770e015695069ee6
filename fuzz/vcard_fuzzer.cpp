// Feeds arbitrary bytes to the vCard reader as a contact file, reads every
// card's fields as the runs do, and edits the date lines as a save would.
#include "hostmail/vcard/ContactData.h"
#include "hostmail/vcard/VCardFile.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    auto file = hostmail::VCardFile::fromBytes(QStringLiteral("fuzz.vcf"), bytes);
    for (int i = 0; i < file->cards().size(); ++i) {
        const hostmail::ContactData c = hostmail::readContact(file->cards().at(i));
        const QByteArray copy = file->cardBytes(i);
        if (!file->text().contains(copy))
            std::abort(); // a card is always a slice of the file
        for (const hostmail::DateField *d : {&c.birthday, &c.anniversary}) {
            if (d->line < 0)
                continue;
            const QByteArray value = hostmail::formatVCardDate(d->date, d->form);
            QDate back;
            hostmail::DateForm form;
            if (d->date != hostmail::noDateValue() && (!hostmail::parseVCardDate(value, &back, &form) ||
                                                       back.month() != d->date.month() || back.day() != d->date.day()))
                std::abort(); // a date written back reads as the same day
        }
    }
    // An edit keeps every card of the file: replace the first line of each.
    for (int i = file->cards().size() - 1; i >= 0; --i) {
        if (!file->cards().at(i).lines.isEmpty())
            file->replaceLine(i, 0, "NOTE:edited");
    }
    file->dropLines();
    return 0;
}
