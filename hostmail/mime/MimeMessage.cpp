#include "hostmail/mime/MimeMessage.h"

#include "hostmail/HostError.h"
#include "hostmail/mime/HtmlText.h"
#include "hostmail/mime/LocalReferences.h"

#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>
#include <QUuid>

#include <gmime/gmime.h>

#include <algorithm>
#include <mutex>
#include <vector>

namespace hostmail::mime {

namespace {

void initialise()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

template <typename T> struct GUnref {
    void operator()(T *p) const
    {
        if (p)
            g_object_unref(p);
    }
};
template <typename T> using GPtr = std::unique_ptr<T, GUnref<T>>;

QByteArray utf8(const QString &s)
{
    return headerSafe(s).toUtf8();
}

// Text that can stand in a slot of a body made safe once: it names no
// markup, entity, attribute, scheme or path, so the body with it in is made
// safe exactly as the body with the slot's placeholder.
bool isSlotText(QStringView text)
{
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.unicode() < 0x20 || c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('&') ||
               c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('=') || c == QLatin1Char('(') ||
               c == QLatin1Char(')') || c == QLatin1Char(':') || c == QLatin1Char('/') || c == QLatin1Char('\\') ||
               c == QLatin1Char(';') || c == QLatin1Char('`');
    });
}

// Where two bodies differ in one stretch of text between two tags (a
// salutation): the text before it, up to and with a '>', and after it, from
// a '<'. Null when they differ otherwise.
std::pair<QString, QString> slotAround(const QString &a, const QString &b)
{
    const qsizetype most = qMin(a.size(), b.size());
    qsizetype head = 0;
    while (head < most && a.at(head) == b.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < most - head && a.at(a.size() - 1 - tail) == b.at(b.size() - 1 - tail))
        ++tail;
    if (head == 0)
        return {};
    head = a.lastIndexOf(QLatin1Char('>'), head - 1) + 1; // 0 when there is none
    const qsizetype open = a.indexOf(QLatin1Char('<'), a.size() - tail);
    if (head == 0 || open < 0)
        return {};
    // The '>' ends a tag, outside a comment and a quoted attribute value.
    const qsizetype tag = a.lastIndexOf(QLatin1Char('<'), head - 1);
    const QStringView inTag = QStringView(a).mid(tag, head - tag);
    if (tag < 0 || inTag.count(QLatin1Char('"')) % 2 != 0 || inTag.count(QLatin1Char('\'')) % 2 != 0 ||
        a.lastIndexOf(QLatin1String("<!--"), head - 1) > a.lastIndexOf(QLatin1String("-->"), head - 1))
        return {};
    tail = a.size() - open;
    if (head + tail > most || !isSlotText(QStringView(a).mid(head, a.size() - head - tail)) ||
        !isSlotText(QStringView(b).mid(head, b.size() - head - tail)))
        return {};
    return {a.left(head), a.right(tail)};
}

QString rfc2822(const QDateTime &when)
{
    return when.toString(Qt::RFC2822Date);
}

void addRecipients(GMimeMessage *message, GMimeAddressType type, const QString &text)
{
    InternetAddressList *list = g_mime_message_get_addresses(message, type);
    const QStringList parts = text.split(QLatin1Char(';'));
    for (const QString &raw : parts) {
        const QString part = headerSafe(raw).trimmed();
        if (part.isEmpty())
            continue;
        GPtr<InternetAddressList> parsed(internet_address_list_parse(nullptr, part.toUtf8().constData()));
        bool addresses = parsed && internet_address_list_length(parsed.get()) > 0;
        for (int i = 0; addresses && i < internet_address_list_length(parsed.get()); ++i) {
            InternetAddress *ia = internet_address_list_get_address(parsed.get(), i);
            if (!INTERNET_ADDRESS_IS_MAILBOX(ia) ||
                !QByteArray(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia))).contains('@'))
                addresses = false;
        }
        if (addresses) {
            internet_address_list_append(list, parsed.get());
        } else {
            GPtr<InternetAddress> group(internet_address_group_new(part.toUtf8().constData()));
            internet_address_list_add(list, group.get());
        }
    }
}

