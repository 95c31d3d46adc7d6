#pragma once

#include "base/messenger.h"

#include <QMessageBox>

class QWidget;

// Shows the core's messages in modal message boxes with Swedish buttons.
class CMessageBoxMessenger : public CMessenger {
public:
    void ShowMessage(const QString& text) override;
    void ShowWarning(const QString& text) override;
    bool AskYesNo(const QString& text) override;
    // The window the boxes are centred on; none before the main window exists.
    void SetParentWindow(QWidget* parent) { m_parent = parent; }

private:
    void Show(QMessageBox::Icon icon, const QString& text);

    QWidget* m_parent = nullptr;
};
