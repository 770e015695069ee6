#pragma once

#include <QHash>
#include <QString>

class QAbstractButton;
class QCheckBox;
class QDateEdit;
class QLineEdit;
class QRadioButton;
class QTabWidget;
class QWidget;

namespace shell {

// The preferences of the two pages in the settings key. restore applies every
// stored value to the window's controls in the fixed order, as a user's
// change would (so the controls' handlers run); SavePrefs writes the group of
// the page that is current in SSTab1. Every control it uses is looked up when
// it is made; a missing one fails the construction.
class Preferences {
public:
    explicit Preferences(QWidget *window);

    void restore() const;
    bool SavePrefs() const; // false when a value could not be stored

private:
    QRadioButton *option(const char *name) const;
    QCheckBox *check(const char *name) const;
    QLineEdit *edit(const char *name) const;
    bool checked(const char *name) const;
    void restoreChecked(const QString &value, const char *check, const char *box) const;
    void restorePairMember(const QString &value, const char *option, const char *box) const;
    void writePair(const char *custOption, const char *stdBox, const char *custBox, const char *stdName,
                   const char *custName) const;

    QHash<QByteArray, QWidget *> m_controls;
    QTabWidget *m_pages;
    QDateEdit *m_sendMailOn;
};

} // namespace shell
