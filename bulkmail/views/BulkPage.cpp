#include "bulkmail/views/BulkPage.h"

#include "bulkmail/core/BulkRun.h"
#include "common/core/Clock.h"
#include "common/core/ShortDate.h"
#include "common/views/AddressBookSyncDialog.h"
#include "common/views/Icons.h"
#include "common/views/PanelRules.h"
#include "templates/views/TemplateEditor.h"
#include "ui_BulkPage.h"

namespace bulkmail {

BulkPage::BulkPage(common::Prompter &prompter, hostmail::ApplicationFactory openHost, templates::Dialogs &dialogs,
                   const QString &previewPath, QWidget *parent)
    : QWidget(parent), m_ui(std::make_unique<Ui::BulkPage>()), m_prompter(prompter), m_openHost(std::move(openHost))
{
    m_ui->setupUi(this);
    const Ui::BulkPage &u = *m_ui;
    m_editor = new templates::TemplateEditor(QLatin1Char('O'),
                                             {u.SSTab4, u.EditorO, u.txtSourceO, u.WbrPreviewO, u.TxtOFile, u.CmdOOpen,
                                              u.CmdOSave, u.CmdOImage, u.CmdOFont, u.CmdOAtt},
                                             prompter, dialogs, previewPath, this);

    auto recipient = [this](QRadioButton *option, bool list, bool category, bool bcc) {
        connect(option, &QRadioButton::toggled, this, [=, this](bool on) {
            if (!on)
                return;
            m_ui->TxtDistList->setEnabled(list);
            m_ui->TxtCategory->setEnabled(category);
            m_ui->ChkBCC1->setChecked(bcc);
        });
    };
    recipient(u.ToOption1, true, false, true);
    recipient(u.ToOption2, false, true, false);
    recipient(u.ToOption3, false, false, false);
    common::enableWithOption(u.OptOSalStd, u.TxtOSalStd, u.TxtOSalCust);
    common::enableWithOption(u.OptOSalCust, u.TxtOSalCust, u.TxtOSalStd);
    common::clearWhenUnchecked(u.ChkCC1, u.TxtCC1);
    connect(u.BtnSendOEmails, &QPushButton::clicked, this, &BulkPage::BtnSendOEmails_Click);
    u.BtnSendOEmails->setIcon(common::themedIcon(QStringLiteral("mail-send")));
    common::makePageTitle(u.lblTitleO);
    common::keepTextReadable({u.TxtSubject, u.TxtDistList, u.TxtCategory, u.TxtOSalStd, u.TxtOSalCust});
}

BulkPage::~BulkPage() = default;

BulkSettings BulkPage::settings() const
{
    const Ui::BulkPage &u = *m_ui;
    BulkSettings s;
    s.mode = u.ToOption1->isChecked()   ? RecipientMode::DistributionList
             : u.ToOption2->isChecked() ? RecipientMode::Category
                                        : RecipientMode::AllContacts;
    s.distList = u.TxtDistList->text();
    s.category = u.TxtCategory->text();
    s.bcc = u.ChkBCC1->isChecked();
    s.cc = u.TxtCC1->text();
    s.subject = u.TxtSubject->text();
    s.salutationCustom = !u.OptOSalStd->isChecked();
    s.salutationStd = u.TxtOSalStd->text();
    s.salutationCust = u.TxtOSalCust->text();
    s.printName = u.ChkPrntCusONm->isChecked();
    s.saveDraft = u.OptSaveDraft->isChecked();
    s.sendMailOn = u.dtSendMailOn->date();
    s.attachmentPath = u.TxtOFile->text();
    return s;
}

void BulkPage::BtnSendOEmails_Click()
{
    BulkRun run(m_openHost, m_prompter);
    run.beforeOpening = [this] { return common::syncContactsBeforeRun(window(), m_openHost, m_prompter); };
    run.run(settings(), m_editor->document(), common::Clock::today());
    if (run.queuedForLater())
        Q_EMIT mailQueuedForLater();
}

void BulkPage::restorePreferences(const common::StoredText &stored)
{
    using common::isTrueForm;
    const Ui::BulkPage &u = *m_ui;
    if (isTrueForm(stored("SendAuto"), "TRUE"))
        u.OptSendAuto->setChecked(true);
    if (isTrueForm(stored("SaveDraft"), "TRUE"))
        u.OptSaveDraft->setChecked(true);
    common::restoreChecked(stored("CC1"), u.ChkCC1, u.TxtCC1);
    u.ChkBCC1->setChecked(stored("BCC1") == QLatin1String("1"));
    if (const QString subject = stored("OSubj"); !subject.isEmpty())
        u.TxtSubject->setText(subject);
    common::restorePairMember(stored("OSalStd"), u.OptOSalStd, u.TxtOSalStd);
    common::restorePairMember(stored("OSalCust"), u.OptOSalCust, u.TxtOSalCust);
    if (isTrueForm(stored("ToOpt1"), "True")) {
        u.ToOption1->setChecked(true);
        u.TxtDistList->setText(stored("DistList"));
    }
    if (isTrueForm(stored("ToOpt2"), "True")) {
        u.ToOption2->setChecked(true);
        u.TxtCategory->setText(stored("Category"));
    }
    if (isTrueForm(stored("ToOpt3"), "True"))
        u.ToOption3->setChecked(true);
    u.dtSendMailOn->setDate(common::Clock::today());
    u.ChkPrntCusONm->setChecked(stored("PrintCustOName") == QLatin1String("1"));
}

common::PreferenceList BulkPage::preferences() const
{
    using common::flagText;
    const Ui::BulkPage &u = *m_ui;
    common::PreferenceList p;
    p.append({"SendAuto", flagText(u.OptSendAuto->isChecked(), "TRUE", "FALSE")});
    p.append({"SaveDraft", flagText(u.OptSaveDraft->isChecked(), "TRUE", "FALSE")});
    p.append({"CC1", u.TxtCC1->text()});
    p.append({"OSubj", u.TxtSubject->text()});
    common::appendPair(p, u.OptOSalCust, u.TxtOSalStd, u.TxtOSalCust, "OSalStd", "OSalCust");
    p.append({"ToOpt1", flagText(u.ToOption1->isChecked(), "True", "False")});
    p.append({"ToOpt2", flagText(u.ToOption2->isChecked(), "True", "False")});
    p.append({"ToOpt3", flagText(u.ToOption3->isChecked(), "True", "False")});
    p.append({"DistList", u.TxtDistList->text()});
    p.append({"Category", u.TxtCategory->text()});
    p.append({"BCC1", flagText(u.ChkBCC1->isChecked(), "1", "0")});
    p.append({"SendMailOn", common::dateText(u.dtSendMailOn->date())});
    p.append({"PrintCustOName", flagText(u.ChkPrntCusONm->isChecked(), "1", "0")});
    return p;
}

} // namespace bulkmail
