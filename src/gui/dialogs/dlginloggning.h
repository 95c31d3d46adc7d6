#pragma once

#include "dialogs/dlgmessage.h"

class CMessenger;
class QLineEdit;

// Asks for the name of the operator who starts the monitor. Left alone, it
// logs in as "Monitor standard" so that an unattended restart still comes up.
class CDlgInloggning : public CSelfClosingDialog {
    Q_OBJECT
public:
    static constexpr int kShortestName = 3;

    explicit CDlgInloggning(CMessenger& messenger, QWidget* parent = nullptr,
                            int closeAfterMs = kCloseAfterMs);

    // The name as typed when OK was accepted.
    QString Name() const { return m_strName; }

protected:
    void OnCloseTimer() override;

private:
    void OnOk();
    // Closes every modal box opened above this dialog, the topmost first.
    void CloseBoxesAbove();

    CMessenger& m_messenger;
    QLineEdit* m_name;
    QString m_strName;
};
