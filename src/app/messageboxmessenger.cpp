#include "messageboxmessenger.h"

#include <QMessageBox>
#include <QPushButton>

void CMessageBoxMessenger::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("KvarnixMonitor"), text, QMessageBox::Ok,
                    m_parent);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}
