#include "bulkmail/views/BulkPage.h"

#include "bulkmail/core/BulkRun.h"
#include "common/core/Clock.h"
#include "common/views/AddressBookSyncDialog.h"
#include "common/views/Controls.h"
#include "common/views/PanelRules.h"
#include "templates/views/TemplateEditor.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace bulkmail {

using common::requireChild;

BulkPage::BulkPage(QWidget *page, common::Prompter &prompter, hostmail::ApplicationFactory openHost,
                   templates::TemplateEditor &bulkEditor)
    : QObject(page), m_prompter(prompter), m_openHost(std::move(openHost)), m_editor(bulkEditor),
      m_toList(requireChild<QRadioButton>(page, "ToOption1")),
      m_toCategory(requireChild<QRadioButton>(page, "ToOption2")),
      m_toAll(requireChild<QRadioButton>(page, "ToOption3")), m_salStd(requireChild<QRadioButton>(page, "OptOSalStd")),
      m_salCust(requireChild<QRadioButton>(page, "OptOSalCust")),
      m_saveDraft(requireChild<QRadioButton>(page, "OptSaveDraft")),
      m_distList(requireChild<QLineEdit>(page, "TxtDistList")),
      m_category(requireChild<QLineEdit>(page, "TxtCategory")), m_cc(requireChild<QLineEdit>(page, "TxtCC1")),
      m_subject(requireChild<QLineEdit>(page, "TxtSubject")), m_txtSalStd(requireChild<QLineEdit>(page, "TxtOSalStd")),
      m_txtSalCust(requireChild<QLineEdit>(page, "TxtOSalCust")), m_file(requireChild<QLineEdit>(page, "TxtOFile")),
      m_chkCC(requireChild<QCheckBox>(page, "ChkCC1")), m_bcc(requireChild<QCheckBox>(page, "ChkBCC1")),
      m_printName(requireChild<QCheckBox>(page, "ChkPrntCusONm")),
      m_sendMailOn(requireChild<QDateEdit>(page, "dtSendMailOn")),
      m_send(requireChild<QPushButton>(page, "BtnSendOEmails"))
{
    auto recipient = [this](QRadioButton *option, bool list, bool category, bool bcc) {
        connect(option, &QRadioButton::toggled, this, [=, this](bool on) {
            if (!on)
                return;
            m_distList->setEnabled(list);
            m_category->setEnabled(category);
            m_bcc->setChecked(bcc);
        });
    };
    recipient(m_toList, true, false, true);
    recipient(m_toCategory, false, true, false);
    recipient(m_toAll, false, false, false);
    common::enableWithOption(m_salStd, m_txtSalStd, m_txtSalCust);
    common::enableWithOption(m_salCust, m_txtSalCust, m_txtSalStd);
    common::clearWhenUnchecked(m_chkCC, m_cc);
    connect(m_send, &QPushButton::clicked, this, &BulkPage::BtnSendOEmails_Click);
}

BulkSettings BulkPage::settings() const
{
    BulkSettings s;
    s.mode = m_toList->isChecked()       ? RecipientMode::DistributionList
             : m_toCategory->isChecked() ? RecipientMode::Category
                                         : RecipientMode::AllContacts;
    s.distList = m_distList->text();
    s.category = m_category->text();
    s.bcc = m_bcc->isChecked();
    s.cc = m_cc->text();
    s.subject = m_subject->text();
    s.salutationCustom = !m_salStd->isChecked();
    s.salutationStd = m_txtSalStd->text();
    s.salutationCust = m_txtSalCust->text();
    s.printName = m_printName->isChecked();
    s.saveDraft = m_saveDraft->isChecked();
    s.sendMailOn = m_sendMailOn->date();
    s.attachmentPath = m_file->text();
    return s;
}

void BulkPage::BtnSendOEmails_Click()
{
    if (!common::syncContactsBeforeRun(m_send->window(), m_openHost, m_prompter))
        return;
    BulkRun run(m_openHost, m_prompter);
    run.run(settings(), m_editor.document(), common::Clock::today());
    if (run.queuedForLater())
        Q_EMIT mailQueuedForLater();
}

} // namespace bulkmail
