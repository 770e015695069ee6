#pragma once

#include <QString>

namespace hostmail {

// Where the local mail host keeps each folder, and how it delivers mail.
// Defaults live under $XDG_DATA_HOME/cheerpost; each can be overridden in
// $XDG_CONFIG_HOME/cheerpost/host.conf (keys Contacts, Calendar, Tasks, Notes,
// Mail, State, DeliveryCommand, DeliveryTimeout in seconds, From, DeliveryAgent).
struct StorePaths {
    QString contacts;
    QString calendar;
    QString tasks;
    QString notes;
    QString mail; // holds the Maildirs Drafts, Outbox and Sent
    // What the program keeps for itself: run logs, sync state. Default
    // $XDG_STATE_HOME/cheerpost (key State).
    QString state;
    QString deliveryCommand = QStringLiteral("/usr/sbin/sendmail -t -oi");
    int deliveryTimeoutSeconds = 60; // kept within 1 s and 1 h
    QString from;                    // From: of new messages; empty leaves it to the delivery agent
    // The program that delivers what is due (cheerpost-deliver), started
    // detached after a command queued mail; empty starts none.
    QString deliveryAgent;

    static constexpr int kMinTimeoutSeconds = 1;
    static constexpr int kMaxTimeoutSeconds = 3600;

    static StorePaths underRoot(const QString &root);
    static StorePaths fromConfiguration();
    static QString configurationFile();

    QString drafts() const { return mail + QLatin1String("/Drafts"); }
    QString outbox() const { return mail + QLatin1String("/Outbox"); }
    QString sent() const { return mail + QLatin1String("/Sent"); }
    // Beside the Maildirs: what each failed delivery attempt said.
    QString deliveryLog() const { return mail + QLatin1String("/delivery.log"); }
};

} // namespace hostmail
