#include "dialogs/dlgmessage.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

CSelfClosingDialog::CSelfClosingDialog(int closeAfterMs, QWidget* parent) : QDialog(parent) {
    m_closeTimer.setSingleShot(true);
    m_closeTimer.setInterval(closeAfterMs);
    connect(&m_closeTimer, &QTimer::timeout, this, [this] { OnCloseTimer(); });
}

void CSelfClosingDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_closeTimer.start();
}

// A timer left running would otherwise decide the result of a dialog that has
// already been answered.
void CSelfClosingDialog::done(int result) {
    m_closeTimer.stop();
    QDialog::done(result);
}

CDlgMessage::CDlgMessage(const QString& text, QWidget* parent, int closeAfterMs)
    : CSelfClosingDialog(closeAfterMs, parent) {
    setWindowTitle(QStringLiteral("KvarnixMonitor"));

    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
    auto* message = new QLabel(text, this);
    message->setObjectName(QStringLiteral("messageText"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->addWidget(icon, 0, 0, Qt::AlignTop);
    layout->addWidget(message, 0, 1);
    layout->addWidget(ok, 1, 0, 1, 2, Qt::AlignHCenter);
    layout->setColumnStretch(1, 1);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CDlgMessage::OnCloseTimer() {
    accept();
}