GMimeMessage *parse(const QByteArray &message)
{
    initialise();
    GPtr<GMimeStream> stream(
        g_mime_stream_mem_new_with_buffer(message.constData(), static_cast<size_t>(message.size())));
    GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    GMimeMessage *m = g_mime_parser_construct_message(parser.get(), nullptr);
    if (!m)
        throw HostError(QStringLiteral("Not a mail message"));
    return m;
}

QByteArray serialise(GMimeObject *object)
{
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    if (g_mime_object_write_to_stream(object, nullptr, out.get()) < 0)
        throw HostError(QStringLiteral("Cannot write the message"));
    GByteArray *bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char *>(bytes->data), static_cast<qsizetype>(bytes->len));
}

} // namespace

QString headerSafe(const QString &value)
{
    QString s = value;
    for (QChar &c : s) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n') || c == QChar(0))
            c = QLatin1Char(' ');
    }
    return s;
}

QByteArray base64Lines(const QByteArray &content)
{
    const QByteArray flat = content.toBase64();
    QByteArray out;
    out.reserve(flat.size() + flat.size() / 76 + 1);
    for (qsizetype i = 0; i < flat.size(); i += 76)
        out.append(flat.constData() + i, qMin<qsizetype>(76, flat.size() - i)).append('\n');
    return out;
}

QByteArray textCharset(const QByteArray &content)
{
    if (content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF"))
        return "utf-16";
    if (!content.isValidUtf8())
        return "windows-1252";
    const bool ascii = std::all_of(content.begin(), content.end(), [](char c) { return (c & 0x80) == 0; });
    return ascii ? "us-ascii" : "utf-8";
}

namespace {

// A text part in UTF-8 (us-ascii when it is plain ASCII), quoted-printable.
GMimeObject *textPartOf(const char *subtype, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    GMimeTextPart *part = g_mime_text_part_new_with_subtype(subtype);
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), static_cast<size_t>(bytes.size())));
    GPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(GMIME_PART(part), wrapper.get());
    g_mime_text_part_set_charset(part, textCharset(bytes) == "us-ascii" ? "us-ascii" : "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(part), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);
    return GMIME_OBJECT(part);
}

GMimeObject *filePart(const AttachmentData &a)
{
    const QByteArray type = a.mimeType.toUtf8();
    const qsizetype slash = type.indexOf('/');
    GMimePart *part = g_mime_part_new_with_type(slash > 0 ? type.left(slash).constData() : "application",
                                                slash > 0 ? type.mid(slash + 1).constData() : "octet-stream");
    if (!a.charset.isEmpty())
        g_mime_object_set_content_type_parameter(GMIME_OBJECT(part), "charset", a.charset.constData());
    // Handed over encoded: the same picture in 10,000 messages is encoded once.
    const QByteArray encoded = a.base64.isEmpty() ? base64Lines(a.content) : a.base64;
    GPtr<GMimeStream> content(
        g_mime_stream_mem_new_with_buffer(encoded.constData(), static_cast<size_t>(encoded.size())));
    GPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(content.get(), GMIME_CONTENT_ENCODING_BASE64));
    g_mime_part_set_content(part, wrapper.get());
    g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
    g_mime_part_set_filename(part, utf8(a.fileName).constData());
    return GMIME_OBJECT(part);
}

// The path a reference names, links resolved; empty when there is no such file.
QString canonical(const QString &path)
{
    return QFileInfo(path).canonicalFilePath();
}

} // namespace

