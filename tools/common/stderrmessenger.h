#pragma once

#include "app/messenger.h"

#include <QString>
#include <cstdio>

// A console tool has no window: whatever the operator should read goes to standard error.
inline void PrintError(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
}

class CStderrMessenger : public CMessenger {
public:
    void ShowMessage(const QString& text) override { PrintError(text); }
    void ShowWarning(const QString& text) override { PrintError(text); }
    // Nobody answers at a terminal; every question is declined.
    bool AskYesNo(const QString& text) override {
        PrintError(text);
        return false;
    }
};
