#pragma once

#include <QString>

// How the core and the dialogs reach the operator. The gui shows modal message
// boxes with Swedish buttons; tests record the texts and give the answers.
class CMessenger {
public:
    virtual ~CMessenger() = default;
    // A message box with an OK button.
    virtual void ShowMessage(const QString& text) = 0;
    // The same with a warning icon, for a file that is missing.
    virtual void ShowWarning(const QString& text) = 0;
    // A question with the buttons "Ja" and "Nej"; true for "Ja".
    virtual bool AskYesNo(const QString& text) = 0;
};