QByteArray compose(const MessageFields &fields)
{
    initialise();
    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    GMimeObject *root = GMIME_OBJECT(message.get());
    if (!fields.from.isEmpty())
        addRecipients(message.get(), GMIME_ADDRESS_TYPE_FROM, fields.from);
    addRecipients(message.get(), GMIME_ADDRESS_TYPE_TO, fields.to);
    addRecipients(message.get(), GMIME_ADDRESS_TYPE_CC, fields.cc);
    addRecipients(message.get(), GMIME_ADDRESS_TYPE_BCC, fields.bcc);
    g_mime_message_set_subject(message.get(), utf8(fields.subject).constData(), "utf-8");
    GDateTime *now = g_date_time_new_now_local();
    g_mime_message_set_date(message.get(), now);
    g_date_time_unref(now);
    static const QByteArray host = QSysInfo::machineHostName().toUtf8(); // asked once, not per message
    char *id = g_mime_utils_generate_message_id(host.constData());
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);
    if (fields.deferredDelivery.isValid())
        g_mime_object_set_header(root, "Deferred-Delivery", rfc2822(fields.deferredDelivery).toUtf8().constData(),
                                 nullptr);
    g_mime_object_set_header(root, "X-Mailer", "Cheerpost " CHEERPOST_VERSION, nullptr);

    // The body. Each picture the HTML names by a local file and that was
    // attached goes inline, once, however often the HTML names it.
    const qsizetype count = fields.attachments.size();
    const QString messageKey = QUuid::createUuid().toString(QUuid::Id128); // makes each Content-ID unique
    std::vector<QByteArray> contentIds(static_cast<size_t>(count));
    GPtr<GMimeObject> body;
    if (fields.bodyFormat == 2) {
        // A run sends one body to many: it is made safe once, with a stand-in
        // for the message's own key, and each message puts its key in. A run
        // that personalises its messages (a salutation) sends bodies that
        // differ in one stretch of plain text: the body around that slot is
        // made safe once, and each message's text goes into the slot.
        struct Slot {
            QString prefix, suffix; // of the bodies around it; null: no slot known
            QString html;           // prefix + kSlot + suffix made safe
            std::vector<bool> shown;
        };
        struct Rewritten {
            QString body;
            QStringList pictures; // the attachments' files and types it was made for
            QString html;         // with kStandInKey in each Content-ID
            std::vector<bool> shown;
            Slot slot;
        };
        static const QString kStandInKey = QUuid::createUuid().toString(QUuid::Id128);
        static const QString kSlot = QStringLiteral("cheerpostslot") + QUuid::createUuid().toString(QUuid::Id128);
        thread_local Rewritten last;
        QStringList pictures;
        for (const AttachmentData &a : fields.attachments)
            pictures << a.sourcePath << a.mimeType;
        const auto makeSafe = [&](const QString &html, std::vector<bool> *shown) {
            *shown = std::vector<bool>(static_cast<size_t>(count), false);
            return rewriteLocalReferences(html, [&](const QString &path) {
                // The attachments know their files by canonical path; most
                // references already are one, so the file system is asked only
                // when none matches as written.
                auto attachedAs = [&](const QString &file) {
                    for (qsizetype i = 0; i < count; ++i) {
                        const AttachmentData &a = fields.attachments.at(i);
                        if (a.sourcePath == file && a.mimeType.startsWith(QLatin1String("image/")))
                            return i;
                    }
                    return qsizetype(-1);
                };
                qsizetype i = attachedAs(path);
                if (i < 0)
                    i = attachedAs(canonical(path));
                if (i < 0)
                    return QString();
                (*shown)[static_cast<size_t>(i)] = true;
                return QStringLiteral("cid:picture%1.%2@cheerpost").arg(i + 1).arg(kStandInKey);
            });
        };
        const bool samePictures = !last.body.isNull() && last.pictures == pictures;
        QString html;
        const std::vector<bool> *shown = &last.shown;
        const Slot &slot = last.slot;
        if (samePictures && last.body == fields.body) {
            html = last.html;
        } else if (const qsizetype middle = fields.body.size() - slot.prefix.size() - slot.suffix.size();
                   samePictures && !slot.prefix.isNull() && middle >= 0 && fields.body.startsWith(slot.prefix) &&
                   fields.body.endsWith(slot.suffix) &&
                   isSlotText(QStringView(fields.body).mid(slot.prefix.size(), middle))) {
            html = QString(slot.html).replace(kSlot, fields.body.mid(slot.prefix.size(), middle));
            shown = &slot.shown;
        } else {
            Rewritten next{fields.body, pictures, {}, {}, {}};
            next.html = makeSafe(fields.body, &next.shown);
            // Two bodies in a row that differ in plain text only: the slot.
            // A body that fitted no slot (a name with markup in it) keeps the one known.
            if (samePictures) {
                next.slot = last.slot;
                if (const auto [prefix, suffix] = slotAround(last.body, fields.body); !prefix.isNull()) {
                    Slot found{prefix, suffix, {}, {}};
                    found.html = makeSafe(prefix + kSlot + suffix, &found.shown);
                    if (found.html.count(kSlot) == 1)
                        next.slot = std::move(found);
                }
            }
            last = std::move(next);
            html = last.html;
        }
        for (qsizetype i = 0; i < count; ++i) {
            if ((*shown)[static_cast<size_t>(i)])
                contentIds[static_cast<size_t>(i)] =
                    QStringLiteral("picture%1.%2@cheerpost").arg(i + 1).arg(messageKey).toLatin1();
        }
        html.replace(kStandInKey, messageKey);
        GPtr<GMimeMultipart> alternative(g_mime_multipart_new_with_subtype("alternative"));
        GPtr<GMimeObject> plain(textPartOf("plain", plainTextFromHtml(html)));
        GPtr<GMimeObject> rich(textPartOf("html", html));
        g_mime_multipart_add(alternative.get(), plain.get());
        g_mime_multipart_add(alternative.get(), rich.get());
        body.reset(GMIME_OBJECT(alternative.release()));
        if (std::any_of(contentIds.begin(), contentIds.end(), [](const QByteArray &c) { return !c.isEmpty(); })) {
            GPtr<GMimeMultipart> related(g_mime_multipart_new_with_subtype("related"));
            g_mime_object_set_content_type_parameter(GMIME_OBJECT(related.get()), "type", "multipart/alternative");
            g_mime_multipart_add(related.get(), body.get());
            for (qsizetype i = 0; i < count; ++i) {
                if (contentIds[static_cast<size_t>(i)].isEmpty())
                    continue;
                GPtr<GMimeObject> picture(filePart(fields.attachments.at(i)));
                g_mime_object_set_disposition(picture.get(), "inline");
                g_mime_object_set_content_id(picture.get(), contentIds[static_cast<size_t>(i)].constData());
                g_mime_multipart_add(related.get(), picture.get());
            }
            body.reset(GMIME_OBJECT(related.release()));
        }
    } else {
        body.reset(textPartOf("plain", fields.body));
    }

    if (std::all_of(contentIds.begin(), contentIds.end(), [](const QByteArray &c) { return !c.isEmpty(); })) {
        g_mime_message_set_mime_part(message.get(), body.get());
    } else {
        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), body.get());
        for (qsizetype i = 0; i < count; ++i) {
            if (!contentIds[static_cast<size_t>(i)].isEmpty())
                continue;
            GPtr<GMimeObject> part(filePart(fields.attachments.at(i)));
            g_mime_object_set_disposition(part.get(), "attachment");
            g_mime_multipart_add(mixed.get(), part.get());
        }
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }
    return serialise(root);
}

