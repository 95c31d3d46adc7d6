#pragma once

#include <QString>

// How the core reaches the operator. The gui shows message boxes; tests record.
class CMessenger {
public:
    virtual ~CMessenger() = default;
    // A message box with an OK button.
    virtual void ShowMessage(const QString& text) = 0;
};
