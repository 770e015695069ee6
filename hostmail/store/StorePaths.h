#pragma once

#include <QString>

namespace hostmail {

// Where the local mail host keeps each folder, and how it delivers mail.
// Defaults live under $XDG_DATA_HOME/cheerpost; each can be overridden in
// $XDG_CONFIG_HOME/cheerpost/host.conf (keys Contacts, Calendar, Tasks, Notes,
// Mail, DeliveryCommand, DeliveryTimeout in seconds, From).
struct StorePaths {
    QString contacts;
    QString calendar;
    QString tasks;
    QString notes;
    QString mail; // holds the Maildirs Drafts, Outbox and Sent
    QString deliveryCommand = QStringLiteral("/usr/sbin/sendmail -t -oi");
    int deliveryTimeoutSeconds = 60;
    QString from; // From: of new messages; empty leaves it to the delivery agent

    static StorePaths underRoot(const QString &root);
    static StorePaths fromConfiguration();
    static QString configurationFile();

    QString drafts() const { return mail + QLatin1String("/Drafts"); }
    QString outbox() const { return mail + QLatin1String("/Outbox"); }
    QString sent() const { return mail + QLatin1String("/Sent"); }
};

} // namespace hostmail