QString headerText(const QByteArray &message, const char *header)
{
    return QueuedMessage(message).header(header);
}

namespace {

// The first part of the message of type text/subtype, or null.
GMimeTextPart *findTextPart(GMimeMessage *m, const char *subtype)
{
    GMimeTextPart *found = nullptr;
    const std::unique_ptr<GMimePartIter, void (*)(GMimePartIter *)> iter(g_mime_part_iter_new(GMIME_OBJECT(m)),
                                                                         g_mime_part_iter_free);
    do {
        GMimeObject *part = g_mime_part_iter_get_current(iter.get());
        if (part && GMIME_IS_TEXT_PART(part) &&
            g_mime_content_type_is_type(g_mime_object_get_content_type(part), "text", subtype)) {
            found = GMIME_TEXT_PART(part);
            break;
        }
    } while (g_mime_part_iter_next(iter.get()));
    return found;
}

QString decodedText(GMimeTextPart *part)
{
    if (!part)
        return {};
    char *text = g_mime_text_part_get_text(part);
    const QString out = QString::fromUtf8(text);
    g_free(text);
    return out;
}

} // namespace

QString textPart(const QByteArray &message, const char *subtype)
{
    GPtr<GMimeMessage> m(parse(message));
    return decodedText(findTextPart(m.get(), subtype));
}

