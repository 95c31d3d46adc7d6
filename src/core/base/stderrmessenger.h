#pragma once

#include "base/messenger.h"

#include <QString>
#include <QStringList>
#include <cstdio>

// A program without a window writes what the operator should read to standard error.
inline void PrintError(const QString& text) {
    std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
}

// Messages written one a line, so that a journal keeps each one whole: a message whose
// parts stand on lines of their own in a box has them joined by a blank here.
class CStderrMessenger : public CMessenger {
public:
    void ShowMessage(const QString& text) override { PrintError(OneLine(text)); }
    void ShowWarning(const QString& text) override { PrintError(OneLine(text)); }
    // Nobody answers at a terminal or in a journal; every question is declined.
    bool AskYesNo(const QString& text) override {
        PrintError(OneLine(text));
        return false;
    }

    static QString OneLine(const QString& text) {
        return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
    }
};
