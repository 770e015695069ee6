#include "hostmail/mime/MimeMessage.h"

#include "hostmail/HostError.h"

#include <QSysInfo>

#include <gmime/gmime.h>

#include <mutex>

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

    GPtr<GMimeTextPart> body(g_mime_text_part_new_with_subtype(fields.bodyFormat == 2 ? "html" : "plain"));
    g_mime_text_part_set_text(body.get(), fields.body.toUtf8().constData());
    g_mime_part_set_content_encoding(GMIME_PART(body.get()), GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE);

    if (fields.attachments.isEmpty()) {
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(body.get()));
    } else {
        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(body.get()));
        for (const AttachmentData &a : fields.attachments) {
            const QByteArray type = a.mimeType.toUtf8();
            const qsizetype slash = type.indexOf('/');
            GPtr<GMimePart> part(
                g_mime_part_new_with_type(slash > 0 ? type.left(slash).constData() : "application",
                                          slash > 0 ? type.mid(slash + 1).constData() : "octet-stream"));
            // Handed over encoded: the same picture in 10,000 messages is encoded once.
            const QByteArray encoded = a.base64.isEmpty() ? base64Lines(a.content) : a.base64;
            GPtr<GMimeStream> content(
                g_mime_stream_mem_new_with_buffer(encoded.constData(), static_cast<size_t>(encoded.size())));
            GPtr<GMimeDataWrapper> wrapper(
                g_mime_data_wrapper_new_with_stream(content.get(), GMIME_CONTENT_ENCODING_BASE64));
            g_mime_part_set_content(part.get(), wrapper.get());
            g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
            g_mime_object_set_disposition(GMIME_OBJECT(part.get()), "attachment");
            g_mime_part_set_filename(part.get(), utf8(a.fileName).constData());
            g_mime_multipart_add(mixed.get(), GMIME_OBJECT(part.get()));
        }
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }
    return serialise(root);
}

QString headerText(const QByteArray &message, const char *header)
{
    GPtr<GMimeMessage> m(parse(message));
    const char *v = g_mime_object_get_header(GMIME_OBJECT(m.get()), header);
    return v ? QString::fromUtf8(v) : QString();
}

QString bodyText(const QByteArray &message)
{
    GPtr<GMimeMessage> m(parse(message));
    GMimeObject *part = g_mime_message_get_body(m.get());
    if (!part || !GMIME_IS_TEXT_PART(part))
        return {};
    char *text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
    const QString out = QString::fromUtf8(text);
    g_free(text);
    return out;
}

QDateTime deferredDelivery(const QByteArray &message)
{
    const QString v = headerText(message, "Deferred-Delivery").trimmed();
    if (v.isEmpty())
        return {};
    return QDateTime::fromString(v, Qt::RFC2822Date);
}

QByteArray expandGroups(const QByteArray &message, const GroupResolver &resolver)
{
    GPtr<GMimeMessage> m(parse(message));
    bool changed = false;
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
            const QStringList addresses = resolver(QString::fromUtf8(name ? name : ""));
            if (addresses.isEmpty())
                continue;
            internet_address_list_remove_at(list, i);
            int at = i;
            for (const QString &a : addresses) {
                GPtr<InternetAddress> box(internet_address_mailbox_new(nullptr, headerSafe(a).toUtf8().constData()));
                internet_address_list_insert(list, at++, box.get());
            }
            changed = true;
        }
    }
    return changed ? serialise(GMIME_OBJECT(m.get())) : message;
}

} // namespace hostmail::mime