QString bodyText(const QByteArray &message)
{
    GPtr<GMimeMessage> m(parse(message));
    GMimeTextPart *html = findTextPart(m.get(), "html");
    return decodedText(html ? html : findTextPart(m.get(), "*"));
}

struct QueuedMessage::Parsed {
    GPtr<GMimeMessage> message;
};

QueuedMessage::QueuedMessage(const QByteArray &message)
    : m_parsed(std::make_unique<Parsed>(Parsed{GPtr<GMimeMessage>(parse(message))}))
{
}

QueuedMessage::~QueuedMessage() = default;

QString QueuedMessage::header(const char *name) const
{
    const char *v = g_mime_object_get_header(GMIME_OBJECT(m_parsed->message.get()), name);
    return v ? QString::fromUtf8(v) : QString();
}

QDateTime QueuedMessage::deferredDelivery() const
{
    const QString v = header("Deferred-Delivery").trimmed();
    if (v.isEmpty())
        return {};
    return QDateTime::fromString(v, Qt::RFC2822Date);
}

QDateTime deferredDelivery(const QByteArray &message)
{
    return QueuedMessage(message).deferredDelivery();
}

Outgoing prepareForDelivery(const QByteArray &message, const GroupResolver &resolver)
{
    return QueuedMessage(message).prepare(resolver);
}

Outgoing QueuedMessage::prepare(const GroupResolver &resolver)
{
    GPtr<GMimeMessage> &m = m_parsed->message;
    Outgoing out;
    InternetAddressList *bcc = g_mime_message_get_addresses(m.get(), GMIME_ADDRESS_TYPE_BCC);
    QStringList hidden; // members of private lists, added to Bcc at the end
    auto addMailbox = [](InternetAddressList *list, int at, const QString &address) {
        GPtr<InternetAddress> box(internet_address_mailbox_new(nullptr, headerSafe(address).toUtf8().constData()));
        internet_address_list_insert(list, at, box.get());
    };
    for (GMimeAddressType type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC}) {
        InternetAddressList *list = g_mime_message_get_addresses(m.get(), type);
        for (int i = internet_address_list_length(list) - 1; i >= 0; --i) {
            InternetAddress *ia = internet_address_list_get_address(list, i);
            if (!INTERNET_ADDRESS_IS_GROUP(ia))
                continue;
            InternetAddressList *members = internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia));
            if (members && internet_address_list_length(members) > 0)
                continue;
            const char *name = internet_address_get_name(ia);
            const QString listName = QString::fromUtf8(name ? name : "");
            const ListMembers found = resolver(listName);
            if (found.addresses.isEmpty()) {
                out.unknownGroups.append(listName);
            } else if (found.hidden) {
                hidden.append(found.addresses);
            } else {
                internet_address_list_remove_at(list, i);
                int at = i;
                for (const QString &a : found.addresses)
                    addMailbox(list, at++, a);
            }
        }
    }
    for (const QString &a : std::as_const(hidden))
        addMailbox(bcc, internet_address_list_length(bcc), a);
    g_mime_object_remove_header(GMIME_OBJECT(m.get()), "Deferred-Delivery");
    // An address no envelope can carry is taken out of the header too, so the
    // delivery command (which reads the header) and the account agree.
    for (GMimeAddressType type : {GMIME_ADDRESS_TYPE_TO, GMIME_ADDRESS_TYPE_CC, GMIME_ADDRESS_TYPE_BCC}) {
        InternetAddressList *list = g_mime_message_get_addresses(m.get(), type);
        QStringList kept;
        for (int i = internet_address_list_length(list) - 1; i >= 0; --i) {
            InternetAddress *ia = internet_address_list_get_address(list, i);
            if (!INTERNET_ADDRESS_IS_MAILBOX(ia))
                continue;
            const QString address = QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)));
            if (isEnvelopeAddress(address)) {
                kept.prepend(address);
            } else {
                out.badAddresses.prepend(headerSafe(address).simplified());
                internet_address_list_remove_at(list, i);
            }
        }
        out.recipients += kept;
    }
    if (InternetAddressList *from = g_mime_message_get_from(m.get())) {
        for (int i = 0; i < internet_address_list_length(from) && out.sender.isEmpty(); ++i) {
            InternetAddress *ia = internet_address_list_get_address(from, i);
            if (INTERNET_ADDRESS_IS_MAILBOX(ia))
                out.sender = QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)));
        }
    }
    out.message = serialise(GMIME_OBJECT(m.get()));
    return out;
}

} // namespace hostmail::mime

