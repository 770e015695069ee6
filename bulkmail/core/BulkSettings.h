#pragma once

#include <QDate>
#include <QString>

namespace bulkmail {

enum class RecipientMode { DistributionList, Category, AllContacts };

// The bulk page as a run reads it.
struct BulkSettings {
    RecipientMode mode = RecipientMode::DistributionList;
    QString distList = QStringLiteral("Enter the Outlook email distribution list");
    QString category = QStringLiteral("Enter the Contact Category");
    bool bcc = false;
    QString cc;
    QString subject = QStringLiteral("Enter the Subject Line");
    bool salutationCustom = false;
    QString salutationStd = QStringLiteral("Dear");
    QString salutationCust = QStringLiteral("Enter your custom salutation");
    bool printName = false; // after a custom salutation, category mode
    bool saveDraft = false;
    QDate sendMailOn;
    QString attachmentPath;

    QString salutationText() const { return salutationCustom ? salutationCust : salutationStd; }
};

} // namespace bulkmail
