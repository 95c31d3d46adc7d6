#include "dialogs/dlginloggning.h"

#include "base/messenger.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Characters as typed: blanks count and a letter outside the basic plane is one.
qsizetype CharacterCount(const QString& text) {
    return text.toUcs4().size();
}

} // namespace

CDlgInloggning::CDlgInloggning(CMessenger& messenger, QWidget* parent, int closeAfterMs)
    : CSelfClosingDialog(closeAfterMs, parent), m_messenger(messenger),
      m_name(new QLineEdit(this)) {
    setWindowTitle(QStringLiteral("Inloggning"));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Avbryt"), this);
    auto* label = new QLabel(QStringLiteral("Ange namn"), this);
    label->setBuddy(m_name);
    m_name->setMinimumWidth(180);
    connect(ok, &QPushButton::clicked, this, &CDlgInloggning::OnOk);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(m_name, 1, 0);
    layout->addWidget(ok, 0, 1);
    layout->addWidget(cancel, 1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(ok, cancel);
    setTabOrder(cancel, m_name);
    ok->setFocus();
}

void CDlgInloggning::OnOk() {
    m_strName = m_name->text();
    if (CharacterCount(m_strName) < kShortestName) {
        m_messenger.ShowMessage(QStringLiteral("Ange minst tre tecken"));
        return;
    }
    accept();
}

// Whatever has been typed gives way to the standard name. A box still open
// above the dialog, such as the refusal of a short name, would hold the
// unattended start until someone clicked it, so it goes first.
void CDlgInloggning::OnCloseTimer() {
    CloseBoxesAbove();
    m_name->setText(QStringLiteral("Monitor standard"));
    OnOk();
}

void CDlgInloggning::CloseBoxesAbove() {
    for (QWidget* top = QApplication::activeModalWidget(); top && top != this;
         top = QApplication::activeModalWidget()) {
        auto* box = qobject_cast<QDialog*>(top);
        if (!box)
            return;
        box->reject();
        // A box that refuses to close must not keep this loop going.
        if (box->isVisible())
            return;
    }
}