namespace hostmail::mime {

Mailbox mailbox(const QString &line)
{
    initialise();
    GPtr<InternetAddressList> parsed(internet_address_list_parse(nullptr, headerSafe(line).toUtf8().constData()));
    if (!parsed || internet_address_list_length(parsed.get()) != 1)
        return {};
    InternetAddress *ia = internet_address_list_get_address(parsed.get(), 0);
    if (!INTERNET_ADDRESS_IS_MAILBOX(ia))
        return {};
    const QString address = QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia)));
    if (!isEnvelopeAddress(address))
        return {};
    char *text = internet_address_list_to_string(parsed.get(), nullptr, TRUE);
    Mailbox m{address, QByteArray(text)};
    g_free(text);
    return m;
}

bool isEnvelopeAddress(const QString &address)
{
    if (address.isEmpty() || address.size() > 254) // RFC 5321's longest path, less its brackets
        return false;
    bool quoted = false;
    for (const QChar c : address) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7f || (u >= 0x80 && u < 0xa0) || c == QLatin1Char('<') || c == QLatin1Char('>'))
            return false;
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char(' '))
            return false;
    }
    return !quoted;
}

namespace {

// Where the header ends: the index of its empty line's first byte (past the
// last header line's end), or the message's size when it has no body.
qsizetype headerEnd(const QByteArray &message)
{
    qsizetype at = 0;
    while (at < message.size()) {
        const qsizetype eol = message.indexOf('\n', at);
        const qsizetype end = eol < 0 ? message.size() : eol;
        const qsizetype length = end - at - (end > at && message.at(end - 1) == '\r' ? 1 : 0);
        if (length == 0)
            return at;
        at = eol < 0 ? message.size() : eol + 1;
    }
    return message.size();
}

// Every line ended by CRLF (a bare LF or a bare CR ends a line too); the
// longest line's length, without its CRLF, in longest.
QByteArray crlfLines(const QByteArray &message, qsizetype *longest)
{
    QByteArray out;
    out.reserve(message.size() + message.size() / 40 + 2);
    qsizetype line = 0;
    *longest = 0;
    for (qsizetype i = 0; i < message.size(); ++i) {
        const char c = message.at(i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < message.size() && message.at(i + 1) == '\n')
                ++i;
            out.append("\r\n", 2);
            *longest = qMax(*longest, line);
            line = 0;
        } else {
            out.append(c);
            ++line;
        }
    }
    if (line > 0) {
        out.append("\r\n", 2);
        *longest = qMax(*longest, line);
    }
    return out;
}

constexpr qsizetype kMaxLine = 998; // RFC 5321 4.5.3.1.6, without the CRLF

