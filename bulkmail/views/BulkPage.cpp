#include "bulkmail/views/BulkPage.h"

#include "bulkmail/core/BulkRun.h"
#include "greetings/views/PanelRules.h"
#include "templates/views/TemplateEditor.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace bulkmail {

template <typename T> T *BulkPage::control(const char *name) const
{
    return greetings::pageControl<T>(m_page, name);
}

BulkPage::BulkPage(QWidget *page, shell::Prompter &prompter, shell::ApplicationFactory openHost,
                   templates::TemplateEditor &bulkEditor)
    : QObject(page), m_page(page), m_prompter(prompter), m_openHost(std::move(openHost)), m_editor(bulkEditor)
{
    auto recipient = [this](const char *option, bool list, bool category, bool bcc) {
        connect(control<QRadioButton>(option), &QRadioButton::toggled, this, [=, this](bool on) {
            if (!on)
                return;
            control<QLineEdit>("TxtDistList")->setEnabled(list);
            control<QLineEdit>("TxtCategory")->setEnabled(category);
            control<QCheckBox>("ChkBCC1")->setChecked(bcc);
        });
    };
    recipient("ToOption1", true, false, true);
    recipient("ToOption2", false, true, false);
    recipient("ToOption3", false, false, false);
    greetings::enableWithOption(this, m_page, "OptOSalStd", "TxtOSalStd", "TxtOSalCust");
    greetings::enableWithOption(this, m_page, "OptOSalCust", "TxtOSalCust", "TxtOSalStd");
    greetings::clearWhenUnchecked(this, m_page, "ChkCC1", "TxtCC1");
    connect(control<QPushButton>("BtnSendOEmails"), &QPushButton::clicked, this, &BulkPage::BtnSendOEmails_Click);
}

BulkSettings BulkPage::settings() const
{
    auto checked = [this](const char *name) { return control<QAbstractButton>(name)->isChecked(); };
    auto text = [this](const char *name) { return control<QLineEdit>(name)->text(); };
    BulkSettings s;
    s.mode = checked("ToOption1")   ? RecipientMode::DistributionList
             : checked("ToOption2") ? RecipientMode::Category
                                    : RecipientMode::AllContacts;
    s.distList = text("TxtDistList");
    s.category = text("TxtCategory");
    s.bcc = checked("ChkBCC1");
    s.cc = text("TxtCC1");
    s.subject = text("TxtSubject");
    s.salutationCustom = !checked("OptOSalStd");
    s.salutationStd = text("TxtOSalStd");
    s.salutationCust = text("TxtOSalCust");
    s.printName = checked("ChkPrntCusONm");
    s.saveDraft = checked("OptSaveDraft");
    s.sendMailOn = control<QDateEdit>("dtSendMailOn")->date();
    s.attachmentPath = text("TxtOFile");
    return s;
}

void BulkPage::BtnSendOEmails_Click()
{
    BulkRun(m_openHost, m_prompter).run(settings(), m_editor.document());
}

} // namespace bulkmail
