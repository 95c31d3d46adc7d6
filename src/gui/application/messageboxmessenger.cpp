#include "application/messageboxmessenger.h"

#include <QPushButton>

namespace {
const QString kTitle = QStringLiteral("KvarnixMonitor");
}

void CMessageBoxMessenger::ShowMessage(const QString& text) {
    Show(QMessageBox::NoIcon, text);
}

void CMessageBoxMessenger::ShowWarning(const QString& text) {
    Show(QMessageBox::Warning, text);
}

bool CMessageBoxMessenger::AskYesNo(const QString& text) {
    QMessageBox box(QMessageBox::Question, kTitle, text, QMessageBox::Yes | QMessageBox::No,
                    m_parent);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Ja"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Nej"));
    return box.exec() == QMessageBox::Yes;
}

void CMessageBoxMessenger::Show(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box(icon, kTitle, text, QMessageBox::Ok, m_parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}