// Folds header lines longer than the limit at a blank, as RFC 5322 allows
// (the fold is taken out again by every reader); the body is left alone.
QByteArray foldLongHeaders(const QByteArray &crlfMessage)
{
    const qsizetype end = headerEnd(crlfMessage);
    QByteArray head;
    for (const QByteArray &line : crlfMessage.left(end).split('\n')) {
        QByteArray rest = line.endsWith('\r') ? line.chopped(1) : line;
        if (rest.isEmpty())
            continue;
        while (rest.size() > kMaxLine) {
            qsizetype cut = rest.lastIndexOf(' ', kMaxLine);
            const qsizetype tab = rest.lastIndexOf('\t', kMaxLine);
            cut = qMax(cut, tab);
            if (cut <= 0)
                break; // no blank to fold at: the caller refuses the message
            head.append(rest.left(cut)).append("\r\n");
            rest = rest.mid(cut); // the blank begins the continuation line
        }
        head.append(rest).append("\r\n");
    }
    return head + crlfMessage.mid(end);
}

// The line end the message's first line uses, for a header put beside it.
QByteArray lineEndOf(const QByteArray &message)
{
    const qsizetype firstEol = message.indexOf('\n');
    return firstEol > 0 && message.at(firstEol - 1) == '\r' ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
}

} // namespace

QByteArray withSender(const QByteArray &message, const QByteArray &from)
{
    if (from.isEmpty())
        return message;
    const qsizetype end = headerEnd(message);
    qsizetype at = 0;
    while (at < end) {
        if (end - at >= 5 && qstrnicmp(message.constData() + at, "from:", 5) == 0)
            return message;
        const qsizetype next = message.indexOf('\n', at);
        at = next < 0 || next >= end ? end : next + 1;
    }
    const QByteArray eol = lineEndOf(message);
    QByteArray folded = from;
    folded.replace("\r\n", "\n").replace('\n', eol); // a long name comes folded
    return "From: " + folded + eol + message;
}

QByteArray withDate(const QByteArray &message, const QDateTime &when)
{
    const qsizetype end = headerEnd(message);
    const QByteArray eol = lineEndOf(message);
    // With the day of the week, as every mail program writes it.
    const QByteArray date =
        "Date: " + (QLocale::c().toString(when, QStringLiteral("ddd, ")) + when.toString(Qt::RFC2822Date)).toLatin1() +
        eol;
    QByteArray out;
    out.reserve(message.size() + date.size());
    bool placed = false, dropping = false;
    qsizetype at = 0;
    while (at < end) {
        qsizetype next = message.indexOf('\n', at);
        next = next < 0 || next >= end ? end : next + 1;
        const QByteArray line = message.mid(at, next - at);
        const bool continuation = line.startsWith(' ') || line.startsWith('\t');
        if (!continuation)
            dropping = line.size() >= 5 && qstrnicmp(line.constData(), "date:", 5) == 0;
        if (dropping) {
            if (!placed)
                out.append(date);
            placed = true;
        } else {
            out.append(line);
        }
        at = next;
    }
    if (!placed)
        out.prepend(date);
    return out + message.mid(end);
}

QByteArray forTransport(const QByteArray &message)
{
    qsizetype longest = 0;
    QByteArray out = crlfLines(message, &longest);
    if (longest <= kMaxLine)
        return out;
    // A part with long lines goes in an encoding whose lines are short.
    GPtr<GMimeMessage> parsed(parse(message));
    g_mime_object_encode(GMIME_OBJECT(parsed.get()), GMIME_ENCODING_CONSTRAINT_7BIT);
    out = crlfLines(foldLongHeaders(crlfLines(serialise(GMIME_OBJECT(parsed.get())), &longest)), &longest);
    if (longest > kMaxLine)
        throw HostError(QStringLiteral("The message has a line of %1 octets that cannot be folded; a mail server "
                                       "takes at most 998")
                            .arg(longest));
    return out;
}

} // namespace hostmail::mime
