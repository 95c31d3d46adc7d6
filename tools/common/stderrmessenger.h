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
};
